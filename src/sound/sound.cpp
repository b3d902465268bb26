// Note playback through the platform's simple sound player.
#include <windows.h>
#include <mmsystem.h>
#include <string.h>
#include "sound.h"

enum { HeaderBytes = 512 };

static DWORD ReadLittleEndian(const unsigned char *bytes, int count)
{
    DWORD value = 0;
    for (int i = count - 1; i >= 0; i--)
        value = (value << 8) | bytes[i];
    return value;
}

// Some players (Wine's among them) divide by the header's block align or
// byte rate without checking them, and a file with either set to 0 takes the
// whole process down. Their chunk walk trusts the sizes too: a chunk before
// the format that runs past the end of the file can wrap the player's 32-bit
// offset back onto itself, and the player's thread loops for ever, taking the
// window with it at the next key-down, which waits for that thread. Neither
// file can be played anyway; every other file, missing or not, is left for
// the player to judge.
static int HasUnplayableHeader(const char *fileName)
{
    // The player searches for a relative name as OpenFile does (beside the
    // executable first, then the current directory); look at the same file.
    // A path too long for the buffer comes back as the size it needs, with
    // nothing written into the buffer.
    char path[MAX_PATH];
    DWORD pathLength = SearchPathA(0, fileName, 0, sizeof path, path, 0);
    if (pathLength == 0 || pathLength >= sizeof path)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    unsigned char header[HeaderBytes];
    DWORD length = 0;
    ReadFile(file, header, sizeof header, &length, 0);
    LARGE_INTEGER fileSize = {};
    GetFileSizeEx(file, &fileSize);
    CloseHandle(file);

    if (length < 12 || memcmp(header, "RIFF", 4) != 0 || memcmp(header + 8, "WAVE", 4) != 0)
        return 0;
    DWORD offset = 12;
    while (offset + 8 <= length) {
        DWORD size = ReadLittleEndian(header + offset + 4, 4);
        if (memcmp(header + offset, "fmt ", 4) == 0) {
            if (size < 14 || offset + 8 + 14 > length)
                return 0;
            const unsigned char *format = header + offset + 8;
            DWORD byteRate = ReadLittleEndian(format + 8, 4);
            DWORD blockAlign = ReadLittleEndian(format + 12, 2);
            return byteRate == 0 || blockAlign == 0;
        }
        // A chunk that ends past the bytes read is judged by the file's real
        // size, so that a large chunk the file does hold leaves the file to
        // the player. Stopping the walk there also keeps the offset from
        // wrapping.
        if (size > length - offset - 8)
            return offset + 8 + (LONGLONG)size > fileSize.QuadPart;
        offset += 8 + size + (size & 1);
    }
    return 0;
}

void PlayKeySound(const PianoKey *key)
{
    // The name is relative: the keys folder is looked up from the current
    // directory. SND_ASYNC alone returns at once and stops this process's
    // previous sound first, so each key-down cuts off the note before it.
    char fileName[100];
    wsprintfA(fileName, "keys\\%d.wav", key->soundNumber);
    if (HasUnplayableHeader(fileName)) {
        // What the player does for a file it cannot use: the default sound.
        PlaySoundA("SystemDefault", 0, SND_ALIAS | SND_ASYNC);
        return;
    }
    PlaySoundA(fileName, 0, SND_ASYNC);
}
