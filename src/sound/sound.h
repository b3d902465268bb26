// Note playback: each key sounds by playing its own WAV file.
#pragma once
#include "../keyboard/keys.h"

// Starts the key's note in the background, cutting off any note still sounding.
void PlayKeySound(const PianoKey *key);
