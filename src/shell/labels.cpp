// The label row: four STATIC controls that report clicks, standing in for a
// menu. Grey text on the window's black background, no hover effect.
#include "labels.h"
#include <shellapi.h>
#include "../keyboard/keys.h"
#include "product.h"

HWND LinkLabel;
HWND AboutLabel;
HWND HelpLabel;
HWND ExitLabel;

const char AboutText[] =
    PRODUCT_NAME "\n"
    "Version " VERSION_SHORT_STRING "\n"
    MAKER_NAME "\n"
    MAKER_HOST;

const char HelpText[] =
    "Black piano keys:  1, 2, 4, 5, 6, 8, 9, -, =, <-\n"
    "White piano keys: Tab, Q, W, E, R, T, Y, U, I, O, P, [, ], \\, Delete";

enum { LinkId = 1, AboutId = 2, HelpId = 3, ExitId = 4 };

static const DWORD LabelStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | SS_NOTIFY;
static const COLORREF LabelTextColour = 0x666666;
static const int LabelRise = 40;     // labels' top above the keyboard
static const int LabelHeight = 20;

// The row is placed from the keyboard's right edge, where it ends: each
// label's width and how far its right end stands in from that edge. Help
// and Exit touch; a gap sets off About, and the link, from what follows.
static const int LabelGap = 10;
static const int ExitWidth = 30, ExitInset = 0;
static const int HelpWidth = 40, HelpInset = ExitInset + ExitWidth;
static const int AboutWidth = 40, AboutInset = HelpInset + HelpWidth + LabelGap;
static const int LinkWidth = 200, LinkInset = AboutInset + AboutWidth + LabelGap;

static HWND CreateLabel(HWND parent, const char *text, int width, int inset, int id, DWORD style)
{
    int right = KeyboardLeft + KeyboardWidth - inset;
    return CreateWindowExA(0, "STATIC", text, style, right - width, KeyboardTop - LabelRise,
                           width, LabelHeight, parent, (HMENU)(INT_PTR)id, 0, 0);
}

void CreateLabels(HWND window)
{
    LinkLabel = CreateLabel(window, MAKER_HOST, LinkWidth, LinkInset, LinkId, LabelStyle);
    AboutLabel = CreateLabel(window, "About", AboutWidth, AboutInset, AboutId, LabelStyle);
    HelpLabel = CreateLabel(window, "Help", HelpWidth, HelpInset, HelpId, LabelStyle);
    ExitLabel = CreateLabel(window, "Exit", ExitWidth, ExitInset, ExitId, LabelStyle | SS_CENTER);
}

HBRUSH ColourLabel(HDC labelDC, HWND label)
{
    if (label != LinkLabel && label != AboutLabel && label != HelpLabel && label != ExitLabel)
        return 0;
    SetTextColor(labelDC, LabelTextColour);
    SetBkMode(labelDC, TRANSPARENT);
    return (HBRUSH)GetStockObject(NULL_BRUSH);
}

void RunLabelCommand(HWND window, WPARAM wParam)
{
    // The second click of a double click arrives as STN_DBLCLK: ignore it,
    // so a double click opens one box, not two.
    if (HIWORD(wParam) != STN_CLICKED)
        return;

    switch (LOWORD(wParam)) {
    case LinkId:
        ShellExecuteA(0, "open", HOME_PAGE, 0, 0, SW_SHOWNORMAL);
        break;
    case AboutId:
        MessageBoxA(window, AboutText, PRODUCT_NAME, MB_OK);
        break;
    case HelpId:
        MessageBoxA(window, HelpText, PRODUCT_NAME, MB_OK);
        break;
    case ExitId:
        // The window is left for the process end to take down.
        PostQuitMessage(0);
        break;
    }
}
