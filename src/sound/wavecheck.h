// The look at a key's sound file before the platform's player gets it.
#pragma once

// 1 if the file that the player would find for this name is one that it
// cannot play and that could crash or hang it, so that the default sound must
// stand in for it; 0 for every other file, missing or not.
int IsUnplayableSoundFile(const char *fileName);
