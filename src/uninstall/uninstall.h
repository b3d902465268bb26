// What the uninstaller's two roles share: the front that the list of
// installed programs starts (front.cpp) and the copy of it that the front
// starts in Windows' TEMP (copy.cpp), which runs the installer's remover
// and deletes both programs once they have ended.
#pragma once
#include <windows.h>

// NSIS's exit code for a run that stopped; the uninstaller ends with it
// whenever the removal could not be done.
enum { Stopped = 2, CommandLineSize = 3 * MAX_PATH + 32 };

// A program that has just let go of a file, or ended, may leave it held a
// moment longer (the system tearing down its image, a virus scanner reading
// it); what is still held after this long is left as it is.
enum { HoldMs = 30000 };

extern const WCHAR RemoverName[], UninstallerName[], SilentSwitch[], CleanUpSwitch[];

// What the front hands its copy, by inheritance: these handles and no others.
struct Handover {
    HANDLE workFolder;    // the copy's folder, held against renaming
    HANDLE uninstaller;   // the front's own file, opened for deletion
    HANDLE process;       // the front's process, which the copy outlives
    HANDLE report;        // a pipe for the removal's exit code
};

// Paths go through the wide API throughout: the program's folder may be
// named in letters that the ANSI code page lacks.
int NextArgument(const WCHAR **cursor, WCHAR *argument, size_t size);
int Compose(WCHAR *buffer, size_t size, const WCHAR *const *parts, size_t count);
int PathIn(const WCHAR *folder, const WCHAR *name, WCHAR *path);
int OwnPath(WCHAR *path);
int SystemTemp(WCHAR *temp);

// The security that the work folder in Windows' TEMP is made with, for
// CreateDirectory: owned by Administrators, with a protected DACL that
// grants Administrators and the system alone full access, inherited by
// what is made in it. Freed with LocalFree; 0 if it could not be made.
PSECURITY_DESCRIPTOR WorkFolderDescriptor(void);

void Complain(int silent, const WCHAR *text);
void Close(HANDLE handle);
HANDLE Open(const WCHAR *path, DWORD access, DWORD sharing, DWORD flags, BOOL inherit);

// One try at something that waits for another program to let go: nonzero
// once it has succeeded.
typedef int (*Attempt)(void *subject);
int KeepTrying(Attempt attempt, void *subject, DWORD tries);
HANDLE OpenForDeletion(const WCHAR *path);
int DeleteThrough(HANDLE file);

HANDLE Start(const WCHAR *program, WCHAR *commandLine, const WCHAR *folder, HANDLE *handed,
             DWORD handedCount);

// The copy's work, given its command line after its switch; its exit code.
DWORD RemoveAsCopy(const WCHAR *arguments);
