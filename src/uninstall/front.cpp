// The uninstaller as the list of installed programs starts it: it puts a
// copy of itself in a new folder in Windows' TEMP, hands that copy the
// removal and ends with the removal's exit code, saying in a box (unless
// silent) why whenever the copy could not do its work.
#include "uninstall.h"
#include <bcrypt.h>
#include <string.h>
#include <wchar.h>
#include "product.h"

static const WCHAR CouldNotStart[] =
    L"The uninstaller could not start its working copy in the temporary folder, so nothing "
    L"was removed.";
static const WCHAR InUse[] =
    L"The uninstaller's own file is in use by another program, so nothing was removed. "
    L"Close that program and try again.";
static const WCHAR Refused[] =
    L"The uninstaller's working copy in the temporary folder refused to take over the "
    L"removal, so nothing was removed.";
static const WCHAR EndedUnreported[] =
    L"The uninstaller's working copy in the temporary folder ended without saying how the "
    L"removal went. If " PRODUCT_NAME " is still in the list of installed programs, "
    L"uninstall it again.";

// The work folder's name: whose it is, then a random part, so that no one
// can make the folder ahead of time and stop the removal.
static const WCHAR WorkFolderPrefix[] = L"MorvanePiano-uninstall-";
enum { RandomBytes = 8, NameTries = 4 };
// Room in Windows' TEMP for the work folder's name and the copy's.
enum { WorkNameRoom = 64 };

// Two chunks of a file at a time, read or compared.
static BYTE Chunks[2][8192];

// Whether the caller asked for a silent removal. Of whatever a caller
// appends to the programs list's command lines, only /S is passed on.
static int IsSilent(const WCHAR *arguments)
{
    WCHAR argument[MAX_PATH];
    int silent = 0;
    while (NextArgument(&arguments, argument, MAX_PATH))
        silent |= wcscmp(argument, SilentSwitch) == 0;
    return silent;
}

// A new path in `temp` for the work folder, with a random part from the
// system's source.
static int RandomFolderPath(const WCHAR *temp, WCHAR *folder)
{
    BYTE random[RandomBytes];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(0, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return 0;
    WCHAR hex[2 * RandomBytes + 1];
    for (int i = 0; i < RandomBytes; i++)
        wsprintfW(hex + 2 * i, L"%02x", random[i]);
    const WCHAR *const parts[] = {temp, L"\\", WorkFolderPrefix, hex};
    return Compose(folder, MAX_PATH, parts, ARRAYSIZE(parts));
}

// Makes a folder of a new random name in `temp`, into `folder`; a name
// taken already is not used, whoever made it.
static int MakeNewFolder(const WCHAR *temp, PSECURITY_DESCRIPTOR descriptor, WCHAR *folder)
{
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    for (int tries = 0; tries < NameTries; tries++) {
        if (!RandomFolderPath(temp, folder))
            return 0;
        if (CreateDirectoryW(folder, &security))
            return 1;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
    }
    return 0;
}

// A new folder in Windows' TEMP for the copy, held by a handle that the
// copy inherits: its sharing leaves out deletion, so that no one renames
// the folder while the removal runs. The handle may delete the folder itself.
static int MakeWorkFolder(WCHAR *folder, HANDLE *held)
{
    WCHAR temp[MAX_PATH];
    PSECURITY_DESCRIPTOR descriptor = 0;
    if (!SystemTemp(temp) || wcslen(temp) >= MAX_PATH - WorkNameRoom ||
        !(descriptor = WorkFolderDescriptor()))
        return 0;
    int made = MakeNewFolder(temp, descriptor, folder);
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

static int Rewind(HANDLE file)
{
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, 0, FILE_BEGIN);
}

// Copies a file's bytes from its start, handle to handle.
static int CopyBytes(HANDLE from, HANDLE to)
{
    DWORD read = 0, written = 0;
    if (!Rewind(from))
        return 0;
    do {
        if (!ReadFile(from, Chunks[0], sizeof Chunks[0], &read, 0) ||
            !WriteFile(to, Chunks[0], read, &written, 0) || written != read)
            return 0;
    } while (read > 0);
    return 1;
}

// Whether two files hold the same bytes.
static int SameBytes(HANDLE first, HANDLE second)
{
    DWORD read[2] = {0, 0};
    if (!Rewind(first) || !Rewind(second))
        return 0;
    do {
        if (!ReadFile(first, Chunks[0], sizeof Chunks[0], &read[0], 0) ||
            !ReadFile(second, Chunks[1], sizeof Chunks[1], &read[1], 0) || read[0] != read[1] ||
            memcmp(Chunks[0], Chunks[1], read[0]) != 0)
            return 0;
    } while (read[0] > 0);
    return 1;
}

// Writes the copy's file with this program's bytes, read through `self`,
// which has held them since the start, and holds it from then on: a handle
// that shares only reading keeps writers out. A program's file is opened
// for reading and running when it starts, which a handle that may write
// would refuse, so the writer makes way for the holder; the bytes are then
// checked again, in case anyone wrote in between. The holder, or 0 with
// nothing left behind: a file that could not be held again is deleted by
// its name, which is safe in the work folder, where only administrators
// and the system may make anything, and which no one can rename while it
// is held.
static HANDLE WriteCopy(HANDLE self, const WCHAR *copy)
{
    HANDLE writer = CreateFileW(copy, GENERIC_WRITE | DELETE, 0, 0, CREATE_NEW, 0, 0);
    if (writer == INVALID_HANDLE_VALUE)
        return 0;
    if (!CopyBytes(self, writer)) {
        DeleteThrough(writer);
        return 0;
    }
    CloseHandle(writer);
    HANDLE holder = Open(copy, GENERIC_READ | DELETE, FILE_SHARE_READ, 0, FALSE);
    if (holder && SameBytes(self, holder))
        return holder;
    if (!holder)
        holder = OpenForDeletion(copy);
    if (holder)
        DeleteThrough(holder);
    return 0;
}

// Duplicates this program's process for the copy to wait on, and makes the
// pipe the copy reports on, both inheritable; the pipe's end to read stays
// this program's alone.
static int PrepareHandover(Handover *handover, HANDLE *reportRead)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, 0, TRUE};
    return DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                           &handover->process, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                           TRUE, 0) &&
           CreatePipe(reportRead, &handover->report, &inheritable, 0) &&
           SetHandleInformation(*reportRead, HANDLE_FLAG_INHERIT, 0);
}

// Starts the copy with the handover on its command line; its process, or 0.
// It and the remover run in the system's folder, as their current one: in
// the user's TEMP they would look there for a library that they lack, and
// in the work folder they would hold it without the handle.
static HANDLE StartCopy(const WCHAR *copy, int silent, Handover *handover)
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
    HANDLE handed[] = {handover->workFolder, handover->uninstaller, handover->process,
                       handover->report};
    return Start(copy, commandLine, system, handed, ARRAYSIZE(handed));
}

// Reads the copy's report, the remover's exit code, into `code`; 0 if the
// copy ended without one.
static int ReadReport(HANDLE reportRead, DWORD *code)
{
    DWORD report = 0, read = 0;
    if (!ReadFile(reportRead, &report, sizeof report, &read, 0) || read != sizeof report)
        return 0;
    *code = report;
    return 1;
}

// Why the copy ended without a report. A copy that refuses what it was
// handed ends at once, with Stopped; one that has taken the handover always
// reports, so one that ended otherwise was ended from outside, or failed,
// perhaps while the remover ran.
static const WCHAR *WhyUnreported(HANDLE copyProcess)
{
    DWORD exitCode = 0;
    WaitForSingleObject(copyProcess, HoldMs);
    if (GetExitCodeProcess(copyProcess, &exitCode) && exitCode == Stopped)
        return Refused;
    return EndedUnreported;
}

// After a removal the copy deletes this program's file once it has ended,
// and leaves its own file and folder to the restart; otherwise the copy
// ends at once, and goes with its folder, which this program still holds.
static void LetGoOfCopy(int removed, HANDLE copyProcess, HANDLE copyFile, HANDLE workFolder)
{
    if (!removed && copyProcess)
        WaitForSingleObject(copyProcess, HoldMs);
    Close(copyProcess);
    if (!removed && copyFile)
        DeleteThrough(copyFile);
    else
        Close(copyFile);
    if (!removed && workFolder)
        DeleteThrough(workFolder);
    else
        Close(workFolder);
}

// A running program's file cannot be deleted, so the removal runs from a
// copy of this program, started before anything is removed.
static DWORD Uninstall(const WCHAR *arguments)
{
    int silent = IsSilent(arguments);
    WCHAR self[MAX_PATH], workFolder[MAX_PATH], copy[MAX_PATH];
    Handover handover = {0, 0, 0, 0};
    HANDLE copyFile = 0, reportRead = 0, copyProcess = 0;
    const WCHAR *failure = CouldNotStart;
    // This program's file is held first: the copy is made from what runs.
    // Another program that holds it, writing it or sharing no deletion,
    // stops the removal before anything is made.
    if (OwnPath(self) &&
        !(handover.uninstaller = Open(self, GENERIC_READ | DELETE, FILE_SHARE_READ, 0, TRUE)) &&
        GetLastError() == ERROR_SHARING_VIOLATION)
        failure = InUse;
    if (handover.uninstaller && MakeWorkFolder(workFolder, &handover.workFolder) &&
        PathIn(workFolder, UninstallerName, copy) &&
        (copyFile = WriteCopy(handover.uninstaller, copy)) &&
        PrepareHandover(&handover, &reportRead))
        copyProcess = StartCopy(copy, silent, &handover);
    // The copy holds what it was handed; these are this program's own.
    Close(handover.uninstaller);
    Close(handover.process);
    Close(handover.report);

    DWORD code = Stopped;
    if (!copyProcess)
        Complain(silent, failure);
    else if (!ReadReport(reportRead, &code))
        Complain(silent, WhyUnreported(copyProcess));
    Close(reportRead);
    LetGoOfCopy(code == 0, copyProcess, copyFile, handover.workFolder);
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
