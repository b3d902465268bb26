// The floor for start-up: the least a Win32 program can do to show the same
// window as the piano. It opens a window of the piano's size and place and
// paints it black, nothing else, built with the piano's own flags.
#include <windows.h>

static LRESULT CALLBACK BlankWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        // No class brush: the black comes from this paint alone, so an
        // observer who sees it knows the first paint has been done.
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        FillRect(dc, &paint.rcPaint, (HBRUSH)GetStockObject(BLACK_BRUSH));
        EndPaint(window, &paint);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BlankWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(0, IDC_ARROW);
    windowClass.lpszClassName = "BlankBaseline";
    if (!RegisterClassA(&windowClass))
        return 1;

    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Blank baseline",
                                  WS_OVERLAPPEDWINDOW, 0, 0, width, height - 34,
                                  0, 0, instance, 0);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, 0, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
