// Start-up and shut-down, run in-process: WinMain is an ordinary function in
// this console program. A watcher thread plays the user: it reads and closes
// the "Error" box, or inspects the main window and closes it. It gives up
// after a bounded wait and ends WinMain's loop, so no case can hang.
#include <gtest/gtest.h>
#include <string.h>
#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// Bounds a wait that only a fault makes long: under an emulator a first
// message box takes several seconds to show.
static const DWORD WaitLimit = 60000;   // milliseconds

struct Watch {
    DWORD mainThread;
    volatile LONG finished;   // WinMain has returned
    int timedOut;             // the window awaited never appeared
    int hung;                 // WinMain went on after its window or box was closed
    char boxText[1024];       // the "Error" box's text, once one was seen
    HFONT font;               // the title font while WinMain ran
    HWND window;              // the main window, once it was seen
    RECT windowRect;
    ULONG_PTR classIcon, classCursor, classBrush, classStyle;
    LOGFONTA titleFont;
    int titleFontRead;
};

// Polls until WinMain has returned or, given a class name, until a visible
// window of that class and title exists. Past the wait limit it sets *late
// and posts WM_QUIT, which ends whatever loop WinMain is in: a message box's
// or its own.
static HWND Await(Watch *watch, const char *className, const char *title, int *late)
{
    DWORD start = GetTickCount();
    while (!watch->finished) {
        HWND window = className ? FindWindowA(className, title) : 0;
        if (window && IsWindowVisible(window)) {
            watch->font = TitleFont;
            return window;
        }
        if (GetTickCount() - start > WaitLimit) {
            *late = 1;
            PostThreadMessageA(watch->mainThread, WM_QUIT, 0, 0);
            return 0;
        }
        Sleep(5);
    }
    return 0;
}

static DWORD WINAPI CloseErrorBox(void *parameter)
{
    Watch *watch = (Watch *)parameter;
    HWND box = Await(watch, "#32770", "Error", &watch->timedOut);
    if (box) {
        GetDlgItemTextA(box, 0xFFFF, watch->boxText, sizeof watch->boxText);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        Await(watch, 0, 0, &watch->hung);
    }
    return 0;
}

static DWORD WINAPI InspectAndCloseMainWindow(void *parameter)
{
    Watch *watch = (Watch *)parameter;
    HWND window = Await(watch, "FrameClassName", "Morvane Piano", &watch->timedOut);
    if (window) {
        watch->window = window;
        GetWindowRect(window, &watch->windowRect);
        watch->classIcon = GetClassLongPtrA(window, GCLP_HICON);
        watch->classCursor = GetClassLongPtrA(window, GCLP_HCURSOR);
        watch->classBrush = GetClassLongPtrA(window, GCLP_HBRBACKGROUND);
        watch->classStyle = GetClassLongPtrA(window, GCL_STYLE);
        watch->titleFontRead = GetObjectA(watch->font, sizeof watch->titleFont, &watch->titleFont);
        PostMessageA(window, WM_CLOSE, 0, 0);
        Await(watch, 0, 0, &watch->hung);
    }
    return 0;
}

static int RunWinMain(LPTHREAD_START_ROUTINE watcher, Watch *watch)
{
    memset(watch, 0, sizeof *watch);
    watch->mainThread = GetCurrentThreadId();
    HANDLE thread = CreateThread(0, 0, watcher, watch, 0, 0);
    int result = WinMain(GetModuleHandleA(0), 0, (LPSTR) "", SW_SHOWNOACTIVATE);
    watch->finished = 1;
    WaitForSingleObject(thread, INFINITE);   // it waits a bounded time only
    CloseHandle(thread);
    return result;
}

// Leaves nothing behind for the next case, whatever this one did.
static void ClearStartUp(void)
{
    HWND window;
    while ((window = FindWindowA("FrameClassName", 0)) != 0)
        DestroyWindow(window);
    UnregisterClassA("FrameClassName", GetModuleHandleA(0));
    if (InstanceMutex)
        CloseHandle(InstanceMutex);
    InstanceMutex = 0;
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE))
        ;
}

static void ExpectEverythingReleased(const Watch &watch)
{
    EXPECT_TRUE(watch.font != 0) << "no title font was made";
    EXPECT_EQ(0u, GetObjectType(watch.font)) << "title font not deleted";
    EXPECT_TRUE(TitleFont == 0) << "title font handle kept";
    EXPECT_TRUE(InstanceMutex == 0) << "mutex handle not released";
    SetLastError(0);
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "morvanepiano");
    EXPECT_TRUE(mutex == 0 && GetLastError() == ERROR_FILE_NOT_FOUND)
        << "the mutex \"morvanepiano\" still exists after WinMain returned";
    if (mutex)
        CloseHandle(mutex);
}

static LRESULT CALLBACK RefuseMainWindow(int code, WPARAM wParam, LPARAM lParam)
{
    char className[64] = "";
    if (code == HCBT_CREATEWND && GetClassNameA((HWND)wParam, className, sizeof className) &&
        strcmp(className, "FrameClassName") == 0)
        return 1;
    return CallNextHookEx(0, code, wParam, lParam);
}

// Each failed start shows one "Error" box and returns -1. A start refused at
// the instance check has made nothing; one that cannot make its window gives
// everything back, the name above all, so that the next start can succeed.
TEST(StartUp, FailsWithAnErrorBox)
{
    enum { HoldMutex, HoldEvent, TakeClassName, RefuseWindow };
    const struct {
        const char *what;
        int obstacle;
        const char *text;   // the whole text, or its start for RefuseWindow
    } cases[] = {
        { "another copy holds the mutex", HoldMutex, "Morvane Piano is already running." },
        { "an event holds the name", HoldEvent, "Instance error. [GetLastError(): 6]" },
        { "class already registered", TakeClassName, "The main window could not be created. [GetLastError(): 1410]" },
        { "window creation refused", RefuseWindow, "The main window could not be created. [GetLastError(): " },
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.what);
        HANDLE holder = 0;
        HHOOK hook = 0;
        WNDCLASSA squatter = {};
        squatter.lpfnWndProc = DefWindowProcA;
        squatter.hInstance = GetModuleHandleA(0);
        squatter.lpszClassName = "FrameClassName";
        if (row.obstacle == HoldMutex)
            holder = CreateMutexA(0, FALSE, "morvanepiano");
        else if (row.obstacle == HoldEvent)
            holder = CreateEventA(0, TRUE, FALSE, "morvanepiano");
        else if (row.obstacle == TakeClassName)
            ASSERT_NE(0, RegisterClassA(&squatter));
        else
            hook = SetWindowsHookExA(WH_CBT, RefuseMainWindow, 0, GetCurrentThreadId());

        Watch watch;
        EXPECT_EQ(-1, RunWinMain(CloseErrorBox, &watch));
        EXPECT_FALSE(watch.timedOut) << "no \"Error\" box appeared";
        EXPECT_FALSE(watch.hung) << "WinMain went on after its box was closed";
        size_t length = row.obstacle == RefuseWindow ? strlen(row.text) : sizeof watch.boxText;
        EXPECT_EQ(0, strncmp(row.text, watch.boxText, length)) << "box text: " << watch.boxText;
        EXPECT_TRUE(FindWindowA("FrameClassName", 0) == 0);
        if (holder) {
            EXPECT_TRUE(watch.font == 0) << "the font was made before the instance check";
            CloseHandle(holder);
        } else {
            ExpectEverythingReleased(watch);
        }
        if (hook)
            UnhookWindowsHookEx(hook);
        ClearStartUp();
    }
}

TEST(StartUp, RunsUntilTheWindowIsClosed)
{
    // An error code left over from before start-up must not pass for a
    // failed instance check.
    SetLastError(ERROR_ACCESS_DENIED);
    Watch watch;
    EXPECT_EQ(0, RunWinMain(InspectAndCloseMainWindow, &watch));
    ASSERT_FALSE(watch.timedOut) << "the main window did not appear";
    EXPECT_FALSE(watch.hung) << "WinMain went on after its window was closed";

    RECT expected = { 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - 34 };
    EXPECT_TRUE(EqualRect(&expected, &watch.windowRect))
        << "window at (" << watch.windowRect.left << "," << watch.windowRect.top << ")-("
        << watch.windowRect.right << "," << watch.windowRect.bottom << ")";
    EXPECT_TRUE(watch.window == MainWindow);
    EXPECT_NE(0u, watch.classIcon) << "no icon";
    EXPECT_EQ((ULONG_PTR)LoadIconA(GetModuleHandleA(0), "APPICON"), watch.classIcon);
    EXPECT_EQ((ULONG_PTR)LoadCursorA(0, IDC_ARROW), watch.classCursor);
    EXPECT_EQ((ULONG_PTR)GetStockObject(BLACK_BRUSH), watch.classBrush);
    EXPECT_EQ(0u, watch.classStyle);

    ASSERT_EQ((int)sizeof(LOGFONTA), watch.titleFontRead) << "no title font while running";
    EXPECT_EQ(45, watch.titleFont.lfHeight);
    EXPECT_EQ(FW_HEAVY, watch.titleFont.lfWeight);
    EXPECT_EQ(1, watch.titleFont.lfItalic);
    EXPECT_EQ(VARIABLE_PITCH | FF_SWISS, watch.titleFont.lfPitchAndFamily);
    EXPECT_STREQ("Arial", watch.titleFont.lfFaceName);

    EXPECT_FALSE(IsWindow(watch.window));
    ExpectEverythingReleased(watch);
    ClearStartUp();
}
