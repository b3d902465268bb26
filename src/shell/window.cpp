// The main window's procedure: every message goes to the module that
// handles it, or to the platform.
#include "shell.h"
#include "labels.h"
#include "../draw/paint.h"
#include "../keyboard/input.h"
#include "product.h"

HANDLE InstanceMutex;
HFONT TitleFont;
HWND MainWindow;

const char WindowClassName[] = WINDOW_CLASS_NAME;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // MainWindow is not yet set during WM_CREATE, so handlers get the handle
    // this call received.
    switch (message) {
    case WM_CREATE:         CreateLabels(window); return 0;
    case WM_DESTROY:        PostQuitMessage(0); return 0;
    case WM_PAINT:          PaintKeyboard(window); return 0;
    case WM_KEYDOWN:        PressKey(window, (UINT)wParam); return 0;
    case WM_KEYUP:          ReleaseKey(window, (UINT)wParam); return 0;
    case WM_COMMAND:        RunLabelCommand(window, wParam); return 0;
    case WM_CTLCOLORSTATIC: return (LRESULT)ColourLabel((HDC)wParam, (HWND)lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
