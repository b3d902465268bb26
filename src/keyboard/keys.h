// The piano's keys: the record of one key, the two key tables and the
// keyboard's place on the screen. Filled once at start-up by LayoutKeyboard;
// afterwards only the pressed flags change.
#pragma once

// One key's rectangle (right and bottom exclusive, as in RECT), its press
// state and its number on an 88-key piano, which also names its sound file.
struct PianoKey {
    int left;
    int top;
    int right;
    int bottom;
    int pressed;      // 1 while held down
    int soundNumber;  // 40 = middle C, 49 = A4
};

enum {
    WhiteKeyCount = 15,
    BlackKeyCount = 10,
    WhiteKeyWidth = 70,
    WhiteKeyHeight = 420,
    KeyboardWidth = WhiteKeyCount * WhiteKeyWidth,
    BlackKeyWidth = 40,
    BlackKeyHeight = 270,
    BlackKeyShadowDepth = 8,    // the grey drop shadow below and right of a black key
    BlackKeyPressShift = 3,     // a pressed black key moves this far down and right
    WindowHeightMargin = 34     // the window is this much less high than the screen;
                                // the keyboard is centred on what is left
};

extern PianoKey WhiteKeys[WhiteKeyCount];   // C4 (index 0) to C6 (index 14)
extern PianoKey BlackKeys[BlackKeyCount];   // C#4 (index 0) to A#5 (index 9)
extern int KeyboardLeft;                    // top-left corner of the keyboard,
extern int KeyboardTop;                     // in client pixels

// Places the keyboard centred for a screen of the given size and resets
// every key to released.
void LayoutKeyboard(int screenWidth, int screenHeight);

// True for the white keys whose upper left edge lies under a black key.
int HasBlackKeyAtLeft(int whiteIndex);
