// The check of a key's sound file before the platform's player gets it.
#pragma once

// 1 if the file of this name, the very name the player is to be handed,
// could crash the player or hang it, so that the default sound must stand in
// for it; 0 for every other file, whether the player plays it or refuses it.
int CouldCrashOrHangPlayer(const char *fileName);
