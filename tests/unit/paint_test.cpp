// The key drawers, pixel by pixel, in a memory bitmap pre-filled with a colour
// no drawer uses, so that any pixel a drawer must leave alone shows it did.
#include <gtest/gtest.h>
#include "bitmap.h"
#include "draw/paint.h"
#include "shell/shell.h"

static const COLORREF Background = 0x123456, White = 0xFFFFFF, Black = 0, Grey = 0x999999;

// Every pixel of x0..x1, y0..y1 (inclusive) is the colour, or for NotColour
// none is. A WideLine is a 2-pixel pen's line on row y0 (or column x0): the
// coordinates bind, but to which side the width falls is the platform's
// matter, so it must cover what a probe line of that pen covers, and the
// rows (columns) flanking that must not be its colour.
enum { IsColour, NotColour, WideLine };
struct Area {
    const char *what;
    int x0, y0, x1, y1;
    COLORREF colour;
    int sense;
};

static int WideBefore = -1, WideAfter;   // a 2-pixel line on row y covers y - WideBefore .. y + WideAfter

static void MeasureWidePen(void)
{
    TestBitmap probe;
    CreateTestBitmap(&probe, 20, 20, White);
    HGDIOBJ previous = SelectObject(probe.dc, CreatePen(PS_SOLID, 2, Black));
    MoveToEx(probe.dc, 2, 10, 0);
    LineTo(probe.dc, 18, 10);
    DeleteObject(SelectObject(probe.dc, previous));
    for (WideBefore = 0; TestPixel(&probe, 10, 9 - WideBefore) == Black; WideBefore++)
        ;
    for (WideAfter = 0; TestPixel(&probe, 10, 11 + WideAfter) == Black; WideAfter++)
        ;
    DestroyTestBitmap(&probe);
}

static void CheckAreas(TestBitmap *bitmap, const char *image, const Area *areas, int count)
{
    if (WideBefore < 0)
        MeasureWidePen();
    for (const Area *area = areas; area < areas + count; area++) {
        int wide = area->sense == WideLine, horizontal = area->y0 == area->y1;
        int first = wide ? -WideBefore - 1 : 0, last = wide ? WideAfter + 1 : 0;
        for (int d = first; d <= last; d++) {
            int want = area->sense != NotColour && !(wide && (d == first || d == last));
            int dx = horizontal ? 0 : d, dy = horizontal ? d : 0;
            for (int y = area->y0 + dy; y <= area->y1 + dy; y++)
                for (int x = area->x0 + dx; x <= area->x1 + dx; x++) {
                    COLORREF got = TestPixel(bitmap, x, y);
                    if ((got == area->colour) == want)
                        continue;
                    ADD_FAILURE() << image << ", " << area->what << ": pixel (" << x << "," << y
                                  << ") expected " << (want ? "" : "anything but ") << std::hex
                                  << "0x" << area->colour << " got 0x" << got;
                    x = area->x1 + dx, y = area->y1 + dy;   // one report per strip
                }
        }
    }
}

// Draws the key over the background with a pen of the test's selected,
// checks that pen is selected again afterwards, then checks the areas.
template <int Count>
static void DrawAndCheck(const char *image, const PianoKey &key, int isBlack, const Area (&areas)[Count])
{
    TestBitmap bitmap;
    ASSERT_TRUE(CreateTestBitmap(&bitmap, 200, 480, Background));
    HPEN ownPen = CreatePen(PS_SOLID, 1, 0x0000FF);
    HGDIOBJ originalPen = SelectObject(bitmap.dc, ownPen);
    PaintDC = bitmap.dc;
    if (isBlack)
        DrawBlackKey(&key);
    else
        DrawWhiteKey(&key);
    EXPECT_EQ((HGDIOBJ)ownPen, GetCurrentObject(bitmap.dc, OBJ_PEN))
        << image << ": the pen selected before drawing is not selected after";
    CheckAreas(&bitmap, image, areas, Count);
    DeleteObject(SelectObject(bitmap.dc, originalPen));
    DestroyTestBitmap(&bitmap);
}

TEST(DrawWhiteKey, ReleasedAndPressed)
{
    const int L = 20, T = 20, R = 90, B = 440;
    const Area around[] = {
        { "separator on column R-1", R - 1, T, R - 1, B - 2, Black, WideLine },
        { "background left", L - 1, T - 1, L - 1, B, Background, IsColour },
        { "background above", L, T - 1, R - 3, T - 1, Background, IsColour },
        { "background below", L, B, R - 3, B, Background, IsColour },
        { "background right", R + 1, T - 1, R + 1, B, Background, IsColour },
    };
    const Area released[] = {
        { "body above the lip", L, T, R - 3, B - 23, White, IsColour },
        { "body below the lip, where a pressed lip would be", L, B - 17, R - 3, B - 1, White, IsColour },
        { "lip on row B-20", L + 2, B - 20, R - 6, B - 20, Black, WideLine },
    };
    const Area pressed[] = {
        { "shading band", L, T, L + 7, B - 14, Grey, IsColour },
        { "shading band stops before row B-13", L, B - 13, L + 7, B - 13, Grey, NotColour },
        { "body right of the band, where a released lip would be", L + 8, T, R - 3, B - 15, White, IsColour },
        { "body below the lip", L, B - 10, R - 3, B - 1, White, IsColour },
        { "lip on row B-12", L + 2, B - 12, R - 6, B - 12, Black, WideLine },
    };
    DrawAndCheck("released white key", PianoKey{ L, T, R, B, 0, 40 }, 0, around);
    DrawAndCheck("released white key", PianoKey{ L, T, R, B, 0, 40 }, 0, released);
    DrawAndCheck("pressed white key", PianoKey{ L, T, R, B, 1, 40 }, 0, around);
    DrawAndCheck("pressed white key", PianoKey{ L, T, R, B, 1, 40 }, 0, pressed);
}
TEST(DrawBlackKey, Released)
{
    const int L = 40, T = 20, R = 80, B = 290;
    const Area areas[] = {
        { "body left of the outline", L, T, L + 3, B - 1, Black, IsColour },
        { "body inside the outline", L + 7, T, R - 8, B - 9, Black, IsColour },
        { "body right of the outline", R - 4, T, R - 1, B - 1, Black, IsColour },
        { "body below the outline", L, B - 3, R - 1, B - 1, Black, IsColour },
        { "outline on column L+5, open at the top", L + 5, T, L + 5, B - 9, Grey, WideLine },
        { "outline on column R-6, open at the top", R - 6, T, R - 6, B - 9, Grey, WideLine },
        { "outline on row B-6", L + 7, B - 6, R - 9, B - 6, Grey, WideLine },
        { "shadow down the right, square corner", R, T, R + 7, B + 7, Grey, IsColour },
        { "shadow along the bottom, left of the stub", L + 8, B, L + 17, B + 7, Grey, IsColour },
        { "shadow along the bottom, right of the stub", L + 21, B, R - 1, B + 7, Grey, IsColour },
        { "separator stub on column L+19", L + 19, B, L + 19, B + 7, Black, WideLine },
        { "background left of the shadow", L, B, L + 7, B + 7, Background, IsColour },
        { "background right of the shadow", R + 8, T - 1, R + 8, B + 8, Background, IsColour },
        { "background below the shadow, left of the stub", L, B + 8, L + 17, B + 8, Background, IsColour },
        { "background below the shadow, right of the stub", L + 21, B + 8, R + 8, B + 8, Background, IsColour },
        { "background above the shadow", R, T - 1, R + 7, T - 1, Background, IsColour },
        { "background left", L - 1, T - 1, L - 1, B + 8, Background, IsColour },
    };
    DrawAndCheck("released black key", PianoKey{ L, T, R, B, 0, 41 }, 1, areas);
}

TEST(DrawBlackKey, Pressed)
{
    const int L = 40, T = 20, R = 80, B = 290;
    const Area areas[] = {
        { "strip L..L+2 left for the keys beneath", L, T, L + 2, B + 2, Background, IsColour },
        { "body left of the outline", L + 3, T, L + 6, B + 2, Black, IsColour },
        { "body inside the outline", L + 10, T, R - 5, B - 6, Black, IsColour },
        { "body right of the outline", R - 1, T, R + 2, B + 2, Black, IsColour },
        { "body below the outline", L + 3, B - 1, R + 2, B + 2, Black, IsColour },
        { "outline on column L+8", L + 8, T, L + 8, B - 6, Grey, WideLine },
        { "outline on column R-3", R - 3, T, R - 3, B - 6, Grey, WideLine },
        { "outline on row B-3", L + 10, B - 3, R - 6, B - 3, Grey, WideLine },
        { "no shadow at the right", R + 3, T, R + 8, B + 8, Background, IsColour },
        { "no shadow or stub below", L, B + 3, R + 8, B + 8, Background, IsColour },
        { "background above the strip", L, T - 1, L + 6, T - 1, Background, IsColour },
    };
    DrawAndCheck("pressed black key", PianoKey{ L, T, R, B, 1, 41 }, 1, areas);
}

// The platform's GDI object count is not available everywhere (Wine reports
// none), so draw often enough that one pen left undeleted per call would use
// up every GDI handle a process may hold (10,000 on Windows by default, about
// 65,000 under Wine). Keys far outside a tiny bitmap keep the calls cheap.
TEST(KeyDrawers, DeleteEveryPenTheyCreate)
{
    TestBitmap tiny;
    ASSERT_TRUE(CreateTestBitmap(&tiny, 4, 4, Background));
    PaintDC = tiny.dc;
    const PianoKey released = { 20, 20, 90, 440, 0, 40 }, pressed = { 20, 20, 90, 440, 1, 40 };
    for (int k = 0; k < 70000; k++) {
        DrawWhiteKey(&released);
        DrawWhiteKey(&pressed);
        DrawBlackKey(&released);
        DrawBlackKey(&pressed);
    }
    DestroyTestBitmap(&tiny);

    HPEN pen = CreatePen(PS_SOLID, 1, Grey);
    EXPECT_TRUE(pen != 0) << "no pen can be made any more: a key drawer leaves its pens behind";
    DeleteObject(pen);
    const Area band[] = { { "shading band", 20, 20, 27, 426, Grey, IsColour } };
    DrawAndCheck("pressed white key after many draws", pressed, 0, band);
}

// The whole paint pass through a real window: the title word and the rule
// above the keyboard's origin, the keys below it.
static LRESULT CALLBACK PaintOnlyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return DefWindowProcA(window, message, wParam, lParam);
    PaintKeyboard(window);
    return 0;
}

// The bounding box of the title-coloured pixels in a DC, from (x, y) on.
static RECT InkBox(HDC dc, int x0, int y0, int width, int height)
{
    RECT box = {};
    for (int y = y0; y < y0 + height; y++)
        for (int x = x0; x < x0 + width; x++) {
            RECT pixel = { x, y, x + 1, y + 1 };
            if (GetPixel(dc, x, y) == TitleColour)
                UnionRect(&box, &box, &pixel);   // an empty box counts for nothing
        }
    return box;
}

TEST(PaintKeyboard, DrawsTitleRuleAndKeysIntoAWindow)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PaintOnlyProc;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = "PaintTestWindow";
    ASSERT_NE(0, RegisterClassA(&windowClass));
    TitleFont = CreateFontA(45, 0, 0, 0, FW_HEAVY, 1, 0, 0, ANSI_CHARSET, 0, 0, 0,
                            VARIABLE_PITCH | FF_SWISS, "Arial");
    LayoutKeyboard(1200, 900);
    WhiteKeys[1].pressed = 1;
    HWND window = CreateWindowExA(0, "PaintTestWindow", "", WS_POPUP, 0, 0, 1200, 900, 0, 0, 0, 0);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);

    // Where a word's ink lies from its top-left corner is the font's matter
    // (an italic overhangs it): the platform draws the word in a bitmap for
    // reference.
    TestBitmap reference;
    ASSERT_TRUE(CreateTestBitmap(&reference, 580, 160, Black));
    SelectObject(reference.dc, TitleFont);
    SetBkMode(reference.dc, TRANSPARENT);
    SetTextColor(reference.dc, TitleColour);
    TextOutA(reference.dc, 40, 40, "Morvane", 7);
    RECT expected = InkBox(reference.dc, 0, 0, 580, 160), title;
    OffsetRect(&expected, -40, -40);
    DestroyTestBitmap(&reference);

    const int X = KeyboardLeft, Y = KeyboardTop;
    HDC dc = GetDC(window);
    OffsetRect(&expected, X, Y - 60);
    title = InkBox(dc, X - 40, Y - 130, 580, 120);
    EXPECT_TRUE(!IsRectEmpty(&expected) && EqualRect(&expected, &title))
        << "title ink expected from (" << expected.left << "," << expected.top << ") got from ("
        << title.left << "," << title.top << ") to (" << title.right << "," << title.bottom << ")";
    const struct { const char *what; int x, y; COLORREF colour; } pixels[] = {
        { "rule start", X, Y - 10, White },
        { "rule end", X + 1049, Y - 10, White },
        { "past the rule's end", X + 1050, Y - 10, Black },
        { "before the rule", X - 1, Y - 10, Black },
        { "above the rule", X + 500, Y - 11, Black },
        { "white key 0", X + 30, Y + 300, White },
        { "pressed white key 1's band", X + 70, Y + 300, Grey },
        { "black key 0", X + 60, Y + 100, Black },
        { "black key 0's shadow", X + 92, Y + 100, Grey },
        { "below the keyboard", X + 30, Y + 420, Black },
    };
    for (const auto &pixel : pixels)
        EXPECT_EQ(pixel.colour, GetPixel(dc, pixel.x, pixel.y)) << pixel.what << " at (" << pixel.x << "," << pixel.y << ")";

    ReleaseDC(window, dc);
    DestroyWindow(window);
    UnregisterClassA("PaintTestWindow", 0);
    DeleteObject(TitleFont);
}
