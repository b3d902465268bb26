// Keyboard painting. Keys are flat fills with a few lines that give depth:
// a white key's lip drops when it is pressed and its left edge is shaded; a
// black key has a grey inner outline and drop shadow, and when pressed is
// drawn 3 pixels right and down with no shadow of its own.
#include "paint.h"
#include "../shell/shell.h"

HDC PaintDC;

static const char TitleWord[] = "Morvane";
static const int TitleRise = 60;   // title's top above the keyboard
static const int RuleRise = 10;    // rule's row above the keyboard

// Pens live for one drawing step: BeginPen selects a new one and returns the
// pen it replaced, EndPen puts that back before deleting ours.
static HPEN BeginPen(int width, COLORREF colour)
{
    return (HPEN)SelectObject(PaintDC, CreatePen(PS_SOLID, width, colour));
}

static void EndPen(HPEN previous)
{
    DeleteObject(SelectObject(PaintDC, previous));
}

static void Line(int x0, int y0, int x1, int y1)
{
    MoveToEx(PaintDC, x0, y0, 0);
    LineTo(PaintDC, x1, y1);
}

static void Fill(int left, int top, int right, int bottom, int stockBrush)
{
    RECT rect = { left, top, right, bottom };
    FillRect(PaintDC, &rect, (HBRUSH)GetStockObject(stockBrush));
}

void DrawWhiteKey(const PianoKey *key)
{
    int L = key->left, T = key->top, R = key->right, B = key->bottom;
    int lipRise = key->pressed ? 12 : 20;

    Fill(L, T, R, B, WHITE_BRUSH);

    HPEN previous = BeginPen(2, LineColour);
    Line(R - 1, T, R - 1, B - 1);
    Line(L + 1, B - lipRise, R - 4, B - lipRise);
    EndPen(previous);

    if (key->pressed) {
        previous = BeginPen(1, ShadeColour);
        for (int i = 0; i < 8; i++)
            Line(L + i, T, L + i, B - 13);
        EndPen(previous);
    }
}

static void DrawReleasedBlackKey(int L, int T, int R, int B)
{
    Fill(L, T, R, B, BLACK_BRUSH);

    HPEN previous = BeginPen(2, ShadeColour);
    Line(L + 5, T, L + 5, B - 8);
    Line(R - 6, T, R - 6, B - 8);
    Line(L + 5, B - 6, R - 7, B - 6);
    EndPen(previous);

    // Vertical and horizontal lines together make a solid band with a
    // square outer corner.
    previous = BeginPen(1, ShadeColour);
    for (int i = 0; i < BlackKeyShadowDepth; i++) {
        Line(R + i, T, R + i, B + i);
        Line(L + 8, B + i, R + i + 1, B + i);
    }
    EndPen(previous);

    // The separator of the two white keys beneath runs on through the shadow.
    previous = BeginPen(2, LineColour);
    Line(L + 19, B, L + 19, B + 8);
    EndPen(previous);
}

static void DrawPressedBlackKey(int L, int T, int R, int B)
{
    Fill(L + 3, T, R + 3, B + 3, BLACK_BRUSH);

    HPEN previous = BeginPen(2, ShadeColour);
    Line(L + 8, T, L + 8, B - 5);
    Line(R - 3, T, R - 3, B - 5);
    Line(L + 8, B - 3, R - 4, B - 3);
    EndPen(previous);
}

void DrawBlackKey(const PianoKey *key)
{
    if (key->pressed)
        DrawPressedBlackKey(key->left, key->top, key->right, key->bottom);
    else
        DrawReleasedBlackKey(key->left, key->top, key->right, key->bottom);
}

static void DrawTitleAndRule(void)
{
    SetBkMode(PaintDC, TRANSPARENT);
    // The title font stays selected until EndPaint releases the DC.
    SelectObject(PaintDC, TitleFont);
    SetTextColor(PaintDC, TitleColour);
    TextOutA(PaintDC, KeyboardLeft, KeyboardTop - TitleRise, TitleWord, sizeof TitleWord - 1);

    HPEN previous = BeginPen(1, RuleColour);
    Line(KeyboardLeft, KeyboardTop - RuleRise, KeyboardLeft + KeyboardWidth, KeyboardTop - RuleRise);
    EndPen(previous);
}

void PaintKeyboard(HWND window)
{
    PAINTSTRUCT paint;
    PaintDC = BeginPaint(window, &paint);

    DrawTitleAndRule();
    for (int i = 0; i < WhiteKeyCount; i++)
        DrawWhiteKey(&WhiteKeys[i]);
    // Black keys last, so they cover the white keys they overlap.
    for (int j = 0; j < BlackKeyCount; j++)
        DrawBlackKey(&BlackKeys[j]);

    EndPaint(window, &paint);
}
