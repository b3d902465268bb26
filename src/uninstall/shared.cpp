// Command lines, paths, files and started programs, as both roles of the
// uninstaller handle them.
#include "uninstall.h"
#include <sddl.h>
#include <string.h>
#include <wchar.h>
#include "product.h"

const WCHAR RemoverName[] = L"" REMOVER_NAME;
const WCHAR UninstallerName[] = L"" UNINSTALLER_NAME;
const WCHAR SilentSwitch[] = L"/S";
// Given to the copy in Windows' TEMP, with /S if silent and the handed-over
// handles after it.
const WCHAR CleanUpSwitch[] = L"/clean-up";
static const WCHAR Caption[] = L"" PRODUCT_NAME " Uninstall";

enum { PollMs = 100, HoldTries = HoldMs / PollMs };

// Room for an attribute list of one attribute, whose size is the
// platform's to say; kept aligned as the pointers in it need.
static ULONG_PTR AttributeRoom[32];

// Copies the next argument of a command line into `argument` (quotes
// removed) and moves `cursor` past it; 0 at the end. A path never holds a
// quote, so quotes only group.
int NextArgument(const WCHAR **cursor, WCHAR *argument, size_t size)
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
int Compose(WCHAR *buffer, size_t size, const WCHAR *const *parts, size_t count)
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
int PathIn(const WCHAR *folder, const WCHAR *name, WCHAR *path)
{
    const WCHAR *const parts[] = {folder, L"\\", name};
    return Compose(path, MAX_PATH, parts, ARRAYSIZE(parts));
}

// This program's own full path; 0 if it does not fit.
int OwnPath(WCHAR *path)
{
    DWORD length = GetModuleFileNameW(0, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// Windows' own TEMP folder, in `temp`. There users may make folders of
// their own, but neither rename nor delete those of others; the user's
// TEMP is the user's, and there the user's programs could swap a folder of
// the copy's for another of the same name, or for a link elsewhere, under
// the copy and under the restart's deletes.
int SystemTemp(WCHAR *temp)
{
    WCHAR windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH && PathIn(windows, L"Temp", temp);
}

// Owned by Administrators, whatever owner the elevated token would give
// (under some policies, its user), and open to Administrators and the
// system alone, nothing inherited from TEMP: an owner may always rewrite
// the DACL, so a program of the same user without administrator rights,
// running as that owner, could otherwise open the folder to itself.
static const WCHAR WorkFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

PSECURITY_DESCRIPTOR WorkFolderDescriptor(void)
{
    PSECURITY_DESCRIPTOR descriptor = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(WorkFolderSecurity, SDDL_REVISION_1,
                                                              &descriptor, 0))
        return 0;
    return descriptor;
}

void Complain(int silent, const WCHAR *text)
{
    if (!silent)
        MessageBoxW(0, text, Caption, MB_OK | MB_ICONSTOP);
}

void Close(HANDLE handle)
{
    if (handle)
        CloseHandle(handle);
}

// Opens a file or folder that exists; the handle, or 0.
HANDLE Open(const WCHAR *path, DWORD access, DWORD sharing, DWORD flags, BOOL inherit)
{
    SECURITY_ATTRIBUTES security = {sizeof security, 0, inherit};
    HANDLE handle = CreateFileW(path, access, sharing, &security, OPEN_EXISTING, flags, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    return handle;
}

// Tries until `attempt` succeeds, a pause apart, `tries` times at most;
// whether it succeeded.
int KeepTrying(Attempt attempt, void *subject, DWORD tries)
{
    for (DWORD tried = 1; !attempt(subject); tried++) {
        if (tried >= tries)
            return 0;
        Sleep(PollMs);
    }
    return 1;
}

struct Opening {
    const WCHAR *path;
    HANDLE file;
};

static int TryOpeningForDeletion(void *subject)
{
    Opening *opening = (Opening *)subject;
    opening->file = Open(opening->path, DELETE, FILE_SHARE_READ, 0, FALSE);
    return opening->file != 0;
}

// Opens a file for deletion, sharing only reading, so that no one may
// write it until it goes; 0 if it is still held after the wait.
HANDLE OpenForDeletion(const WCHAR *path)
{
    Opening opening = {path, 0};
    KeepTrying(TryOpeningForDeletion, &opening, HoldTries);
    return opening.file;
}

static int TryDeleting(void *file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Deletes the file or folder a handle holds, once no running program's
// image is made from it, and closes the handle. Through the handle, not by
// name: no one can have put another file in its place meanwhile.
int DeleteThrough(HANDLE file)
{
    int deleted = KeepTrying(TryDeleting, file, HoldTries);
    CloseHandle(file);
    return deleted;
}

// Lists `handed` as the only handles that a program started with `list`
// inherits; 0 if the platform's list would not fit its room.
static int ListHandles(LPPROC_THREAD_ATTRIBUTE_LIST list, HANDLE *handed, DWORD handedCount)
{
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(0, 1, 0, &size);
    if (size == 0 || size > sizeof AttributeRoom ||
        !InitializeProcThreadAttributeList(list, 1, 0, &size))
        return 0;
    if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, (void *)handed,
                                  handedCount * sizeof *handed, 0, 0))
        return 1;
    DeleteProcThreadAttributeList(list);
    return 0;
}

// Starts `program` with `commandLine` in `folder` (0: this program's own),
// handing it the `handedCount` handles of `handed` by inheritance and no
// other: not this program's other inheritable handles, such as a pipe that
// its caller reads to the end. Nor does it get standard handles, which
// otherwise name the caller's too, and which Wine also hands on as the new
// process's own Unix files. The process, or 0.
HANDLE Start(const WCHAR *program, WCHAR *commandLine, const WCHAR *folder, HANDLE *handed,
             DWORD handedCount)
{
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    LPPROC_THREAD_ATTRIBUTE_LIST list = (LPPROC_THREAD_ATTRIBUTE_LIST)AttributeRoom;
    BOOL inherit = handedCount > 0;
    if (inherit) {
        if (!ListHandles(list, handed, handedCount))
            return 0;
        startup.lpAttributeList = list;
    }
    PROCESS_INFORMATION started;
    BOOL made = CreateProcessW(program, commandLine, 0, 0, inherit,
                               inherit ? EXTENDED_STARTUPINFO_PRESENT : 0, 0, folder,
                               &startup.StartupInfo, &started);
    if (inherit)
        DeleteProcThreadAttributeList(list);
    if (!made)
        return 0;
    CloseHandle(started.hThread);
    return started.hProcess;
}
