// Key input: which computer key plays which piano key, and what a key-down
// or key-up does to the press state and to a real window's update region.
#include <gtest/gtest.h>
#include <string.h>
#include "keyboard/input.h"
#include "keyboard/keys.h"

struct Mapping {
    UINT code;
    const char *name;
    int isBlack, index, soundNumber;
    int fullHeight;   // white keys with no black key over their upper left edge
};

static const Mapping Mappings[] = {
    { 9, "Tab", 0, 0, 40, 1 },     { 81, "Q", 0, 1, 42, 0 },     { 87, "W", 0, 2, 44, 0 },
    { 69, "E", 0, 3, 45, 1 },      { 82, "R", 0, 4, 47, 0 },     { 84, "T", 0, 5, 49, 0 },
    { 89, "Y", 0, 6, 51, 0 },      { 85, "U", 0, 7, 52, 1 },     { 73, "I", 0, 8, 54, 0 },
    { 79, "O", 0, 9, 56, 0 },      { 80, "P", 0, 10, 57, 1 },    { 219, "[", 0, 11, 59, 0 },
    { 221, "]", 0, 12, 61, 0 },    { 220, "\\", 0, 13, 63, 0 },  { 46, "Delete", 0, 14, 64, 1 },
    { 49, "1", 1, 0, 41, 0 },      { 50, "2", 1, 1, 43, 0 },     { 52, "4", 1, 2, 46, 0 },
    { 53, "5", 1, 3, 48, 0 },      { 54, "6", 1, 4, 50, 0 },     { 56, "8", 1, 5, 53, 0 },
    { 57, "9", 1, 6, 55, 0 },      { 189, "-", 1, 7, 58, 0 },    { 187, "=", 1, 8, 60, 0 },
    { 8, "Backspace", 1, 9, 62, 0 },
};

// Escape quits but is no piano key; 3, 7 and 0 fall where a piano has no black key.
static const UINT UnmappedCodes[] = {
    27, 51, 55, 48, 65, 90, 32, 13, 16, 17, 18, 37, 96, 97, 112, 186, 188, 190, 191, 192, 222, 0, 255,
};

static PianoKey *KeyOf(const Mapping &row)
{
    return row.isBlack ? &BlackKeys[row.index] : &WhiteKeys[row.index];
}

TEST(KeyMap, EveryMappedCodePlaysItsKey)
{
    LayoutKeyboard(1920, 1080);
    for (const Mapping &row : Mappings) {
        SCOPED_TRACE(row.name);
        const KeyBinding *binding = FindKeyBinding(row.code);
        ASSERT_TRUE(binding != 0) << "code " << row.code << " plays nothing";
        EXPECT_EQ(row.isBlack, binding->isBlack ? 1 : 0);
        EXPECT_EQ(row.index, binding->index);
        EXPECT_EQ(row.soundNumber, KeyOf(row)->soundNumber);
    }
}

TEST(KeyMap, OtherCodesPlayNothing)
{
    for (UINT code : UnmappedCodes)
        EXPECT_TRUE(FindKeyBinding(code) == 0) << "code " << code << " is bound";
}

static int ErasesSeen;   // WM_ERASEBKGND count: key repaints must not erase

// Wine may repaint the whole window, erased, when the X server's first
// exposure of it arrives, which can be in the middle of a test; a key's
// repaint covers only part of it.
static LRESULT CALLBACK CountErasesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) {
        RECT erased, client;
        GetClipBox((HDC)wParam, &erased);
        GetClientRect(window, &client);
        if (!EqualRect(&erased, &client))
            ErasesSeen++;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A shown window the size of the main window on a 1920 x 1080 screen: Wine
// keeps no update region for a hidden one.
static HWND KeyWindow(void)
{
    static HWND window;
    if (!window) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = CountErasesProc;
        windowClass.hInstance = GetModuleHandleA(0);
        windowClass.lpszClassName = "InputTestWindow";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "InputTestWindow", "", WS_POPUP, 0, 0, 1920, 1046, 0, 0,
                                 GetModuleHandleA(0), 0);
        ShowWindow(window, SW_SHOWNOACTIVATE);
    }
    UpdateWindow(window);
    ErasesSeen = 0;
    return window;
}

// The update region is exactly the rectangle expected, or empty.
static void ExpectUpdate(HWND window, const RECT *expected, const char *what)
{
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    int shape = GetUpdateRgn(window, region, FALSE);
    RECT box;
    GetRgnBox(region, &box);
    DeleteObject(region);
    if (!expected) {
        EXPECT_EQ(NULLREGION, shape) << what << ": something was invalidated";
        return;
    }
    EXPECT_EQ(SIMPLEREGION, shape) << what << ": not a single rectangle";
    EXPECT_TRUE(EqualRect(expected, &box))
        << what << ": expected (" << expected->left << "," << expected->top << ")-("
        << expected->right << "," << expected->bottom << ") got (" << box.left << ","
        << box.top << ")-(" << box.right << "," << box.bottom << ")";
}

// The code of a quit message posted to this thread, or -1 for none.
static int QuitCode(void)
{
    MSG message;
    return PeekMessageA(&message, 0, WM_QUIT, WM_QUIT, PM_REMOVE) ? (int)message.wParam : -1;
}

TEST(KeyInput, PressAndReleaseRepaintTheirKey)
{
    LayoutKeyboard(1920, 1080);
    HWND window = KeyWindow();
    for (const Mapping &row : Mappings) {
        SCOPED_TRACE(row.name);
        const PianoKey *key = KeyOf(row);
        RECT pressRect, releaseRect;
        if (row.isBlack) {
            SetRect(&pressRect, key->left - 1, key->top, key->right + 3, key->bottom + 3);
            SetRect(&releaseRect, key->left - 1, key->top, key->right + 5, key->bottom + 5);
        } else {
            SetRect(&pressRect, key->left, key->top + (row.fullHeight ? 0 : 278), key->right, key->bottom);
            releaseRect = pressRect;
        }
        const struct { const char *what; int press; const RECT *rect; } steps[] = {
            { "key-up with no key-down before it", 0, &releaseRect },
            { "key-down", 1, &pressRect },
            { "repeated key-down", 1, &pressRect },
            { "key-up", 0, &releaseRect },
        };
        for (const auto &step : steps) {
            if (step.press)
                PressKey(window, row.code);
            else
                ReleaseKey(window, row.code);
            EXPECT_EQ(step.press, key->pressed) << step.what;
            ExpectUpdate(window, step.rect, step.what);
            UpdateWindow(window);
            EXPECT_EQ(0, ErasesSeen) << step.what << ": the repaint erased the background";
            ErasesSeen = 0;
        }
        EXPECT_EQ(-1, QuitCode());
    }
}

// Some keys held, so that "changes nothing" has something to keep.
static PianoKey HeldWhite[WhiteKeyCount], HeldBlack[BlackKeyCount];

static void HoldSomeKeys(void)
{
    LayoutKeyboard(1920, 1080);
    WhiteKeys[2].pressed = BlackKeys[4].pressed = 1;
    memcpy(HeldWhite, WhiteKeys, sizeof WhiteKeys);
    memcpy(HeldBlack, BlackKeys, sizeof BlackKeys);
}

static int KeysUnchanged(void)
{
    return !memcmp(HeldWhite, WhiteKeys, sizeof WhiteKeys) && !memcmp(HeldBlack, BlackKeys, sizeof BlackKeys);
}

TEST(KeyInput, OtherCodesChangeNothing)
{
    HoldSomeKeys();
    HWND window = KeyWindow();
    for (UINT code : UnmappedCodes) {
        SCOPED_TRACE(testing::Message() << "code " << code);
        if (code != VK_ESCAPE)
            PressKey(window, code);
        ReleaseKey(window, code);   // Escape's key-up included
        EXPECT_TRUE(KeysUnchanged()) << "a key's state changed";
        ExpectUpdate(window, 0, "an unmapped code");
        EXPECT_EQ(-1, QuitCode());
    }
}

TEST(KeyInput, EscapeQuitsOnKeyDownAndDoesNothingElse)
{
    HoldSomeKeys();
    HWND window = KeyWindow();
    PressKey(window, VK_ESCAPE);
    EXPECT_EQ(0, QuitCode()) << "Escape's key-down: quit code 0 expected (-1: none posted)";
    EXPECT_TRUE(KeysUnchanged()) << "Escape changed a key's state";
    ExpectUpdate(window, 0, "Escape");
}
