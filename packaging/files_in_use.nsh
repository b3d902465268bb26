; Files in use. Windows neither replaces nor deletes the program file of a
; running program, nor a file that another program holds open without
; sharing it. So before the installer writes, or the uninstaller removes,
; any of the piano's files, a running piano is closed as its close box
; would close it, and then every file is checked: one still held is named,
; with Retry and Cancel, and nothing is changed until all of them are free.
; Silent (/S), the piano is closed without asking, and a held file stops
; the run with an error, never a success over a file left as it was.
;
; Needs PRODUCT_NAME, EXE_NAME and WINDOW_CLASS from the build.

!include LogicLib.nsh
!include WinCore.nsh

!define OPEN_EXISTING 3
; The piano ends within a few seconds of being closed; one that has stopped
; answering is not waited for longer, and its program file is then named
; as held.
!define PIANO_CLOSE_TIMEOUT_MS 15000
!define PIANO_CLOSE_POLL_MS 100
!define /math PIANO_CLOSE_POLLS ${PIANO_CLOSE_TIMEOUT_MS} / ${PIANO_CLOSE_POLL_MS}

; CHECK_FILE un PATH: waits, as WaitFileFree says, until PATH is free.
!macro CHECK_FILE un path
    Push "${path}"
    Call ${un}WaitFileFree
!macroend

; The installer's functions (un "", VERB "replaced", opening a file for
; writing as NSIS's File does) or the uninstaller's (un "un.", VERB
; "removed", opening it as a deletion would, and for writing too, which a
; running program's file refuses).
!macro FILES_IN_USE_FUNCTIONS un VERB ACCESS SHARING
; A running piano in this session is closed, once its user agrees (silent:
; at once); Cancel stops with nothing changed. Waits until its process has
; ended, for PIANO_CLOSE_TIMEOUT_MS at most.
Function ${un}ClosePiano
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    FindWindow $0 "${WINDOW_CLASS}" "${PRODUCT_NAME}"
    ${If} $0 == 0
        Goto closed
    ${EndIf}
    MessageBox MB_OKCANCEL|MB_ICONINFORMATION \
        "${PRODUCT_NAME} is running. It will be closed, so that its files can be ${VERB}.$\r$\n$\r$\nClick OK to close it and go on, or Cancel to stop with nothing changed." \
        /SD IDOK IDOK close
    Abort "${PRODUCT_NAME} was left running; nothing was changed."
close:
    System::Call "user32::GetWindowThreadProcessId(p r0, *i 0 r1)"
    System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p.r2"
    System::Call "user32::PostMessage(p r0, i ${WM_CLOSE}, p 0, p 0)"
    ${If} $2 P<> 0
        System::Call "kernel32::WaitForSingleObject(p r2, i ${PIANO_CLOSE_TIMEOUT_MS})"
        System::Call "kernel32::CloseHandle(p r2)"
        Goto closed
    ${EndIf}
    ; A process that this one may not wait on is waited for all the same,
    ; as long, until its window has gone and its program file is free.
    ${For} $3 1 ${PIANO_CLOSE_POLLS}
        Push "$INSTDIR\${EXE_NAME}"
        Call ${un}IsFileHeld
        Pop $4
        IsWindow $0 still_open
        ${If} $4 = 0
            ${ExitFor}
        ${EndIf}
    still_open:
        Sleep ${PIANO_CLOSE_POLL_MS}
    ${Next}
closed:
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; Takes a path from the stack and gives back 1 if the file there is held
; open, so that it could not be ${VERB}, or 0. A file that does not exist is
; free, and other failures are left to the step that writes or removes it.
Function ${un}IsFileHeld
    Exch $0
    Push $1
    System::Call "kernel32::CreateFileW(w r0, i ${ACCESS}, i ${SHARING}, p 0, i ${OPEN_EXISTING}, i 0, p 0) p.r1 ?e"
    Pop $0
    ${If} $1 P<> ${INVALID_HANDLE_VALUE}
        System::Call "kernel32::CloseHandle(p r1)"
        StrCpy $0 0
    ${ElseIf} $0 = ${ERROR_SHARING_VIOLATION}
    ${OrIf} $0 = ${ERROR_LOCK_VIOLATION}
        StrCpy $0 1
    ${Else}
        StrCpy $0 0
    ${EndIf}
    Pop $1
    Exch $0
FunctionEnd

; Takes a path from the stack. A file there that is held open is named,
; with Retry and Cancel (silent: Cancel), until it is free; Cancel stops
; the run.
Function ${un}WaitFileFree
    Exch $0
    Push $1
retry:
    Push $0
    Call ${un}IsFileHeld
    Pop $1
    ${If} $1 = 1
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "This file of ${PRODUCT_NAME} is in use, so it cannot be ${VERB}:$\r$\n$\r$\n$0$\r$\n$\r$\nClose the program that uses it (perhaps ${PRODUCT_NAME} itself, for another user) and click Retry, or click Cancel to stop with nothing changed." \
            /SD IDCANCEL IDRETRY retry
        Abort "$0 is in use; nothing was changed."
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd
!macroend

!insertmacro FILES_IN_USE_FUNCTIONS "" replaced ${GENERIC_WRITE} ${FILE_SHARE_READ}
!define /math REMOVAL_ACCESS ${GENERIC_WRITE} | ${DELETE}
!define /math REMOVAL_SHARING ${FILE_SHARE_READ} | ${FILE_SHARE_WRITE}
!define /redef /math REMOVAL_SHARING ${REMOVAL_SHARING} | ${FILE_SHARE_DELETE}
!insertmacro FILES_IN_USE_FUNCTIONS "un." removed ${REMOVAL_ACCESS} ${REMOVAL_SHARING}
