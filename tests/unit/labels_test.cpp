// The label row: where each label puts its text, and the colour handler:
// only the four labels get the grey, transparent look; any other control
// keeps the platform's own colours.
#include <gtest/gtest.h>
#include <stdlib.h>
#include "bitmap.h"
#include "keyboard/keys.h"
#include "shell/labels.h"

static HWND CreateParent(void)
{
    return CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 1200, 600, 0, 0, 0, 0);
}

// The system font, which the labels use, fills "Exit" almost to its
// borders, so that centred and left-aligned text look alike there; a small
// font leaves room on both sides to tell them apart.
TEST(CreateLabels, TextStandsAtTheLeftOrCentred)
{
    LayoutKeyboard(1200, 700);
    HWND parent = CreateParent();
    CreateLabels(parent);
    HFONT font = CreateFontA(10, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
    const struct { HWND label; const char *name; int centred; } rows[] = {
        { LinkLabel, "link", 0 }, { AboutLabel, "About", 0 }, { HelpLabel, "Help", 0 },
        { ExitLabel, "Exit", 1 },
    };
    for (const auto &row : rows) {
        RECT client;
        GetClientRect(row.label, &client);
        TestBitmap bitmap;
        ASSERT_TRUE(CreateTestBitmap(&bitmap, client.right, client.bottom, 0x123456));
        SendMessageA(row.label, WM_SETFONT, (WPARAM)font, FALSE);
        SendMessageA(row.label, WM_PRINTCLIENT, (WPARAM)bitmap.dc, PRF_CLIENT);
        // The text ends well short of the bottom right corner.
        COLORREF background = TestPixel(&bitmap, client.right - 1, client.bottom - 1);
        int first = -1, last = -1;
        for (int x = 0; x < client.right; x++)
            for (int y = 0; y < client.bottom; y++)
                if (TestPixel(&bitmap, x, y) != background) {
                    first = first < 0 ? x : first;
                    last = x;
                }
        int left = first, right = client.right - 1 - last;
        int atLeft = left <= 2, centred = !atLeft && abs(left - right) <= 1;
        EXPECT_TRUE(first >= 0 && (row.centred ? centred : atLeft))
            << row.name << ": text " << left << " pixels from the left, " << right
            << " from the right, expected " << (row.centred ? "centred" : "at the left");
        DestroyTestBitmap(&bitmap);
    }
    DeleteObject(font);
    DestroyWindow(parent);
}

TEST(ColourLabel, GreyTransparentForTheFourLabels)
{
    LayoutKeyboard(1200, 700);
    HWND parent = CreateParent();
    CreateLabels(parent);
    HDC dc = GetDC(parent);

    HWND labels[] = { LinkLabel, AboutLabel, HelpLabel, ExitLabel };
    for (HWND label : labels) {
        SCOPED_TRACE(testing::Message() << "label " << (label - LinkLabel));
        ASSERT_NE((HWND)0, label);
        SetTextColor(dc, 0);
        SetBkMode(dc, OPAQUE);
        EXPECT_EQ(GetStockObject(NULL_BRUSH), (HGDIOBJ)ColourLabel(dc, label));
        EXPECT_EQ(0x666666u, GetTextColor(dc));
        EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
    }
    ReleaseDC(parent, dc);
    DestroyWindow(parent);
}

TEST(ColourLabel, ZeroAndNoChangeForAnyOtherControl)
{
    LayoutKeyboard(1200, 700);
    HWND parent = CreateParent();
    CreateLabels(parent);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_CHILD, 0, 0, 50, 20, parent, 0, 0, 0);
    HDC dc = GetDC(parent);
    SetTextColor(dc, 0x0000FF);
    SetBkMode(dc, OPAQUE);

    HWND strangers[] = { other, parent, 0 };
    for (HWND stranger : strangers) {
        EXPECT_EQ((HBRUSH)0, ColourLabel(dc, stranger));
        EXPECT_EQ(0x0000FFu, GetTextColor(dc));
        EXPECT_EQ(OPAQUE, GetBkMode(dc));
    }
    ReleaseDC(parent, dc);
    DestroyWindow(parent);
}
