; The install folder. The piano starts from any folder whose files' paths
; fit Windows' ordinary limit (MAX_PATH), and plays its notes from any
; folder whose key files the sound player can open: the player opens a file
; through OpenFile, by its path in the ANSI code page, in a record of 128
; bytes, so the piano hands it the file's full path where that fits, and
; its short (8.3) path otherwise. A folder where neither fits would give a
; piano that plays only the default sound: it is refused, on the folder
; page and with /D= alike, before anything is installed.
;
; Paths reach System::Call only through registers, never inside its text:
; a folder's name may hold any character that the call's syntax gives a
; meaning to.
;
; Needs EXE_NAME from the build.

!include LogicLib.nsh
!include FileFunc.nsh
!include WinCore.nsh

!define PLAYER_PATH_BYTES 128
; Every key's file has a name of this length.
!define KEY_FILE "keys\40.wav"

; Takes a path from the stack and gives back 1 if the player can open a
; file by it: written in the ANSI code page, it fits the player's record and
; reads back as itself (a letter that the code page lacks comes back as
; another), or 0.
Function PlayerCanOpen
    Exch $0
    Push $1
    Push $2
    System::Call "kernel32::WideCharToMultiByte(i 0, i 0, w r0, i -1, m .r1, i ${PLAYER_PATH_BYTES}, p 0, p 0) i .r2"
    ${If} $2 <> 0
    ${AndIf} $1 S== $0
        StrCpy $0 1
    ${Else}
        StrCpy $0 0
    ${EndIf}
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; The nearest folder on the way to $INSTDIR that existed before the check
; made the folders below it, or "" if it made none.
Var FoldersMadeBelow

; Makes $INSTDIR, which has a short name only once it exists, and gives
; back 1 if the player can open the key files by its short path. If not, it
; removes the folders it made and gives back 0.
Function ShortPathServes
    Push $0
    Push $1
    Push $2
    ; The nearest folder on the way that exists: the ones below it are made.
    StrCpy $1 $INSTDIR
    ${Do}
        ${If} $1 == ""
        ${OrIf} ${FileExists} "$1\*.*"
            ${ExitDo}
        ${EndIf}
        ${GetParent} $1 $1
    ${Loop}
    ${If} $1 != $INSTDIR
    ${AndIf} $FoldersMadeBelow == ""
        StrCpy $FoldersMadeBelow $1
    ${EndIf}
    CreateDirectory $INSTDIR
    StrCpy $0 $INSTDIR
    System::Call "kernel32::GetShortPathNameW(w r0, w .r2, i ${NSIS_MAX_STRLEN}) i .r0"
    ${If} $0 <> 0
    ${AndIf} $0 < ${NSIS_MAX_STRLEN}
        Push "$2\${KEY_FILE}"
        Call PlayerCanOpen
        Pop $0
    ${EndIf}
    ${If} $0 <> 1
        StrCpy $0 0
        Call RemoveFoldersMade
    ${EndIf}
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Removes the folders that the check made, if they are still empty: the
; install stopped before writing into them, or refused the folder.
Function RemoveFoldersMade
    Push $0
    ${If} $FoldersMadeBelow != ""
        StrCpy $0 $INSTDIR
        ${DoWhile} $0 != $FoldersMadeBelow
            RMDir $0
            ${GetParent} $0 $0
        ${Loop}
        StrCpy $FoldersMadeBelow ""
    ${EndIf}
    Pop $0
FunctionEnd

; Gives back, on the stack, why $INSTDIR cannot hold a piano that plays, or
; "" if it can.
Function CheckInstallFolder
    Push $0
    Push $1
    StrCpy $0 ""
    StrLen $1 "$INSTDIR\${EXE_NAME}"
    ${If} $1 >= ${MAX_PATH}
        IntOp $1 $1 - ${MAX_PATH}
        IntOp $1 $1 + 1
        StrCpy $0 "This folder's path is too long for Windows to start the piano from it:$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nChoose a folder whose path is at least $1 characters shorter."
    ${Else}
        Push "$INSTDIR\${KEY_FILE}"
        Call PlayerCanOpen
        Pop $1
        ${If} $1 = 0
            Call ShortPathServes
            Pop $1
        ${EndIf}
        ${If} $1 = 0
            StrCpy $0 "The sound player could not open the piano's notes in this folder:$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nIts path is too long for the player, or holds letters that Windows' language for non-Unicode programs cannot write, and the folder has no short name that would serve instead. Choose a folder with a shorter path, or one in plain letters."
        ${EndIf}
    ${EndIf}
    Pop $1
    Exch $0
FunctionEnd
