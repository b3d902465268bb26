// The key tables and their placement on the screen.
#include "keys.h"

PianoKey WhiteKeys[WhiteKeyCount];
PianoKey BlackKeys[BlackKeyCount];
int KeyboardLeft;
int KeyboardTop;

static const int WhiteSoundNumbers[WhiteKeyCount] = {
    40, 42, 44, 45, 47, 49, 51, 52, 54, 56, 57, 59, 61, 63, 64
};

static const int BlackSoundNumbers[BlackKeyCount] = {
    41, 43, 46, 48, 50, 53, 55, 58, 60, 62
};

// Left edge of each black key from KeyboardLeft: each is centred on the
// boundary between two white keys; E-F and B-C carry none.
static const int BlackKeyOffsets[BlackKeyCount] = {
    50, 120, 260, 330, 400, 540, 610, 750, 820, 890
};

// Fall-backs for a screen too small to centre on; they differ on purpose,
// keeping room above the keyboard for the title and the labels.
static const int NarrowScreenLeft = 4;
static const int ShortScreenTop = 100;

static void SetKey(PianoKey *key, int left, int width, int height, int soundNumber)
{
    key->left = left;
    key->top = KeyboardTop;
    key->right = left + width;
    key->bottom = KeyboardTop + height;
    key->pressed = 0;
    key->soundNumber = soundNumber;
}

void LayoutKeyboard(int screenWidth, int screenHeight)
{
    // C++ division truncates toward zero, so a screen one pixel too small
    // still gives 0 rather than a fall-back.
    KeyboardLeft = (screenWidth - KeyboardWidth) / 2;
    if (KeyboardLeft < 0)
        KeyboardLeft = NarrowScreenLeft;

    // Centred on the window's outer height, which is the screen less the margin.
    KeyboardTop = (screenHeight - WindowHeightMargin - WhiteKeyHeight) / 2;
    if (KeyboardTop < 0)
        KeyboardTop = ShortScreenTop;

    for (int i = 0; i < WhiteKeyCount; i++)
        SetKey(&WhiteKeys[i], KeyboardLeft + WhiteKeyWidth * i, WhiteKeyWidth,
               WhiteKeyHeight, WhiteSoundNumbers[i]);

    for (int j = 0; j < BlackKeyCount; j++)
        SetKey(&BlackKeys[j], KeyboardLeft + BlackKeyOffsets[j], BlackKeyWidth,
               BlackKeyHeight, BlackSoundNumbers[j]);
}

int HasBlackKeyAtLeft(int whiteIndex)
{
    int edge = KeyboardLeft + WhiteKeyWidth * whiteIndex;
    for (int j = 0; j < BlackKeyCount; j++)
        if (KeyboardLeft + BlackKeyOffsets[j] < edge &&
            KeyboardLeft + BlackKeyOffsets[j] + BlackKeyWidth > edge)
            return 1;
    return 0;
}
