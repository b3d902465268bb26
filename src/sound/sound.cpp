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

void NameFileForPlayer(const char *fileName, char *playerName)
{
    strcpy_s(playerName, PlayerNameSize, fileName);
    // SearchPath, asked in Unicode, looks beside the executable first and
    // then in the current folder, as Wine's player was seen to.
    WCHAR wideName[MAX_PATH], path[MAX_PATH], shortPath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, fileName, -1, wideName, MAX_PATH))
        return;
    DWORD length = SearchPathW(0, wideName, 0, MAX_PATH, path, 0);
    if (length == 0 || length >= MAX_PATH || PlayerCanHoldPath(path))
        return;
    // The same file by its short name, in plain letters and briefer. A
    // volume without short names gives the long path back, and the player
    // keeps the relative name, which it cannot open either.
    length = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH && PlayerCanHoldPath(shortPath))
        WideCharToMultiByte(CP_ACP, 0, shortPath, -1, playerName, PlayerNameSize, 0, 0);
}

void PlayKeySound(const PianoKey *key)
{
    // SND_ASYNC alone stops this process's previous sound first, so each
    // key-down cuts off the note before it, and returns with the new note
    // playing in the background. Wine returns only once the previous note
    // has stopped.
    char fileName[100], playerName[PlayerNameSize];
    wsprintfA(fileName, "keys\\%d.wav", key->soundNumber);
    NameFileForPlayer(fileName, playerName);
    if (CouldCrashOrHangPlayer(playerName)) {
        // What the player does for a file it cannot use: the default sound.
        PlaySoundA("SystemDefault", 0, SND_ALIAS | SND_ASYNC);
        return;
    }
    PlaySoundA(playerName, 0, SND_ASYNC);
}
