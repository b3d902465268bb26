// Start-up, the main window and the message loop.
#include <string.h>
#include "shell.h"
#include "../draw/paint.h"
#include "../keyboard/keys.h"
#include "product.h"

static const char MutexName[] = "morvanepiano";

static void ShowStartError(const char *text)
{
    MessageBoxA(0, text, "Error", MB_OK);
}

// The mutex is never owned or waited on: its name existing is the whole rule.
static int ClaimSingleInstance(void)
{
    InstanceMutex = CreateMutexA(0, FALSE, MutexName);
    DWORD error = GetLastError();
    if (error == 0)
        return 1;

    char text[1024];
    if (error == ERROR_ALREADY_EXISTS)
        lstrcpyA(text, PRODUCT_NAME " is already running.");
    else
        wsprintfA(text, "Instance error. [GetLastError(): %i]", (int)error);
    ShowStartError(text);
    return 0;
}

static void CreateTitleFont(void)
{
    LOGFONTA font = {};
    font.lfHeight = TitleHeight;
    font.lfWeight = FW_HEAVY;
    font.lfItalic = 1;
    font.lfCharSet = ANSI_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    strcpy_s(font.lfFaceName, sizeof font.lfFaceName, "Arial");
    TitleFont = CreateFontIndirectA(&font);
}

static ATOM RegisterFrameClass(HINSTANCE instance)
{
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = MainWindowProc;
    frameClass.hInstance = instance;
    frameClass.hIcon = LoadIconA(instance, "APPICON");
    frameClass.hCursor = LoadCursorA(0, IDC_ARROW);
    frameClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    frameClass.lpszMenuName = "";
    frameClass.lpszClassName = WindowClassName;
    return RegisterClassA(&frameClass);
}

static HWND CreateMainWindow(HINSTANCE instance, int screenWidth, int screenHeight)
{
    return CreateWindowExA(0, WindowClassName, PRODUCT_NAME, WS_OVERLAPPEDWINDOW,
                           0, 0, screenWidth, screenHeight - WindowHeightMargin,
                           0, 0, instance, 0);
}

// Without a window the message loop would run forever, unseen, holding the
// mutex so that no later start could succeed: give up visibly instead.
static int FailWindowCreation(void)
{
    char text[1024];
    wsprintfA(text, "The main window could not be created. [GetLastError(): %i]",
              (int)GetLastError());
    ShowStartError(text);
    return -1;
}

static void ReleaseStartUpObjects(void)
{
    DeleteObject(TitleFont);
    TitleFont = 0;
    if (InstanceMutex)
        CloseHandle(InstanceMutex);
    InstanceMutex = 0;
}

static int RunMessageLoop(void)
{
    // GetMessage returns -1 on an invalid call, which cannot happen with no
    // window filter; only 0 (WM_QUIT) ends the loop.
    MSG message;
    while (GetMessageA(&message, 0, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

// Parameters are named for what they hold here, not as the platform's
// header names them.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    if (!ClaimSingleInstance())
        return -1;   // the handle, if any, goes with the process

    CreateTitleFont();

    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    LayoutKeyboard(screenWidth, screenHeight);

    int exitCode;
    if (RegisterFrameClass(instance) &&
        (MainWindow = CreateMainWindow(instance, screenWidth, screenHeight)) != 0) {
        ShowWindow(MainWindow, showCommand);
        UpdateWindow(MainWindow);
        exitCode = RunMessageLoop();
    } else {
        exitCode = FailWindowCreation();
    }

    ReleaseStartUpObjects();
    return exitCode;
}
