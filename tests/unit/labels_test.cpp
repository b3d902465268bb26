// The label row's colour handler: only the four labels get the grey,
// transparent look; any other control keeps the platform's own colours.
#include <gtest/gtest.h>
#include "keyboard/keys.h"
#include "shell/labels.h"

static HWND CreateParent(void)
{
    return CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 1200, 600, 0, 0, 0, 0);
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
