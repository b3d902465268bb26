// The name a key's file is handed to the player by, from folders made under
// the temporary folder: the full path of the file found, beside the
// executable first, within the player's limit; none where no such name exists.
#include <gtest/gtest.h>
#include <string>
#include "sound/sound.h"

static const struct {
    const char *name;
    const wchar_t *folder;   // made this many times, one inside the other
    int depth;
    int holdsFile;           // the innermost folder's keys\40.wav exists
    int besideExecutable;    // another keys\40.wav stands beside this test
    int named;               // a name reaches the file the player must get
} Places[] = {
    { "a short path in plain letters", L"piano", 1, 1, 0, 1 },
    { "a path of over 128 characters", L"a folder with a long name", 6, 1, 0, 1 },
    { "a folder that code page 1252 cannot name", L"\x041f\x0438\x0430\x043d\x043e \x94a2\x7434",
      1, 1, 0, 1 },
    { "a file in the current folder and another beside the executable", L"piano", 1, 1, 1, 1 },
    { "a path of over 128 characters in short names", L"FOLDER12", 12, 1, 0, 0 },
    { "a keys folder without the file", L"piano", 1, 0, 0, 0 },
};

// A volume's serial number and a file's index name one file, whatever the
// path it was opened by.
static int SameFile(HANDLE one, HANDLE other)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return GetFileInformationByHandle(one, &a) && GetFileInformationByHandle(other, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Makes `folder`keys\40.wav, deleted when its handle closes.
static HANDLE MakeKeyFile(const std::wstring &folder)
{
    CreateDirectoryW((folder + L"keys").c_str(), 0);
    return CreateFileW((folder + L"keys\\40.wav").c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ, 0, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, 0);
}

TEST(PlayerName, IsTheFullPathOfTheFileFoundWithinThePlayersLimit)
{
    wchar_t temp[MAX_PATH], executable[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    ASSERT_GT(GetModuleFileNameW(0, executable, MAX_PATH), 0u);
    *wcsrchr(executable, L'\\') = 0;
    const std::wstring executableFolder = std::wstring(executable) + L"\\";
    for (const auto &place : Places) {
        SCOPED_TRACE(place.name);
        std::wstring folders[16] = { temp };
        for (int level = 1; level <= place.depth; level++) {
            folders[level] = folders[level - 1] + place.folder + L"\\";
            CreateDirectoryW(folders[level].c_str(), 0);
        }
        const std::wstring &current = folders[place.depth];
        HANDLE made = place.holdsFile ? MakeKeyFile(current) : INVALID_HANDLE_VALUE;
        HANDLE beside = place.besideExecutable ? MakeKeyFile(executableFolder)
                                               : INVALID_HANDLE_VALUE;
        ASSERT_TRUE(SetCurrentDirectoryW(current.c_str()));

        char name[PlayerNameSize], path[MAX_PATH];
        ASSERT_EQ(place.named, NameFileForPlayer("keys\\40.wav", name));
        if (place.named) {
            // The player holds and opens the very name, a full path, as the
            // code page writes it.
            DWORD length = GetFullPathNameA(name, MAX_PATH, path, 0);
            EXPECT_STREQ(path, name) << "not a full path";
            HANDLE opened = CreateFileA(name, FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        0, OPEN_EXISTING, 0, 0);
            EXPECT_TRUE(length < 128 &&
                        SameFile(opened, place.besideExecutable ? beside : made)) << name;
            CloseHandle(opened);
        }
        CloseHandle(made);
        CloseHandle(beside);

        SetCurrentDirectoryW(temp);
        if (place.besideExecutable)
            RemoveDirectoryW((executableFolder + L"keys").c_str());
        RemoveDirectoryW((current + L"keys").c_str());
        for (int level = place.depth; level > 0; level--)
            RemoveDirectoryW(folders[level].c_str());
    }
}
