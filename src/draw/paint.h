// The paint pass: the title word, the rule and every key in its current state.
#pragma once
#include <windows.h>
#include "../keyboard/keys.h"

// The device context being painted into. The key drawers take it from here,
// so a test can point it at a memory bitmap and check the pixels.
extern HDC PaintDC;

enum {
    TitleColour = 0xC7A98F,
    RuleColour = 0xFFFFFF,
    LineColour = 0x000000,    // white keys' separators and lips
    ShadeColour = 0x999999    // pressed white key's band, black key outline and shadow
};

// WM_PAINT: draws everything; the platform clips it to the update region.
void PaintKeyboard(HWND window);

void DrawWhiteKey(const PianoKey *key);
void DrawBlackKey(const PianoKey *key);
