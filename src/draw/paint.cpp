// Keyboard painting. Keys are flat fills with a few lines that give depth:
// a white key's lip drops when it is pressed and its left edge is shaded; a
// black key has a grey inner outline and drop shadow, and when pressed is
// drawn moved right and down by the press shift, with no shadow of its own.
#include "paint.h"
#include "../shell/shell.h"

HDC PaintDC;

static const char TitleWord[] = "Morvane";
static const int RuleRise = 10;    // rule's row above the keyboard
// The title's cell ends this far above the rule; its top is TitleRise above
// the keyboard.
static const int TitleGap = 5;
static const int TitleRise = RuleRise + TitleGap + TitleHeight;

// A white key's front lip, a black line this far above the key's bottom,
// drops when the key goes down. It runs from just inside the left edge to
// short of the separator at the right edge.
static const int ReleasedLipRise = 20;
static const int PressedLipRise = 12;
static const int LipLeftInset = 1;
static const int LipRightInset = 4;
// A pressed white key's grey band down its left edge stops where the
// pressed lip's 2-pixel line begins.
static const int ShadeBandWidth = 8;
static const int ShadeBandEndRise = PressedLipRise + 1;

// A black key's grey outline, open at the top: two sides and a bottom line,
// inset from the key's edges. A 2-pixel line covers its coordinate and the
// one before it (as Wine draws it): the left side, drawn at L + 5, covers
// columns L + 4 and L + 5, and the right side, drawn at R - 6, columns R - 7
// and R - 6, a pixel further in than the left's mirror image (R - 6 and
// R - 5).
static const int OutlineSideInset = 5;
static const int OutlineBottomRise = 6;
static const int OutlineSideEndRise = 8;
// The white keys' separator column under a black key, which sits centred
// on their boundary: one pixel left of it, as at a white key's right edge.
static const int SeparatorUnderBlackKey = BlackKeyWidth / 2 - 1;

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
    int lipRise = key->pressed ? PressedLipRise : ReleasedLipRise;

    Fill(L, T, R, B, WHITE_BRUSH);

    HPEN previous = BeginPen(2, LineColour);
    Line(R - 1, T, R - 1, B - 1);
    Line(L + LipLeftInset, B - lipRise, R - LipRightInset, B - lipRise);
    EndPen(previous);

    if (key->pressed) {
        previous = BeginPen(1, ShadeColour);
        for (int i = 0; i < ShadeBandWidth; i++)
            Line(L + i, T, L + i, B - ShadeBandEndRise);
        EndPen(previous);
    }
}

// The black body and its grey outline, within the edges given.
static void DrawBlackKeyBody(int L, int T, int R, int B)
{
    Fill(L, T, R, B, BLACK_BRUSH);

    HPEN previous = BeginPen(2, ShadeColour);
    Line(L + OutlineSideInset, T, L + OutlineSideInset, B - OutlineSideEndRise);
    Line(R - OutlineSideInset - 1, T, R - OutlineSideInset - 1, B - OutlineSideEndRise);
    Line(L + OutlineSideInset, B - OutlineBottomRise, R - OutlineSideInset - 2,
         B - OutlineBottomRise);
    EndPen(previous);
}

// A drop shadow as deep as it is offset, down and to the right: vertical
// and horizontal lines together make a solid band with a square outer
// corner. The separator of the two white keys beneath runs on through it.
static void DrawBlackKeyShadow(int L, int T, int R, int B)
{
    HPEN previous = BeginPen(1, ShadeColour);
    for (int i = 0; i < BlackKeyShadowDepth; i++) {
        Line(R + i, T, R + i, B + i);
        Line(L + BlackKeyShadowDepth, B + i, R + i + 1, B + i);
    }
    EndPen(previous);

    previous = BeginPen(2, LineColour);
    Line(L + SeparatorUnderBlackKey, B, L + SeparatorUnderBlackKey, B + BlackKeyShadowDepth);
    EndPen(previous);
}

// A pressed black key is its released body moved down and right into its
// shadow, with no shadow of its own; its top stays on the key's top row.
void DrawBlackKey(const PianoKey *key)
{
    int L = key->left, T = key->top, R = key->right, B = key->bottom;
    if (key->pressed) {
        DrawBlackKeyBody(L + BlackKeyPressShift, T, R + BlackKeyPressShift,
                         B + BlackKeyPressShift);
        return;
    }
    DrawBlackKeyBody(L, T, R, B);
    DrawBlackKeyShadow(L, T, R, B);
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
