// The uninstaller that the list of installed programs starts: a front for
// the installer's remover (REMOVER_NAME beside it), which does the removal.
//
// An NSIS uninstaller started by its name copies itself to TEMP, starts the
// copy and returns 0 at once, before anything is removed; run in place it
// waits, but cannot delete its own file. So this program ends with the
// remover's exit code (0 removed, 1 cancelled, 2 stopped), whatever else its
// caller appended to its command line: only /S, for a silent removal, is
// passed on. Nothing in the program's folder is left for the next restart,
// where it could take a file that a later install wrote there.
//
// A running program's file cannot be deleted, so the removal runs from a
// copy of this program in a new folder in Windows' own TEMP. The copy is
// started first, before anything is removed, and runs with administrator
// rights: so its folder admits only administrators, in a folder where
// users cannot rename what administrators made (the user's own TEMP is not
// one), and a handle that does not share deletion holds it from its making
// until the copy has ended. This program hands the
// copy, by inheritance, that folder, its own file opened for deletion and
// its own process: the copy obeys nothing else. The copy runs the remover
// in place and waits for it; after a removal it opens the remover's file
// for deletion too, reports the exit code and, once this program has ended,
// deletes both files through those handles and the folder if it is empty.
// From the report to the deletion no one can write either file, so an
// install made meanwhile finds them in use and loses nothing.
//
// Paths go through the wide API: the program's folder may be named in
// letters that the ANSI code page lacks.
#include <windows.h>
#include <sddl.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include "product.h"

static const WCHAR RemoverName[] = L"" REMOVER_NAME;
static const WCHAR UninstallerName[] = L"" UNINSTALLER_NAME;
static const WCHAR SilentSwitch[] = L"/S";
// Given to the copy in Windows' TEMP, with /S if silent and the handed-over
// handles after it.
static const WCHAR CleanUpSwitch[] = L"/clean-up";
static const WCHAR Caption[] = L"" PRODUCT_NAME " Uninstall";

// Room in Windows' TEMP for the work folder's name and the copy's.
enum { Stopped = 2, CommandLineSize = 3 * MAX_PATH + 32, WorkNameRoom = 64 };
// A file whose process has just ended may be held a moment longer; one
// still held after this long is left.
static const DWORD DeletePolls = 300, DeletePollMs = 100;
// A folder whose files are going is empty within moments.
static const DWORD EmptyPolls = 20;

// What this program hands its copy, by inheritance.
struct Handover {
    HANDLE workFolder;    // the copy's folder, held against renaming
    HANDLE uninstaller;   // this program's file, opened for deletion
    HANDLE process;       // this program's process, which the copy outlives
    HANDLE report;        // a pipe for the removal's exit code
};

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

// `name` in `folder`.
static int PathIn(const WCHAR *folder, const WCHAR *name, WCHAR *path)
{
    const WCHAR *const parts[] = {folder, L"\\", name};
    return Compose(path, MAX_PATH, parts, ARRAYSIZE(parts));
}

// This program's own full path; 0 if it does not fit.
static int OwnPath(WCHAR *path)
{
    DWORD length = GetModuleFileNameW(0, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// Cuts a full path at its last backslash and gives back the name after it.
static const WCHAR *CutToFolder(WCHAR *path)
{
    WCHAR *last = wcsrchr(path, L'\\');
    if (!last)
        return path + wcslen(path);
    *last = 0;
    return last + 1;
}

static void Complain(int silent, const WCHAR *text)
{
    if (!silent)
        MessageBoxW(0, text, Caption, MB_OK | MB_ICONSTOP);
}

static void Close(HANDLE handle)
{
    if (handle)
        CloseHandle(handle);
}

// Opens a file or folder that exists; the handle, or 0.
static HANDLE Open(const WCHAR *path, DWORD access, DWORD sharing, DWORD flags, BOOL inherit)
{
    SECURITY_ATTRIBUTES security = {sizeof security, 0, inherit};
    HANDLE handle = CreateFileW(path, access, sharing, &security, OPEN_EXISTING, flags, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    return handle;
}

// Windows' own TEMP folder, in `temp`. There users may make folders of
// their own, but neither rename nor delete those of others; the user's
// TEMP is the user's, and there the user's programs could swap a folder of
// the copy's for another of the same name, or for a link elsewhere, under
// the copy and under the restart's deletes.
static int SystemTemp(WCHAR *temp)
{
    WCHAR windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH && PathIn(windows, L"Temp", temp);
}

// A new folder in Windows' TEMP for the copy, that only administrators and
// the system may write to, held by a handle that the copy inherits: its
// sharing leaves out deletion, so that no one renames the folder while the
// removal runs. The handle may delete the folder itself.
static int MakeWorkFolder(WCHAR *folder, HANDLE *held)
{
    WCHAR temp[MAX_PATH];
    if (!SystemTemp(temp) || wcslen(temp) >= MAX_PATH - WorkNameRoom)
        return 0;
    PSECURITY_DESCRIPTOR descriptor = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, 0))
        return 0;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    int made = 0;
    for (DWORD attempt = 0; attempt < 100 && !made; attempt++) {
        wsprintfW(folder, L"%s\\MorvanePiano-uninstall-%lx-%lu", temp, GetCurrentProcessId(),
                  attempt);
        made = CreateDirectoryW(folder, &security);
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    LocalFree(descriptor);
    if (!made)
        return 0;
    // Held as a current folder is: a handle that may only read attributes
    // would take no part in the sharing checks.
    *held = Open(folder, FILE_TRAVERSE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                 FILE_FLAG_BACKUP_SEMANTICS, TRUE);
    if (*held)
        return 1;
    RemoveDirectoryW(folder);
    return 0;
}

// Opens a file for deletion, sharing only reading, once whatever held it
// has let go; 0 if it is still held after the wait.
static HANDLE OpenForDeletion(const WCHAR *path)
{
    HANDLE file = 0;
    for (DWORD poll = 0; poll < DeletePolls && !file; poll++) {
        file = Open(path, DELETE, FILE_SHARE_READ, 0, FALSE);
        if (!file)
            Sleep(DeletePollMs);
    }
    return file;
}

// Deletes the file a handle holds, once no running program's image is made
// from it, and closes the handle.
static int DeleteThrough(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    int deleted = 0;
    for (DWORD poll = 0; poll < DeletePolls && !deleted; poll++) {
        deleted = SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                             sizeof disposition);
        if (!deleted)
            Sleep(DeletePollMs);
    }
    CloseHandle(file);
    return deleted;
}

// Starts `program` with `commandLine` in `folder`, handing it this
// program's inheritable handles if `inherit`; the process, or 0.
static HANDLE Start(const WCHAR *program, WCHAR *commandLine, const WCHAR *folder, BOOL inherit)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessW(program, commandLine, 0, 0, inherit, 0, 0, folder, &startup, &started))
        return 0;
    CloseHandle(started.hThread);
    return started.hProcess;
}

// Opens this program's file for the copy to delete, its own process for the
// copy to wait on and the pipe the copy reports on, all inheritable; the
// pipe's end to read stays this program's alone.
static int PrepareHandover(const WCHAR *self, Handover *handover, HANDLE *reportRead)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, 0, TRUE};
    handover->uninstaller = Open(self, DELETE, FILE_SHARE_READ, 0, TRUE);
    return handover->uninstaller &&
           DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                           &handover->process, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                           TRUE, 0) &&
           CreatePipe(reportRead, &handover->report, &inheritable, 0) &&
           SetHandleInformation(*reportRead, HANDLE_FLAG_INHERIT, 0);
}

// Starts the copy with the handover on its command line; its process, or 0.
// It and the remover run in the system's folder, as their current one: in
// the user's TEMP they would look there for a library that they lack, and
// in the work folder they would hold it without the handle.
static HANDLE StartCopy(const WCHAR *copy, int silent, const Handover *handover)
{
    WCHAR commandLine[CommandLineSize], system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    wsprintfW(commandLine, L"\"%s\" %s%s %lx %lx %lx %lx", copy, CleanUpSwitch,
              silent ? L" /S" : L"", (unsigned long)(ULONG_PTR)handover->workFolder,
              (unsigned long)(ULONG_PTR)handover->uninstaller,
              (unsigned long)(ULONG_PTR)handover->process,
              (unsigned long)(ULONG_PTR)handover->report);
    return Start(copy, commandLine, system, TRUE);
}

// The copy's report: the remover's exit code, or Stopped if the copy ended
// without one.
static DWORD ReadReport(HANDLE reportRead)
{
    DWORD code = Stopped, read = 0;
    if (!ReadFile(reportRead, &code, sizeof code, &read, 0) || read != sizeof code)
        code = Stopped;
    return code;
}

static DWORD Uninstall(const WCHAR *arguments)
{
    WCHAR argument[MAX_PATH];
    int silent = 0;
    while (NextArgument(&arguments, argument, MAX_PATH))
        silent |= wcscmp(argument, SilentSwitch) == 0;

    WCHAR self[MAX_PATH], workFolder[MAX_PATH], copy[MAX_PATH];
    Handover handover = {0, 0, 0, 0};
    HANDLE reportRead = 0, copyProcess = 0;
    int copied = OwnPath(self) && MakeWorkFolder(workFolder, &handover.workFolder) &&
                 PathIn(workFolder, UninstallerName, copy) && CopyFileW(self, copy, TRUE);
    if (copied && PrepareHandover(self, &handover, &reportRead))
        copyProcess = StartCopy(copy, silent, &handover);
    // The copy holds what it was handed; these are this program's own.
    Close(handover.uninstaller);
    Close(handover.process);
    Close(handover.report);

    DWORD code = Stopped;
    if (copyProcess)
        code = ReadReport(reportRead);
    else
        Complain(silent, L"The uninstaller could not start its working copy in the "
                         L"temporary folder, so nothing was removed.");
    Close(reportRead);
    // After a removal the copy deletes this program's file once it has
    // ended; otherwise the copy ends at once, and goes with its folder,
    // which this program still holds.
    if (code != 0 && copyProcess)
        WaitForSingleObject(copyProcess, DeletePolls * DeletePollMs);
    Close(copyProcess);
    HANDLE copyFile = code != 0 && copied ? OpenForDeletion(copy) : 0;
    if (copyFile)
        DeleteThrough(copyFile);
    if (code != 0 && handover.workFolder)
        DeleteThrough(handover.workFolder);
    else
        Close(handover.workFolder);
    return code;
}

// -- the copy in Windows' TEMP -------------------------------------------------

// The full path of what a handle holds, as C:\..., in `path`.
static int FinalPath(HANDLE handle, WCHAR *path)
{
    WCHAR found[MAX_PATH + 8];
    DWORD length = GetFinalPathNameByHandleW(handle, found, ARRAYSIZE(found), 0);
    if (length == 0 || length >= ARRAYSIZE(found))
        return 0;
    // \\?\C:\... or, on a network share, \\?\UNC\server\share\...
    const WCHAR *at = found, *start = L"";
    if (wcsncmp(found, L"\\\\?\\UNC\\", 8) == 0) {
        at = found + 8;
        start = L"\\\\";
    }
    else if (wcsncmp(found, L"\\\\?\\", 4) == 0)
        at = found + 4;
    const WCHAR *const parts[] = {start, at};
    return Compose(path, MAX_PATH, parts, ARRAYSIZE(parts));
}

// The full path of a file or folder as the handles above give it.
static int FinalPathOf(const WCHAR *name, WCHAR *path)
{
    HANDLE handle = Open(name, FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         FILE_FLAG_BACKUP_SEMANTICS, FALSE);
    int found = handle && FinalPath(handle, path);
    Close(handle);
    return found;
}

static int IsFolder(HANDLE handle, int folder)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, &information) &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == !folder;
}

// A handle's value as the command line gives it, in hexadecimal. A real
// handle is a small multiple of four: never one of the pseudo handles, as
// -1 is this process's own.
static int ReadHandle(const WCHAR **cursor, HANDLE *handle)
{
    WCHAR argument[16];
    if (!NextArgument(cursor, argument, ARRAYSIZE(argument)) || !argument[0] ||
        wcsspn(argument, L"0123456789abcdef") != wcslen(argument) || wcslen(argument) > 7)
        return 0;
    ULONG_PTR value = wcstoul(argument, 0, 16);
    *handle = (HANDLE)value;
    return value != 0 && value % 4 == 0;
}

// Whether `process` is another process, running the program at `path`.
static int Runs(HANDLE process, const WCHAR *path)
{
    WCHAR image[MAX_PATH], imagePath[MAX_PATH];
    DWORD length = MAX_PATH, exitCode = 0;
    return GetProcessId(process) != GetCurrentProcessId() &&
           GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE &&
           QueryFullProcessImageNameW(process, 0, image, &length) &&
           FinalPathOf(image, imagePath) && _wcsicmp(imagePath, path) == 0;
}

// Reads the handover from the copy's command line and checks it as only
// this removal's own could pass: the copy runs from the folder it was
// handed, a new folder directly in Windows' TEMP; it was handed the
// uninstaller's file in the program's folder, which it gives back, and the
// uninstaller's process, running that file and waiting for it.
static int TakeHandover(const WCHAR *arguments, int *silent, Handover *handover, WCHAR *folder)
{
    const WCHAR *rest = arguments, *at = arguments;
    WCHAR argument[8];
    *silent = NextArgument(&at, argument, ARRAYSIZE(argument)) &&
              wcscmp(argument, SilentSwitch) == 0;
    if (*silent)
        rest = at;
    if (!ReadHandle(&rest, &handover->workFolder) || !ReadHandle(&rest, &handover->uninstaller) ||
        !ReadHandle(&rest, &handover->process) || !ReadHandle(&rest, &handover->report))
        return 0;
    WCHAR work[MAX_PATH], self[MAX_PATH], ownFolder[MAX_PATH], temp[MAX_PATH], tempFolder[MAX_PATH];
    if (!IsFolder(handover->workFolder, 1) || !FinalPath(handover->workFolder, work) ||
        !OwnPath(self) || !FinalPathOf(self, ownFolder) ||
        !SystemTemp(temp) || !FinalPathOf(temp, tempFolder) ||
        !IsFolder(handover->uninstaller, 0) || !FinalPath(handover->uninstaller, folder) ||
        GetFileType(handover->report) != FILE_TYPE_PIPE || !Runs(handover->process, folder))
        return 0;
    CutToFolder(ownFolder);
    const WCHAR *name = CutToFolder(folder);
    if (_wcsicmp(ownFolder, work) != 0 || _wcsicmp(name, UninstallerName) != 0)
        return 0;
    CutToFolder(work);      // now the folder that holds it
    return _wcsicmp(work, tempFolder) == 0;
}

// Runs the remover in place, on the program's folder, and waits for it:
// its exit code, or Stopped if it could not start.
static DWORD RunRemover(const WCHAR *folder, int silent)
{
    WCHAR remover[MAX_PATH] = L"", commandLine[CommandLineSize];
    // _?= takes the rest of the line as the folder, so it comes last.
    const WCHAR *const line[] = {L"\"", remover, silent ? L"\" /S _?=" : L"\" _?=", folder};
    HANDLE process = 0;
    if (PathIn(folder, RemoverName, remover) &&
        Compose(commandLine, CommandLineSize, line, ARRAYSIZE(line)))
        process = Start(remover, commandLine, 0, FALSE);
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

// Removes a folder once it is empty: a file deleted through a handle that
// another program also has open goes only when that handle is closed.
// A folder that still holds the user's files stays.
static void RemoveWhenEmpty(const WCHAR *folder)
{
    for (DWORD poll = 0; poll < EmptyPolls && !RemoveDirectoryW(folder); poll++)
        Sleep(DeletePollMs);
}

// The copy's work. It cannot delete its own running file, so that and its
// folder, both in Windows' TEMP, go at the next restart.
static DWORD RemoveAsCopy(const WCHAR *arguments)
{
    int silent = 0;
    Handover handover;
    WCHAR folder[MAX_PATH], remover[MAX_PATH];
    if (!TakeHandover(arguments, &silent, &handover, folder))
        return Stopped;
    DWORD code = RunRemover(folder, silent), written;
    HANDLE removerFile = 0;
    if (code == 0 && PathIn(folder, RemoverName, remover))
        removerFile = OpenForDeletion(remover);
    WriteFile(handover.report, &code, sizeof code, &written, 0);
    CloseHandle(handover.report);
    if (code == 0) {
        WaitForSingleObject(handover.process, DeletePolls * DeletePollMs);
        int deleted = DeleteThrough(handover.uninstaller);
        if (removerFile && DeleteThrough(removerFile) && deleted)
            RemoveWhenEmpty(folder);
        WCHAR copy[MAX_PATH];
        if (OwnPath(copy)) {
            MoveFileExW(copy, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
            CutToFolder(copy);
            MoveFileExW(copy, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
    return code;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const WCHAR *arguments = GetCommandLineW();
    WCHAR argument[MAX_PATH];
    NextArgument(&arguments, argument, MAX_PATH);      // this program's own name
    const WCHAR *rest = arguments;
    if (NextArgument(&rest, argument, MAX_PATH) && wcscmp(argument, CleanUpSwitch) == 0)
        return (int)RemoveAsCopy(rest);
    return (int)Uninstall(arguments);
}
