// The paint pass: the title word, the rule and every key in its current state.
#pragma once
#include <windows.h>
#include "../keyboard/keys.h"

// The device context being painted into. The key drawers take it from here,
// so a test can point it at a memory bitmap and check the pixels.
extern HDC PaintDC;

enum {
    TitleColour = RGB(0x8F, 0xA9, 0xC7),   // a light greyish blue
    RuleColour = RGB(0xFF, 0xFF, 0xFF),
    LineColour = RGB(0x00, 0x00, 0x00),    // white keys' separators and lips
    ShadeColour = RGB(0x99, 0x99, 0x99)    // pressed white key's band, black key outline and shadow
};

// The title word's height in pixels, its font's cell; the paint pass places
// the title above the rule by it.
enum { TitleHeight = 45 };

// WM_PAINT: draws everything; the platform clips it to the update region.
void PaintKeyboard(HWND window);

void DrawWhiteKey(const PianoKey *key);
void DrawBlackKey(const PianoKey *key);
