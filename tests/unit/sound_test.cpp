// The name a key's file is handed to the player by, from folders made for
// the purpose under the temporary folder: the relative name where the player
// can open the file by it, and elsewhere a name within the player's limit
// that reaches the same file.
#include <gtest/gtest.h>
#include <string>
#include "sound/sound.h"

static const char KeyFile[] = "keys\\40.wav";

struct Place {
    const char *name;
    const wchar_t *folder;   // made this many times, one inside the other
    int depth;
    int keepsName;
};

static const Place Places[] = {
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
    for (const Place &place : Places) {
        SCOPED_TRACE(place.name);
        std::wstring folders[8] = { std::wstring(temp) + L"sound_test" };
        for (int level = 1; level <= place.depth; level++)
            folders[level] = folders[level - 1] + L"\\" + place.folder;
        std::wstring keys = folders[place.depth] + L"\\keys", file = keys + L"\\40.wav";
        for (int level = 0; level <= place.depth; level++)
            CreateDirectoryW(folders[level].c_str(), 0);
        CreateDirectoryW(keys.c_str(), 0);
        HANDLE made = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0,
                                  CREATE_ALWAYS, 0, 0);
        ASSERT_NE(INVALID_HANDLE_VALUE, made);
        ASSERT_TRUE(SetCurrentDirectoryW(folders[place.depth].c_str()));

        char name[PlayerNameSize];
        NameFileForPlayer(KeyFile, name);
        if (place.keepsName) {
            EXPECT_STREQ(KeyFile, name);
        } else {
            // The player holds and opens the full path, as the code page writes it.
            char path[MAX_PATH];
            EXPECT_LT(GetFullPathNameA(name, MAX_PATH, path, 0), 128u) << path;
            HANDLE opened = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                        OPEN_EXISTING, 0, 0);
            EXPECT_TRUE(opened != INVALID_HANDLE_VALUE && SameFile(opened, made)) << path;
            CloseHandle(opened);
        }

        CloseHandle(made);
        SetCurrentDirectoryW(temp);
        DeleteFileW(file.c_str());
        RemoveDirectoryW(keys.c_str());
        for (int level = place.depth; level >= 0; level--)
            RemoveDirectoryW(folders[level].c_str());
    }
}
