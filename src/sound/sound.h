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

// Finds the relative `fileName` beside the executable, then in the current
// folder, and writes the name to hand the player for that file: its full
// path, or where the player cannot hold that (letters the ANSI code page
// lacks, or too long), its short path. 0 where no file is found, or no name
// the player can hold reaches it.
int NameFileForPlayer(const char *fileName, char *playerName);
