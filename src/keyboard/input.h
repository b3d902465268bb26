// The computer keyboard as a piano: which key plays which piano key, and
// what a key-down or key-up does to the keys' press state and the screen.
#pragma once
#include <windows.h>
#include "keys.h"

// One mapped computer key: the piano key it plays, as (table, index).
struct KeyBinding {
    UINT virtualKey;
    int isBlack;
    int index;
};

enum { MappedKeyCount = WhiteKeyCount + BlackKeyCount };   // every piano key has one

extern const KeyBinding KeyMap[MappedKeyCount];

// The binding for a virtual-key code, or 0 for a code that plays nothing.
const KeyBinding *FindKeyBinding(UINT virtualKey);

// WM_KEYDOWN: presses the key, repaints it and plays its note; Escape quits.
void PressKey(HWND window, UINT virtualKey);

// WM_KEYUP: releases the key and repaints it; the note plays on.
void ReleaseKey(HWND window, UINT virtualKey);
