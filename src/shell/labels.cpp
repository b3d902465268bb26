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

static HWND CreateLabel(HWND parent, const char *text, int offset, int width, int id, DWORD style)
{
    return CreateWindowExA(0, "STATIC", text, style,
                           KeyboardLeft + offset, KeyboardTop - LabelRise, width, LabelHeight,
                           parent, (HMENU)(INT_PTR)id, 0, 0);
}

void CreateLabels(HWND window)
{
    // The row ends flush with the keyboard's right edge.
    LinkLabel = CreateLabel(window, MAKER_HOST, 720, 200, LinkId, LabelStyle);
    AboutLabel = CreateLabel(window, "About", 930, 40, AboutId, LabelStyle);
    HelpLabel = CreateLabel(window, "Help", 980, 40, HelpId, LabelStyle);
    ExitLabel = CreateLabel(window, "Exit", 1020, 30, ExitId, LabelStyle | SS_CENTER);
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
