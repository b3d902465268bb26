// Note playback: each key sounds by playing its own WAV file.
#pragma once
#include <windows.h>
#include "../keyboard/keys.h"

// Under Wine the player was seen to open the file it finds through OpenFile,
// by its full path in the ANSI code page; Microsoft documents OpenFile's
// record as holding that path, terminator included, in this many characters.
enum { PlayerNameSize = OFS_MAXPATHNAME };

// Starts the key's note in the background, cutting off any note still sounding.
void PlayKeySound(const PianoKey *key);

// The name to hand the player for the relative `fileName`: `fileName` itself
// where the player can open the file it finds by it, which is everywhere but
// in a folder whose path the ANSI code page cannot write or the player cannot
// hold; there, the short path of the same file where it has one.
void NameFileForPlayer(const char *fileName, char *playerName);
