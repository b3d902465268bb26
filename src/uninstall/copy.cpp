// The uninstaller's copy in Windows' TEMP: it takes the removal over from
// the front that started it, runs the installer's remover in place, reports
// the remover's exit code, and deletes both programs once they have ended.
#include "uninstall.h"
#include <stdlib.h>
#include <wchar.h>

// A folder whose files are going is empty within moments; one that still
// holds the user's files stays.
enum { EmptyTries = 20 };

// Cuts a full path at its last backslash and gives back the name after it.
static const WCHAR *CutToFolder(WCHAR *path)
{
    WCHAR *last = wcsrchr(path, L'\\');
    if (!last)
        return path + wcslen(path);
    *last = 0;
    return last + 1;
}

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
// uninstaller's process, running that file and waiting for it. Anything
// else, such as the switch given by hand, is refused, and the front that
// waits for a report then says so.
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
// its exit code, or Stopped if it could not start. Started by its name
// alone, an NSIS uninstaller copies itself to TEMP, starts the copy and
// returns 0 at once, before anything is removed; run in place (_?=) it
// waits, and cannot delete its own file, which this program then does.
static DWORD RunRemover(const WCHAR *folder, int silent)
{
    WCHAR remover[MAX_PATH] = L"", commandLine[CommandLineSize];
    // _?= takes the rest of the line as the folder, so it comes last.
    const WCHAR *const line[] = {L"\"", remover, silent ? L"\" /S _?=" : L"\" _?=", folder};
    HANDLE process = 0;
    if (PathIn(folder, RemoverName, remover) &&
        Compose(commandLine, CommandLineSize, line, ARRAYSIZE(line)))
        process = Start(remover, commandLine, 0, 0, 0);
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

static int TryRemovingFolder(void *folder)
{
    return RemoveDirectoryW((const WCHAR *)folder);
}

// Removes a folder once it is empty: a file deleted through a handle that
// another program also has open goes only when that handle is closed.
static void RemoveWhenEmpty(WCHAR *folder)
{
    KeepTrying(TryRemovingFolder, folder, EmptyTries);
}

// Deletes the uninstaller's file and the remover's through the handles
// that have held them since the report, once the uninstaller has ended,
// and then the program's folder if nothing else is in it. Nothing in the
// program's folder is left for the next restart, where it could take a
// file that a later install wrote there.
static void DeletePrograms(Handover *handover, HANDLE removerFile, WCHAR *folder)
{
    WaitForSingleObject(handover->process, HoldMs);
    int deleted = DeleteThrough(handover->uninstaller);
    if (removerFile && DeleteThrough(removerFile) && deleted)
        RemoveWhenEmpty(folder);
}

// This copy cannot delete its own running file: that and its folder, both
// in Windows' TEMP, go at the next restart.
static void LeaveSelfToRestart(void)
{
    WCHAR copy[MAX_PATH];
    if (!OwnPath(copy))
        return;
    MoveFileExW(copy, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    CutToFolder(copy);
    MoveFileExW(copy, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
}

DWORD RemoveAsCopy(const WCHAR *arguments)
{
    int silent = 0;
    Handover handover;
    WCHAR folder[MAX_PATH], remover[MAX_PATH];
    if (!TakeHandover(arguments, &silent, &handover, folder))
        return Stopped;
    DWORD code = RunRemover(folder, silent), written;
    // Held from before the report: from the report to the deletion no one
    // can write either file, so an install made meanwhile finds them in use
    // and loses nothing.
    HANDLE removerFile = 0;
    if (code == 0 && PathIn(folder, RemoverName, remover))
        removerFile = OpenForDeletion(remover);
    WriteFile(handover.report, &code, sizeof code, &written, 0);
    CloseHandle(handover.report);
    if (code == 0) {
        DeletePrograms(&handover, removerFile, folder);
        LeaveSelfToRestart();
    }
    return code;
}
