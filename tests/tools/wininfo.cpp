// A small Windows console tool for the end-to-end tests: reads from inside
// Wine what X cannot show.
//   wininfo box CAPTION     the number of message boxes with that caption, then
//                           for each its owner's title ("owner=..."), a line
//                           for each of its buttons ("button=OK") and its text
//   wininfo ok CAPTION      presses OK on every such box
//   wininfo boxparts CAPTION
//                           where the first such box's client area ("box")
//                           and each of its visible parts stand on the
//                           screen: "text", "button=NAME", "icon" or
//                           "other=CLASS", then left top right bottom
//   wininfo rect TITLE      the top-level window's rectangle: left top right bottom
//   wininfo style TITLE     the top-level window's style, in hexadecimal
//   wininfo frame           how far an overlapped window's frame and caption
//                           reach around its client area: left top right
//                           bottom, as the platform's window rectangle has them
//   wininfo state TITLE     how the top-level window is shown: hidden,
//                           minimised, maximised or normal
//   wininfo syscolor INDEX  the system colour of that index: red green blue
//   wininfo foreground      the title of the window that has the keyboard
//   wininfo textbox HEIGHT WEIGHT ITALIC PITCHFAMILY FACE TEXT
//                           the box that TEXT drawn at (0, 0) in that font
//                           may ink: left top right bottom
//   wininfo hold            keeps Wine's desktop up until killed; says
//                           "holding" once it is
//   wininfo lock FILE       opens FILE, sharing it with no other opener, as a
//                           program may that holds a file; says "locked" once
//                           it has, and stays until killed
//   wininfo read FILE       the same, sharing it for reading and writing but not
//                           deletion, as a virus scanner may; says "reading"
//   wininfo run COMMANDLINE starts COMMANDLINE as it stands, as the shell
//                           runs a command from the registry, and exits
//                           with its exit code once it has ended; the line
//                           may hold any letters, not only the code page's.
//                           It hands on its standard handles, inheritable, and
//                           its other inheritable handles, as a deployment
//                           tool that reads a program's output does
//   wininfo map FILE        maps FILE as an image, sharing it for reading and
//                           deletion, as a program that shows another's icon
//                           does; says "mapped" once it has, and stays until
//                           killed
//   wininfo security PATH   the owner and DACL of the file or folder PATH, as
//                           the platform reads them back, in SDDL
//   wininfo processes NAME  "ID PARENT" for each running process whose
//                           program's file is named NAME: its process id
//                           and its parent's, in decimal
//   wininfo clock           the clocks a program could name a file by, one
//                           "name value" line each, in decimal: "tick"
//                           (GetTickCount, ms), "tick64" (GetTickCount64),
//                           "filetime" (the system time, in 100 ns since
//                           1601) and "unixtime" (seconds since 1970)
//   wininfo front           shows a small window titled "wininfo front" in the
//                           screen's bottom-right corner and brings it to the
//                           foreground, as another program would; says
//                           "front" once it has, and stays until killed
//   wininfo defaultsound FILE
//                           makes FILE the system's default sound and prints
//                           the name as the platform then reads it back
//   wininfo stats TITLE     one "name value" line each for the process owning
//                           the window: working set, pagefile usage, GDI and
//                           USER objects and handles as the platform reports
//                           them (Wine 8 gives 0 for the last three), then the
//                           same counted another way: GDI objects from the
//                           process's GDI handle table and handles from the
//                           system's handle list; -1 where neither works
//   wininfo play FILE       plays FILE as the piano plays a note (saying
//                           "playing" as it hands it to the player), lets the
//                           player work until it has finished or 3 s have
//                           passed, then stops it as the next note would;
//                           says "returned" when the stop returns, "hung" if
//                           it did not return in 2 s; a crash ends the process
//                           without a word, with exit code 3
//   wininfo texts TITLE     the text of each visible control of the shown
//                           window with that title that is not a message box,
//                           one a line: which page a wizard shows
//   wininfo judge FOLDER    the piano's own check of each .wav file in FOLDER:
//                           "NAME 1" for one it would not hand to the player,
//                           "NAME 0" for one it would
#include <windows.h>
#include <aclapi.h>
#include <mmsystem.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winternl.h>
#include <sddl.h>
#include <shellapi.h>
#include "sound/wavecheck.h"

static const char DialogClass[] = "#32770";
static const int MessageBoxTextId = 0xFFFF;

typedef LONG (WINAPI *QueryProcess)(HANDLE, int, PVOID, ULONG, PULONG);
typedef LONG (WINAPI *QuerySystem)(int, PVOID, ULONG, PULONG);

static FARPROC NtFunction(const char *name)
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), name);
}

// Wine keeps each process's GDI handles in a table that the PEB points at
// (GdiSharedHandleTable, at 0x94 in a 32-bit PEB): 65,536 entries of 24
// bytes, whose byte 14 holds the object's type, 0 for a free entry.
static long CountGdiTableEntries(HANDLE process)
{
    static const int EntryCount = 0x10000, EntrySize = 24, TypeByte = 14, TableField = 0x94;
    PROCESS_BASIC_INFORMATION basic;
    ULONG length;
    QueryProcess query = (QueryProcess)(void *)NtFunction("NtQueryInformationProcess");
    if (!query || query(process, 0, &basic, sizeof basic, &length) != 0)
        return -1;
    DWORD table = 0;
    SIZE_T read;
    if (!ReadProcessMemory(process, (BYTE *)basic.PebBaseAddress + TableField, &table,
                           sizeof table, &read) || !table)
        return -1;
    static BYTE entries[EntryCount * EntrySize];
    if (!ReadProcessMemory(process, (void *)(DWORD_PTR)table, entries, sizeof entries, &read))
        return -1;
    long count = 0;
    for (int i = 0; i < EntryCount; i++)
        if (entries[i * EntrySize + TypeByte])
            count++;
    return count;
}

// The system's handle list (SystemHandleInformation, class 16): a count, then
// 16-byte entries that begin with the owning process's id.
static long CountSystemHandles(DWORD processId)
{
    QuerySystem query = (QuerySystem)(void *)NtFunction("NtQuerySystemInformation");
    ULONG size = 1 << 20, needed = 0;
    for (int attempt = 0; query && attempt < 6; attempt++, size *= 2) {
        BYTE *list = (BYTE *)malloc(size);
        LONG status = query(16, list, size, &needed);
        if (status == 0) {
            ULONG count = *(ULONG *)list;
            long owned = 0;
            for (ULONG i = 0; i < count; i++)
                if (*(ULONG *)(list + 4 + 16 * i) == processId)
                    owned++;
            free(list);
            return owned;
        }
        free(list);
    }
    return -1;
}

static int Stats(const char *title)
{
    HWND window = FindWindowA(0, title);
    DWORD processId = 0;
    if (!window || !GetWindowThreadProcessId(window, &processId))
        return 1;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process)
        return 1;

    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    BOOL haveMemory = GetProcessMemoryInfo(process, &memory, sizeof memory);
    DWORD handles = 0;
    BOOL haveHandles = GetProcessHandleCount(process, &handles);
    printf("working_set %ld\n", haveMemory ? (long)memory.WorkingSetSize : -1L);
    printf("pagefile %ld\n", haveMemory ? (long)memory.PagefileUsage : -1L);
    printf("gdi %ld\n", (long)GetGuiResources(process, GR_GDIOBJECTS));
    printf("user %ld\n", (long)GetGuiResources(process, GR_USEROBJECTS));
    printf("handles %ld\n", haveHandles ? (long)handles : -1L);
    printf("gdi_table %ld\n", CountGdiTableEntries(process));
    printf("handle_list %ld\n", CountSystemHandles(processId));
    CloseHandle(process);
    return 0;
}

struct BoxList {
    const char *caption;
    HWND boxes[64];
    int count;
};

static BOOL CALLBACK CollectBox(HWND window, LPARAM param)
{
    BoxList *list = (BoxList *)param;
    char className[64], caption[256];
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    // A message box, not another dialog of that caption: it holds the
    // platform's text control.
    if (strcmp(className, DialogClass) == 0 && strcmp(caption, list->caption) == 0 &&
        GetDlgItem(window, MessageBoxTextId) && IsWindowVisible(window) && list->count < 64)
        list->boxes[list->count++] = window;
    return TRUE;
}

static BoxList FindBoxes(const char *caption)
{
    BoxList list = {};
    list.caption = caption;
    EnumWindows(CollectBox, (LPARAM)&list);
    return list;
}

static void PrintButtons(HWND box)
{
    for (int id = IDOK; id <= IDCONTINUE; id++) {
        HWND button = GetDlgItem(box, id);
        char name[64];
        if (button && IsWindowVisible(button) && GetWindowTextA(button, name, sizeof name))
            printf("button=%s\n", name);
    }
}

static int PrintBoxes(const char *caption)
{
    BoxList list = FindBoxes(caption);
    printf("%d\n", list.count);
    for (int i = 0; i < list.count; i++) {
        char text[2048] = "", ownerTitle[256] = "";
        // The text lives in another process: a box that stopped answering
        // must not hang the tool too.
        DWORD_PTR copied;
        SendMessageTimeoutA(GetDlgItem(list.boxes[i], MessageBoxTextId), WM_GETTEXT,
                            sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &copied);
        HWND owner = GetWindow(list.boxes[i], GW_OWNER);
        if (owner)
            GetWindowTextA(owner, ownerTitle, sizeof ownerTitle);
        printf("owner=%s\n", ownerTitle);
        PrintButtons(list.boxes[i]);
        printf("%s\n", text);
    }
    return 0;
}

// Where the first such box and each of its visible parts stand on the
// screen: "box", then "text", "button=NAME", "icon" or "other=CLASS" for
// each part that shows anything, each with its left top right bottom.
static BOOL CALLBACK PrintBoxPart(HWND part, LPARAM)
{
    RECT rect;
    char className[64], text[64] = "";
    if (!IsWindowVisible(part) || !GetWindowRect(part, &rect) || IsRectEmpty(&rect))
        return TRUE;
    GetClassNameA(part, className, sizeof className);
    LONG style = GetWindowLongA(part, GWL_STYLE);
    if (GetDlgCtrlID(part) == MessageBoxTextId)
        printf("text");
    else if (_stricmp(className, "Button") == 0 && GetWindowTextA(part, text, sizeof text))
        printf("button=%s", text);
    else if (_stricmp(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        // The platform's box keeps its icon control when it has no icon.
        if (!SendMessageA(part, STM_GETICON, 0, 0))
            return TRUE;
        printf("icon");
    }
    else
        printf("other=%s", className);
    printf(" %ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return TRUE;
}

static int PrintBoxParts(const char *caption)
{
    BoxList list = FindBoxes(caption);
    RECT client;
    if (!list.count || !GetClientRect(list.boxes[0], &client))
        return 1;
    MapWindowPoints(list.boxes[0], 0, (POINT *)&client, 2);
    printf("box %ld %ld %ld %ld\n", client.left, client.top, client.right, client.bottom);
    EnumChildWindows(list.boxes[0], PrintBoxPart, 0);
    return 0;
}

struct TextsOf {
    const char *title;
    HWND window;
};

static BOOL CALLBACK FindPage(HWND window, LPARAM param)
{
    TextsOf *texts = (TextsOf *)param;
    char title[256];
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(title, texts->title) == 0 && IsWindowVisible(window) &&
        !GetDlgItem(window, MessageBoxTextId)) {
        texts->window = window;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK PrintControlText(HWND control, LPARAM)
{
    char text[1024];
    // The control lives in another process, which may be busy.
    DWORD_PTR copied;
    if (IsWindowVisible(control) &&
        SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG,
                            5000, &copied) && text[0])
        printf("%s\n", text);
    return TRUE;
}

static int PrintTexts(const char *title)
{
    TextsOf texts = {title, 0};
    EnumWindows(FindPage, (LPARAM)&texts);
    if (!texts.window)
        return 1;
    EnumChildWindows(texts.window, PrintControlText, 0);
    return 0;
}

static int PressOk(const char *caption)
{
    BoxList list = FindBoxes(caption);
    for (int i = 0; i < list.count; i++)
        PostMessageA(list.boxes[i], WM_COMMAND, IDOK, 0);
    return list.count ? 0 : 1;
}

static int PrintRect(const char *title)
{
    HWND window = FindWindowA(0, title);
    RECT rect;
    if (!window || !GetWindowRect(window, &rect))
        return 1;
    printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

static int PrintStyle(const char *title)
{
    HWND window = FindWindowA(0, title);
    if (!window)
        return 1;
    printf("%08lx\n", (unsigned long)GetWindowLongA(window, GWL_STYLE));
    return 0;
}

// The caption's height and the border's width are the platform's metrics,
// which differ between Wine's versions and Windows' themes.
static int PrintOverlappedFrame(void)
{
    RECT rect = { 0, 0, 0, 0 };
    if (!AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0))
        return 1;
    printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

static int PrintState(const char *title)
{
    HWND window = FindWindowA(0, title);
    if (!window)
        return 1;
    printf("%s\n", !IsWindowVisible(window) ? "hidden" : IsIconic(window) ? "minimised"
                   : IsZoomed(window) ? "maximised" : "normal");
    return 0;
}

// The box that TEXT drawn at (0, 0) in the font may ink: its cell, widened
// by any glyph that leans out of it. A face without an italic of its own is
// slanted by the platform, and the slant can reach past the last advance.
static int PrintTextBox(char **args)
{
    HFONT font = CreateFontA(atoi(args[0]), 0, 0, 0, atoi(args[1]), (DWORD)atoi(args[2]), 0, 0,
                             ANSI_CHARSET, 0, 0, 0, (DWORD)atoi(args[3]), args[4]);
    HDC dc = CreateCompatibleDC(0);
    HGDIOBJ previous = SelectObject(dc, font);
    const char *text = args[5];
    SIZE size = {};
    BOOL measured = GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
    static const MAT2 identity = { { 0, 1 }, { 0, 0 }, { 0, 0 }, { 0, 1 } };
    long left = 0, right = size.cx, x = 0;
    for (const char *c = text; measured && *c; c++) {
        GLYPHMETRICS glyph;
        if (GetGlyphOutlineA(dc, (BYTE)*c, GGO_METRICS, &glyph, 0, 0, &identity) == GDI_ERROR) {
            measured = FALSE;
            break;
        }
        long inkLeft = x + glyph.gmptGlyphOrigin.x, inkRight = inkLeft + (long)glyph.gmBlackBoxX;
        left = inkLeft < left ? inkLeft : left;
        right = inkRight > right ? inkRight : right;
        x += glyph.gmCellIncX;
    }
    DeleteObject(SelectObject(dc, previous));
    DeleteDC(dc);
    if (!measured)
        return 1;
    printf("%ld 0 %ld %ld\n", left, right, size.cy);
    return 0;
}

static int PrintSysColor(int index)
{
    COLORREF colour = GetSysColor(index);
    printf("%d %d %d\n", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return 0;
}

static int PrintForeground(void)
{
    char title[256] = "";
    HWND window = GetForegroundWindow();
    if (window)
        GetWindowTextA(window, title, sizeof title);
    printf("%s\n", title);
    return 0;
}

// Wine ends its desktop when the last program using it exits, and makes a
// new one, with new registry entries for its display, for the next; a real
// session keeps one up. A window, even an unseen one, holds it.
static int HoldDesktop(void)
{
    CreateWindowExA(0, "STATIC", "desktop holder", 0, 0, 0, 1, 1, 0, 0, 0, 0);
    printf("holding\n");
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

static int LockFile(const char *name, DWORD sharing, const char *said)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, sharing, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    printf("%s\n", said);
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

// One of this program's standard handles, made inheritable: the pipe that
// a deployment tool reads a program's output from is.
static HANDLE InheritableStandard(DWORD which)
{
    HANDLE handle = GetStdHandle(which), inheritable = 0;
    if (handle && handle != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &inheritable, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    return inheritable;
}

// The line is read from the wide command line: the ANSI one has lost every
// letter that the code page lacks.
static int RunCommandLine(void)
{
    int count = 0;
    WCHAR **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableStandard(STD_INPUT_HANDLE);
    startup.hStdOutput = InheritableStandard(STD_OUTPUT_HANDLE);
    startup.hStdError = InheritableStandard(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started;
    if (count != 3 || !CreateProcessW(0, arguments[2], 0, 0, TRUE, 0, 0, 0, &startup, &started))
        return 1;
    DWORD code = 1;
    WaitForSingleObject(started.hProcess, INFINITE);
    GetExitCodeProcess(started.hProcess, &code);
    return (int)code;
}

// The loader's way of reading another program's resources maps its file
// as an image, which keeps the file from being deleted while it is mapped.
static int MapImage(const char *name)
{
    if (!LoadLibraryExA(name, 0, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
        return 1;
    printf("mapped\n");
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

static int PrintSecurity(const char *path)
{
    static const SECURITY_INFORMATION Parts = OWNER_SECURITY_INFORMATION |
                                              DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = 0;
    char *text = 0;
    if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, Parts, 0, 0, 0, 0, &descriptor) != ERROR_SUCCESS)
        return 1;
    BOOL written = ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                        Parts, &text, 0);
    if (written)
        printf("%s\n", text);
    LocalFree(text);
    LocalFree(descriptor);
    return written ? 0 : 1;
}

static int PrintProcesses(const char *name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 1;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name) == 0)
            printf("%lu %lu\n", (unsigned long)entry.th32ProcessID,
                   (unsigned long)entry.th32ParentProcessID);
    CloseHandle(snapshot);
    return 0;
}

static int PrintClocks(void)
{
    static const ULONGLONG FromWindowsToUnixEpoch = 116444736000000000ULL, PerSecond = 10000000;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG filetime = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
    printf("tick %lu\n", (unsigned long)GetTickCount());
    printf("tick64 %llu\n", (unsigned long long)GetTickCount64());
    printf("filetime %llu\n", (unsigned long long)filetime);
    printf("unixtime %llu\n", (unsigned long long)((filetime - FromWindowsToUnixEpoch) / PerSecond));
    return 0;
}

// A user turning to another program: the window that has the keyboard goes
// to the background. Small and in the corner, the new one hides nothing of a
// window that the test is looking at.
static int ComeToFront(void)
{
    static const int Width = 160, Height = 40;
    HWND window = CreateWindowExA(0, "STATIC", "wininfo front", WS_POPUP | WS_BORDER | WS_VISIBLE,
                                  GetSystemMetrics(SM_CXSCREEN) - Width,
                                  GetSystemMetrics(SM_CYSCREEN) - Height, Width, Height,
                                  0, 0, 0, 0);
    SetForegroundWindow(window);
    printf("front\n");
    fflush(stdout);
    MSG message;
    while (GetMessageA(&message, 0, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

// The player takes the default sound from win.ini's [Sounds] section, which
// the platform may keep in the registry instead (Wine maps it to the user's
// Control Panel\Sounds key): the profile functions find it wherever it is.
static int SetDefaultSound(const char *file)
{
    char read[MAX_PATH] = "";
    if (!WriteProfileStringA("Sounds", "Default", file))
        return 1;
    GetProfileStringA("Sounds", "Default", "", read, sizeof read);
    printf("%s\n", read);
    return 0;
}

enum { PlayerCrashed = 3, PlayerHung = 4, MostThreads = 64 };
static const DWORD PlayerWorkLimit = 3000, StopLimit = 2000;

// A crash in the player's thread ends the process with a code that says so,
// rather than leave it behind the platform's crash box.
static LONG WINAPI EndOnCrash(EXCEPTION_POINTERS *)
{
    TerminateProcess(GetCurrentProcess(), PlayerCrashed);
    return EXCEPTION_EXECUTE_HANDLER;
}

static int ListOwnThreads(DWORD *ids)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more && count < MostThreads;
         more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids[count++] = entry.th32ThreadID;
    CloseHandle(snapshot);
    return count;
}

// The threads that have come since `before` was listed, opened for waiting.
static int OpenNewThreads(const DWORD *before, int beforeCount, HANDLE *opened)
{
    DWORD now[MostThreads];
    int nowCount = ListOwnThreads(now), count = 0;
    for (int i = 0; i < nowCount; i++) {
        int known = 0;
        for (int j = 0; j < beforeCount; j++)
            known |= now[i] == before[j];
        HANDLE thread = known ? 0 : OpenThread(SYNCHRONIZE, FALSE, now[i]);
        if (thread)
            opened[count++] = thread;
    }
    return count;
}

static DWORD WINAPI StopSound(void *)
{
    PlaySoundA(0, 0, SND_ASYNC);
    return 0;
}

// The player works in threads of its own: a crash there ends the process, and
// a player that loops in the file shows when the call that stops the sound,
// which waits for it, never returns. The player is stopped only once its
// threads have finished or had their time, so that it meets all of the file.
static int PlayAsThePianoDoes(const char *file)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
    DWORD before[MostThreads];
    int beforeCount = ListOwnThreads(before);
    printf("playing\n");
    fflush(stdout);
    PlaySoundA(file, 0, SND_ASYNC);
    HANDLE player[MostThreads];
    int playerCount = OpenNewThreads(before, beforeCount, player);
    if (playerCount)
        WaitForMultipleObjects((DWORD)playerCount, player, TRUE, PlayerWorkLimit);
    HANDLE stop = CreateThread(0, 0, StopSound, 0, 0, 0);
    if (WaitForSingleObject(stop, StopLimit) == WAIT_TIMEOUT) {
        printf("hung\n");
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), PlayerHung);
    }
    printf("returned\n");
    return 0;
}

static int JudgeSoundFiles(const char *folder)
{
    char pattern[MAX_PATH], path[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s\\*.wav", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    do {
        snprintf(path, sizeof path, "%s\\%s", folder, found.cFileName);
        printf("%s %d\n", found.cFileName, CouldCrashOrHangPlayer(path));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "foreground") == 0)
        return PrintForeground();
    if (argc == 2 && strcmp(argv[1], "hold") == 0)
        return HoldDesktop();
    if (argc == 2 && strcmp(argv[1], "front") == 0)
        return ComeToFront();
    if (argc == 2 && strcmp(argv[1], "clock") == 0)
        return PrintClocks();
    if (argc == 2 && strcmp(argv[1], "frame") == 0)
        return PrintOverlappedFrame();
    if (argc == 8 && strcmp(argv[1], "textbox") == 0)
        return PrintTextBox(argv + 2);
    if (argc != 3)
        return 2;
    const char *mode = argv[1], *name = argv[2];
    if (strcmp(mode, "box") == 0)
        return PrintBoxes(name);
    if (strcmp(mode, "ok") == 0)
        return PressOk(name);
    if (strcmp(mode, "boxparts") == 0)
        return PrintBoxParts(name);
    if (strcmp(mode, "rect") == 0)
        return PrintRect(name);
    if (strcmp(mode, "state") == 0)
        return PrintState(name);
    if (strcmp(mode, "style") == 0)
        return PrintStyle(name);
    if (strcmp(mode, "syscolor") == 0)
        return PrintSysColor(atoi(name));
    if (strcmp(mode, "stats") == 0)
        return Stats(name);
    if (strcmp(mode, "defaultsound") == 0)
        return SetDefaultSound(name);
    if (strcmp(mode, "play") == 0)
        return PlayAsThePianoDoes(name);
    if (strcmp(mode, "texts") == 0)
        return PrintTexts(name);
    if (strcmp(mode, "judge") == 0)
        return JudgeSoundFiles(name);
    if (strcmp(mode, "lock") == 0)
        return LockFile(name, 0, "locked");
    if (strcmp(mode, "read") == 0)
        return LockFile(name, FILE_SHARE_READ | FILE_SHARE_WRITE, "reading");
    if (strcmp(mode, "run") == 0)
        return RunCommandLine();
    if (strcmp(mode, "map") == 0)
        return MapImage(name);
    if (strcmp(mode, "processes") == 0)
        return PrintProcesses(name);
    if (strcmp(mode, "security") == 0)
        return PrintSecurity(name);
    return 2;
}
