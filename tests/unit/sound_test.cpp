// The name a key's file is handed to the player by, from folders made under
// the temporary folder: the relative name where the player can open the file
// by it, and elsewhere a name within the player's limit for the same file.
#include <gtest/gtest.h>
#include <string>
#include "sound/sound.h"

static const struct {
    const char *name;
    const wchar_t *folder;   // made this many times, one inside the other
    int depth;
    int keepsName;
} Places[] = {
    { "a short path in plain letters", L"piano", 1, 1 },
    { "a path of over 128 characters", L"a folder with a long name", 6, 0 },
    { "a folder that code page 1252 cannot name", L"\x041f\x0438\x0430\x043d\x043e \x94a2\x7434",
      1, 0 },
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

TEST(PlayerName, ReachesTheKeysFileWhereverItsFolderIs)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    for (const auto &place : Places) {
        SCOPED_TRACE(place.name);
        std::wstring folders[8] = { temp };
        for (int level = 1; level <= place.depth + 1; level++) {
            const wchar_t *name = level > place.depth ? L"keys" : place.folder;
            folders[level] = folders[level - 1] + name + L"\\";
            CreateDirectoryW(folders[level].c_str(), 0);
        }
        HANDLE made = CreateFileW((folders[place.depth + 1] + L"40.wav").c_str(),
                                  GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE, 0);
        ASSERT_TRUE(SetCurrentDirectoryW(folders[place.depth].c_str()));

        char name[PlayerNameSize], path[MAX_PATH];
        NameFileForPlayer("keys\\40.wav", name);
        // The player holds and opens the full path, as the code page writes it.
        DWORD length = GetFullPathNameA(name, MAX_PATH, path, 0);
        HANDLE opened = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                                    OPEN_EXISTING, 0, 0);
        if (place.keepsName)
            EXPECT_STREQ("keys\\40.wav", name);
        else
            EXPECT_TRUE(length < 128 && SameFile(opened, made)) << path;
        CloseHandle(opened);
        CloseHandle(made);

        SetCurrentDirectoryW(temp);
        for (int level = place.depth + 1; level > 0; level--)
            RemoveDirectoryW(folders[level].c_str());
    }
}
