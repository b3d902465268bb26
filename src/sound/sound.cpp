// Note playback through the platform's simple sound player.
#include <windows.h>
#include <mmsystem.h>
#include <string.h>
#include <wchar.h>
#include "sound.h"
#include "wavecheck.h"

// Whether the player can open a file by this full path: written in the
// ANSI code page, it fits the player's record and reads back as itself. A
// letter that the code page lacks comes out as '?' or a look-alike, which
// names another file or none.
static int PlayerCanHoldPath(const WCHAR *path)
{
    char ansiPath[PlayerNameSize];
    WCHAR readBack[PlayerNameSize];
    return WideCharToMultiByte(CP_ACP, 0, path, -1, ansiPath, PlayerNameSize, 0, 0) > 0 &&
           MultiByteToWideChar(CP_ACP, 0, ansiPath, -1, readBack, PlayerNameSize) > 0 &&
           wcscmp(readBack, path) == 0;
}

static int IsFile(const WCHAR *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Writes into `path` the executable's own folder followed by `name`.
static int PathBesideExecutable(const WCHAR *name, WCHAR *path)
{
    DWORD length = GetModuleFileNameW(0, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    WCHAR *folderEnd = wcsrchr(path, L'\\');
    size_t nameLength = wcslen(name);
    if (!folderEnd || folderEnd + 1 + nameLength >= path + MAX_PATH)
        return 0;
    memcpy(folderEnd + 1, name, (nameLength + 1) * sizeof *name);
    return 1;
}

// Finds the relative `name` beside the executable first, then in the current
// folder, and leaves the file's full path in `path`. Searching here, once,
// keeps the player from searching on its own: Wine's player looks where this
// does, but Microsoft documents PlaySound as looking in the current folder,
// the Windows folders and PATH, and never beside the executable.
static int FindFile(const WCHAR *name, WCHAR *path)
{
    if (PathBesideExecutable(name, path) && IsFile(path))
        return 1;
    DWORD length = GetFullPathNameW(name, MAX_PATH, path, 0);
    return length > 0 && length < MAX_PATH && IsFile(path);
}

int NameFileForPlayer(const char *fileName, char *playerName)
{
    WCHAR wideName[MAX_PATH], path[MAX_PATH], shortPath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, fileName, -1, wideName, MAX_PATH) ||
        !FindFile(wideName, path))
        return 0;
    const WCHAR *held = path;
    if (!PlayerCanHoldPath(path)) {
        // The same file by its short name, in plain letters and briefer. A
        // volume without short names gives the long path back.
        DWORD length = GetShortPathNameW(path, shortPath, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !PlayerCanHoldPath(shortPath))
            return 0;
        held = shortPath;
    }
    return WideCharToMultiByte(CP_ACP, 0, held, -1, playerName, PlayerNameSize, 0, 0) > 0;
}

void PlayKeySound(const PianoKey *key)
{
    // SND_ASYNC alone stops this process's previous sound first, so each
    // key-down cuts off the note before it, and returns with the new note
    // playing in the background. Wine returns only once the previous note
    // has stopped.
    char fileName[100], playerName[PlayerNameSize];
    wsprintfA(fileName, "keys\\%d.wav", key->soundNumber);
    if (!NameFileForPlayer(fileName, playerName) || CouldCrashOrHangPlayer(playerName)) {
        // What the player does for a file it cannot find or use: the default sound.
        PlaySoundA("SystemDefault", 0, SND_ALIAS | SND_ASYNC);
        return;
    }
    PlaySoundA(playerName, 0, SND_ASYNC);
}
