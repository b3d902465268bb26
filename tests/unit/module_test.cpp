// The shipped executable as Windows sees it before running a line of it:
// its PE flags and imports, and its resources (version record, icon and
// manifest), read from the real MorvanePiano.exe named on the command line.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <windows.h>
#include "product.h"

static std::string ExePath;
static unsigned char Image[4 << 20];
static DWORD ImageSize;

// ctest under Wine hands over a Unix path; Wine shows the Unix root as Z:.
static std::string WindowsPath(const char *path)
{
    return path[0] == '/' ? std::string("Z:") + path : std::string(path);
}

static const IMAGE_NT_HEADERS32 *Headers(void)
{
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)Image;
    return (const IMAGE_NT_HEADERS32 *)(Image + dos->e_lfanew);
}

static const unsigned char *AtRva(DWORD rva)
{
    const IMAGE_NT_HEADERS32 *nt = Headers();
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; i++, section++)
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData)
            return Image + section->PointerToRawData + (rva - section->VirtualAddress);
    return 0;
}

TEST(Executable, IsA32BitGuiProgramWithDepAndAslr)
{
    const IMAGE_NT_HEADERS32 *nt = Headers();
    ASSERT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt->OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
    WORD flags = nt->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    // Without relocations the loader cannot move it, whatever the flag says.
    EXPECT_NE(0u, nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size);
    EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
}

TEST(Executable, ImportsOnlyWindowsOwnDlls)
{
    static const char *const Allowed[] = {
        "kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "shell32.dll", "msvcrt.dll"
    };
    DWORD rva = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    const IMAGE_IMPORT_DESCRIPTOR *import = (const IMAGE_IMPORT_DESCRIPTOR *)AtRva(rva);
    ASSERT_TRUE(import != 0);
    int count = 0;
    for (; import->Name; import++, count++) {
        const char *name = (const char *)AtRva(import->Name);
        int known = 0;
        for (const char *allowed : Allowed)
            known |= lstrcmpiA(name, allowed) == 0;
        EXPECT_TRUE(known) << "imports " << name;
    }
    EXPECT_GT(count, 0);
}

class Resources : public testing::Test {
protected:
    static void SetUpTestSuite() { module = LoadLibraryExA(ExePath.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE); }
    static void TearDownTestSuite() { FreeLibrary(module); }

    static const char *Find(const char *name, const char *type, DWORD *size)
    {
        HRSRC resource = FindResourceA(module, name, type);
        if (!resource)
            return 0;
        *size = SizeofResource(module, resource);
        return (const char *)LockResource(LoadResource(module, resource));
    }
    static HMODULE module;
};
HMODULE Resources::module;

// The version as the build wrote it for the program: a bump is one edit.
TEST_F(Resources, VersionRecordNamesTheProductAtItsVersion)
{
    DWORD ignored, size = GetFileVersionInfoSizeA(ExePath.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    static char info[8192];
    ASSERT_TRUE(GetFileVersionInfoA(ExePath.c_str(), 0, sizeof info, info));

    VS_FIXEDFILEINFO *fixed;
    UINT length;
    ASSERT_TRUE(VerQueryValueA(info, "\\", (void **)&fixed, &length));
    EXPECT_EQ(MAKELONG(VERSION_MINOR, VERSION_MAJOR), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(VERSION_TWEAK, VERSION_PATCH), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ((DWORD)VFT_APP, fixed->dwFileType);

    static const struct { const char *field, *expected; } Strings[] = {
        { "ProductName", "Morvane Piano" },
        { "FileDescription", "Morvane Piano" },
        { "FileVersion", VERSION_STRING },
        { "ProductVersion", VERSION_STRING },
        { "OriginalFilename", "MorvanePiano.exe" },
    };
    for (const auto &row : Strings) {
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + row.field;
        char *value = 0;
        ASSERT_TRUE(VerQueryValueA(info, query.c_str(), (void **)&value, &length)) << row.field;
        EXPECT_STREQ(row.expected, value) << row.field;
    }
}

TEST_F(Resources, IconGroupHoldsOne32By32SixteenColourImage)
{
    DWORD size = 0;
    const char *group = Find("APPICON", MAKEINTRESOURCEA(14), &size);
    ASSERT_TRUE(group != 0);
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries.
    const WORD *directory = (const WORD *)group;
    ASSERT_EQ(1, directory[2]);
    const BYTE *entry = (const BYTE *)group + 6;
    EXPECT_EQ(32, entry[0]);
    EXPECT_EQ(32, entry[1]);
    EXPECT_EQ(16, entry[2]);
    EXPECT_EQ(4, *(const WORD *)(entry + 6));

    // The image itself: a DIB twice as high as the icon (colours, then mask).
    WORD id = *(const WORD *)(entry + 12);
    const BITMAPINFOHEADER *image =
        (const BITMAPINFOHEADER *)Find(MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3), &size);
    ASSERT_TRUE(image != 0);
    EXPECT_EQ(32, image->biWidth);
    EXPECT_EQ(64, image->biHeight);
    EXPECT_EQ(4, image->biBitCount);
}

TEST_F(Resources, ManifestAsksForAsInvokerAndNothingElse)
{
    DWORD size = 0;
    const char *text = Find(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), &size);
    ASSERT_TRUE(text != 0);
    std::string manifest(text, size);
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));

    // Every element, in order: anything more (DPI awareness, compatibility,
    // dependencies) would change how Windows treats the program.
    std::string elements;
    for (size_t at = manifest.find('<'); at != std::string::npos; at = manifest.find('<', at + 1)) {
        if (manifest[at + 1] == '/' || manifest[at + 1] == '?')
            continue;
        size_t end = manifest.find_first_of(" />", at + 1);
        elements += manifest.substr(at + 1, end - at - 1) + " ";
    }
    EXPECT_EQ("assembly trustInfo security requestedPrivileges requestedExecutionLevel ", elements);
}

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: module_test PATH-TO-MorvanePiano.exe\n");
        return 2;
    }
    ExePath = WindowsPath(argv[1]);
    HANDLE file = CreateFileA(ExePath.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, Image, sizeof Image, &ImageSize, 0)) {
        fprintf(stderr, "cannot read %s\n", ExePath.c_str());
        return 2;
    }
    CloseHandle(file);
    return RUN_ALL_TESTS();
}
