// Key input: turns key messages into press-state changes, repaints just the
// pixels that change, and starts the note on a press.
#include "input.h"
#include "keys.h"
#include "../sound/sound.h"

// Tab and the letter row play the white keys; the number row above them
// plays the black keys, skipping 3, 7 and 0 where a piano has no black key.
const KeyBinding KeyMap[MappedKeyCount] = {
    { VK_TAB, 0, 0 },  { 'Q', 0, 1 },  { 'W', 0, 2 },  { 'E', 0, 3 },
    { 'R', 0, 4 },     { 'T', 0, 5 },  { 'Y', 0, 6 },  { 'U', 0, 7 },
    { 'I', 0, 8 },     { 'O', 0, 9 },  { 'P', 0, 10 },
    { VK_OEM_4, 0, 11 }, { VK_OEM_6, 0, 12 }, { VK_OEM_5, 0, 13 },
    { VK_DELETE, 0, 14 },
    { '1', 1, 0 }, { '2', 1, 1 }, { '4', 1, 2 }, { '5', 1, 3 }, { '6', 1, 4 },
    { '8', 1, 5 }, { '9', 1, 6 }, { VK_OEM_MINUS, 1, 7 }, { VK_OEM_PLUS, 1, 8 },
    { VK_BACK, 1, 9 },
};

// A pressed black key is drawn moved right and down into its shadow, so a
// press repaints that far beyond the key. A release also restores the inner
// part of the shadow, hence the wider margin; the shadow's outer pixels keep
// what the last paint that reached them drew.
static const int BlackPressMargin = BlackKeyPressShift;
static const int BlackReleaseMargin = 5;

const KeyBinding *FindKeyBinding(UINT virtualKey)
{
    for (int k = 0; k < MappedKeyCount; k++)
        if (KeyMap[k].virtualKey == virtualKey)
            return &KeyMap[k];
    return 0;
}

static PianoKey *BoundKey(const KeyBinding *binding)
{
    return binding->isBlack ? &BlackKeys[binding->index] : &WhiteKeys[binding->index];
}

static void InvalidateKey(HWND window, const KeyBinding *binding, int blackMargin)
{
    const PianoKey *key = BoundKey(binding);
    RECT rect = { key->left, key->top, key->right, key->bottom };

    if (binding->isBlack) {
        rect.left -= 1;
        rect.right += blackMargin;
        rect.bottom += blackMargin;
    } else if (HasBlackKeyAtLeft(binding->index)) {
        // What a white key's press changes (its shading band and lip) shows
        // only below the black key and its shadow; leave those untouched.
        rect.top += BlackKeyHeight + BlackKeyShadowDepth;
    }
    InvalidateRect(window, &rect, FALSE);
}

void PressKey(HWND window, UINT virtualKey)
{
    if (virtualKey == VK_ESCAPE) {
        PostQuitMessage(0);
        return;
    }
    const KeyBinding *binding = FindKeyBinding(virtualKey);
    if (!binding)
        return;

    // The keyboard's auto-repeat sends key-downs while a key is held: each
    // one restarts the note from its beginning, as a struck key would.
    PianoKey *key = BoundKey(binding);
    key->pressed = 1;
    InvalidateKey(window, binding, BlackPressMargin);
    PlayKeySound(key);
}

void ReleaseKey(HWND window, UINT virtualKey)
{
    const KeyBinding *binding = FindKeyBinding(virtualKey);
    if (!binding)
        return;

    BoundKey(binding)->pressed = 0;
    InvalidateKey(window, binding, BlackReleaseMargin);
}
