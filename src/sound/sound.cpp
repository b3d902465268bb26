// Note playback through the platform's simple sound player.
#include <windows.h>
#include <mmsystem.h>
#include <string.h>
#include <wchar.h>
#include "sound.h"
#include "wavecheck.h"

// Writes the full path as the player holds it: in the ANSI code page,
// within the player's limit. 0 where it does not fit, or where the code page
// lacks one of its letters and so writes a name that reads back as another
// file's, or none.
static int WritePlayerPath(const WCHAR *path, char *playerPath)
{
    WCHAR readBack[PlayerNameSize];
    return WideCharToMultiByte(CP_ACP, 0, path, -1, playerPath, PlayerNameSize, 0, 0) > 0 &&
           MultiByteToWideChar(CP_ACP, 0, playerPath, -1, readBack, PlayerNameSize) > 0 &&
           wcscmp(readBack, path) == 0;
}

void NameFileForPlayer(const char *fileName, char *playerName)
{
    strcpy_s(playerName, PlayerNameSize, fileName);
    // The platform's own search, asked in Unicode, finds the file that the
    // player's search will: beside the executable first, then in the
    // current folder.
    WCHAR wideName[MAX_PATH], path[MAX_PATH], shortPath[MAX_PATH];
    char playerPath[PlayerNameSize];
    if (!MultiByteToWideChar(CP_ACP, 0, fileName, -1, wideName, MAX_PATH))
        return;
    DWORD length = SearchPathW(0, wideName, 0, MAX_PATH, path, 0);
    if (length == 0 || length >= MAX_PATH || WritePlayerPath(path, playerPath))
        return;
    // The same file by its short name, in plain letters and briefer. A
    // volume without short names gives the long path back, and the player
    // keeps the relative name, which it cannot open either.
    length = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH && WritePlayerPath(shortPath, playerPath))
        strcpy_s(playerName, PlayerNameSize, playerPath);
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
