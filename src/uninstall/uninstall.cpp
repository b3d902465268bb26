// The uninstaller that the list of installed programs starts: a front for
// the installer's remover (REMOVER_NAME beside it), which does the removal.
//
// An NSIS uninstaller started by its name copies itself to TEMP, starts the
// copy and returns 0 at once, before anything is removed; run in place it
// waits, but cannot delete its own file. So this program runs the remover in
// place, waits for it and ends with its exit code (0 removed, 1 cancelled, 2
// stopped), whatever else its caller appended to its command line: only /S,
// for a silent removal, is passed on. After a removal it leaves a copy of
// itself under TEMP that deletes this file and the remover's once both have
// ended, then the folder if nothing else is in it. Nothing in the program's
// folder is left for the next restart, where it could take a file that a
// later install wrote there; only the copy under TEMP is.
//
// Paths go through the wide API: the program's folder may be named in
// letters that the ANSI code page lacks.
#include <windows.h>
#include <sddl.h>
#include <string.h>
#include <wchar.h>
#include "product.h"

static const WCHAR RemoverName[] = L"" REMOVER_NAME;
static const WCHAR SilentSwitch[] = L"/S";
// Given to the copy under TEMP, with this program's path after it.
static const WCHAR CleanUpSwitch[] = L"/clean-up";
static const WCHAR CopyName[] = L"Uninstall.exe";
static const WCHAR Caption[] = L"" PRODUCT_NAME " Uninstall";

// Room under TEMP for the work folder's name and the copy's.
enum { Stopped = 2, CommandLineSize = 3 * MAX_PATH + 32, WorkNameRoom = 64 };
// The remover and this program end within moments of each other; a copy
// still waiting for their files after this long gives up.
static const DWORD CleanUpPolls = 300, CleanUpPollMs = 100;

// Copies the next argument of a command line into `argument` (quotes
// removed) and moves `cursor` past it; 0 at the end. A path never holds a
// quote, so quotes only group.
static int NextArgument(const WCHAR **cursor, WCHAR *argument, size_t size)
{
    const WCHAR *at = *cursor;
    while (*at == L' ' || *at == L'\t')
        at++;
    if (!*at)
        return 0;
    size_t length = 0;
    int quoted = 0;
    for (; *at && (quoted || (*at != L' ' && *at != L'\t')); at++) {
        if (*at == L'"')
            quoted = !quoted;
        else if (length < size - 1)
            argument[length++] = *at;
    }
    argument[length] = 0;
    *cursor = at;
    return 1;
}

// Fills `buffer`, of `size` characters, with the `count` texts of `parts`
// one after another; 0 if they do not fit.
static int Compose(WCHAR *buffer, size_t size, const WCHAR *const *parts, size_t count)
{
    size_t used = 0;
    buffer[0] = 0;
    for (size_t i = 0; i < count; i++) {
        const WCHAR *part = parts[i];
        size_t length = wcslen(part);
        if (used + length >= size)
            return 0;
        // With its terminator, which the next part writes over.
        memcpy(buffer + used, part, (length + 1) * sizeof *part);
        used += length;
    }
    return 1;
}

// The remover's path, beside the uninstaller in `folder`.
static int RemoverPath(const WCHAR *folder, WCHAR *remover)
{
    const WCHAR *const parts[] = {folder, L"\\", RemoverName};
    return Compose(remover, MAX_PATH, parts, ARRAYSIZE(parts));
}

// This program's own full path; 0 if it does not fit.
static int OwnPath(WCHAR *path)
{
    DWORD length = GetModuleFileNameW(0, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// The folder of a file's full path: the path cut at its last backslash.
static void CutToFolder(WCHAR *path)
{
    WCHAR *last = wcsrchr(path, L'\\');
    if (last)
        *last = 0;
}

static void Complain(int silent, const WCHAR *text)
{
    if (!silent)
        MessageBoxW(0, text, Caption, MB_OK | MB_ICONSTOP);
}

// A new folder under TEMP for the copy, that only administrators and the
// system may write to: the copy runs with administrator rights, and the
// user's TEMP is open to the same user's programs without them, which could
// otherwise put a program of their own in its place.
static int MakeWorkFolder(WCHAR *folder)
{
    WCHAR temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH - WorkNameRoom)
        return 0;
    PSECURITY_DESCRIPTOR descriptor = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, 0))
        return 0;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    int made = 0;
    for (DWORD attempt = 0; attempt < 100 && !made; attempt++) {
        wsprintfW(folder, L"%sMorvanePiano-uninstall-%lx-%lu", temp, GetCurrentProcessId(),
                  attempt);
        made = CreateDirectoryW(folder, &security);
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    LocalFree(descriptor);
    return made;
}

// Starts `program` with `commandLine` in `folder`; the process, or 0.
static HANDLE Start(const WCHAR *program, WCHAR *commandLine, const WCHAR *folder)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessW(program, commandLine, 0, 0, FALSE, 0, 0, folder, &startup, &started))
        return 0;
    CloseHandle(started.hThread);
    return started.hProcess;
}

// Runs the remover in place, on the program's folder, and waits for it:
// its exit code, or Stopped if it could not start.
static DWORD RunRemover(const WCHAR *folder, int silent, const WCHAR *workFolder)
{
    WCHAR remover[MAX_PATH] = L"", commandLine[CommandLineSize];
    // _?= takes the rest of the line as the folder, so it comes last.
    const WCHAR *const line[] = {L"\"", remover, silent ? L"\" /S _?=" : L"\" _?=", folder};
    HANDLE process = 0;
    if (RemoverPath(folder, remover) &&
        Compose(commandLine, CommandLineSize, line, ARRAYSIZE(line)))
        process = Start(remover, commandLine, workFolder);
    if (!process) {
        WCHAR text[2 * MAX_PATH];
        wsprintfW(text, L"The uninstaller could not start %s, so nothing was removed.", remover);
        Complain(silent, text);
        return Stopped;
    }
    DWORD code = Stopped;
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

// Starts the copy that deletes this program's file, the remover's and the
// folder once this program has ended.
static int StartCleanUp(const WCHAR *copy, const WCHAR *self, const WCHAR *workFolder)
{
    WCHAR commandLine[CommandLineSize];
    const WCHAR *const line[] = {L"\"", copy, L"\" ", CleanUpSwitch, L" \"", self, L"\""};
    HANDLE process = 0;
    if (Compose(commandLine, CommandLineSize, line, ARRAYSIZE(line)))
        process = Start(copy, commandLine, workFolder);
    if (process)
        CloseHandle(process);
    return process != 0;
}

static DWORD Uninstall(const WCHAR *arguments)
{
    WCHAR argument[MAX_PATH];
    int silent = 0;
    while (NextArgument(&arguments, argument, MAX_PATH))
        silent |= wcscmp(argument, SilentSwitch) == 0;

    WCHAR self[MAX_PATH], folder[MAX_PATH], workFolder[MAX_PATH], copy[MAX_PATH];
    const WCHAR *const copyPath[] = {workFolder, L"\\", CopyName};
    // The copy is made before anything is removed, so that a removal never
    // ends with nothing left to delete this program's file.
    if (!OwnPath(self) || !MakeWorkFolder(workFolder) ||
        !Compose(copy, MAX_PATH, copyPath, ARRAYSIZE(copyPath)) || !CopyFileW(self, copy, TRUE)) {
        Complain(silent, L"The uninstaller could not make its working copy in the "
                         L"temporary folder, so nothing was removed.");
        return Stopped;
    }
    wcscpy(folder, self);
    CutToFolder(folder);
    DWORD code = RunRemover(folder, silent, workFolder);
    if (code == 0 && StartCleanUp(copy, self, workFolder))
        return code;
    DeleteFileW(copy);
    RemoveDirectoryW(workFolder);
    return code;
}

// Deletes `path` once whatever holds it has let go: a program's file cannot
// be deleted while the program runs.
static int DeleteWhenFree(const WCHAR *path)
{
    for (DWORD poll = 0; poll < CleanUpPolls; poll++) {
        if (DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return 1;
        Sleep(CleanUpPollMs);
    }
    return 0;
}

// The copy's work: the uninstaller's file and the remover's, once they have
// ended, then their folder. The copy cannot delete its own running file, so
// that and its folder, both under TEMP, go at the next restart.
static void CleanUp(const WCHAR *uninstaller)
{
    WCHAR folder[MAX_PATH], remover[MAX_PATH], copy[MAX_PATH];
    wcscpy(folder, uninstaller);
    CutToFolder(folder);
    if (RemoverPath(folder, remover) && DeleteWhenFree(uninstaller) && DeleteWhenFree(remover))
        RemoveDirectoryW(folder);
    if (!OwnPath(copy))
        return;
    MoveFileExW(copy, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    CutToFolder(copy);
    MoveFileExW(copy, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Parameters are named for what they hold here, not as the platform's
// header names them.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const WCHAR *arguments = GetCommandLineW();
    WCHAR argument[MAX_PATH], uninstaller[MAX_PATH];
    NextArgument(&arguments, argument, MAX_PATH);      // this program's own name
    const WCHAR *rest = arguments;
    if (NextArgument(&rest, argument, MAX_PATH) && wcscmp(argument, CleanUpSwitch) == 0 &&
        NextArgument(&rest, uninstaller, MAX_PATH)) {
        CleanUp(uninstaller);
        return 0;
    }
    return (int)Uninstall(arguments);
}
