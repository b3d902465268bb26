// Note playback through the platform's simple sound player.
#include <windows.h>
#include <mmsystem.h>
#include "sound.h"
#include "wavecheck.h"

void PlayKeySound(const PianoKey *key)
{
    // The name is relative, and the player searches for it as the platform
    // searches for a file to open: beside the executable first, then in the
    // current folder. SND_ASYNC alone returns at once and stops this
    // process's previous sound first, so each key-down cuts off the note
    // before it.
    char fileName[100];
    wsprintfA(fileName, "keys\\%d.wav", key->soundNumber);
    if (CouldCrashOrHangPlayer(fileName)) {
        // What the player does for a file it cannot use: the default sound.
        PlaySoundA("SystemDefault", 0, SND_ALIAS | SND_ASYNC);
        return;
    }
    PlaySoundA(fileName, 0, SND_ASYNC);
}
