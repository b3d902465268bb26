; The piano's installer: a per-machine install under the 32-bit Program Files
; folder, one Start-menu shortcut, and an entry in the system's list of
; installed programs, whose commands start UNINSTALLER (src/uninstall); that
; runs REMOVER, this script's uninstaller. Silent with /S, both ways. Every
; name and number comes from the build (packaging/Packaging.cmake) as a define.

Unicode true
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include "${FILE_LIST}"
!include "${__FILEDIR__}/files_in_use.nsh"
!include "${__FILEDIR__}/install_folder.nsh"

!define FILES_LEFT "Some files could not be removed; run the uninstaller again to remove them."

; The remover started by its name alone runs as a copy of itself that NSIS
; makes in a folder under TEMP, not from the program's folder.
!macro _RunsAsCopy _a _b _t _f
    StrCmp $EXEDIR $INSTDIR `${_f}` `${_t}`
!macroend
!define RunsAsCopy `"" RunsAsCopy ""`

; Stops the run with a message and NSIS's exit code 2, after a step that
; failed: never a success over work not done.
!macro STOP message
    MessageBox MB_OK|MB_ICONSTOP "${message}" /SD IDOK
    Abort "${message}"
!macroend
!macro STOP_ON_ERRORS message
    ${If} ${Errors}
        !insertmacro STOP "${message}"
    ${EndIf}
!macroend

; A file that cannot be written is never skipped: the choice is Retry or
; Cancel, and silent, Cancel.
AllowSkipFiles off

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_ID}"

; A signed release (SIGN_SCRIPT, SIGN_SETTINGS, CMAKE and SETUP_NAME given)
; signs the remover as it is built, before the installer takes it in, and
; the installer last; the build signs the uninstaller before that.
!ifdef SIGN_SCRIPT
    !define SIGN_STEP '"${CMAKE}" "-DSETTINGS=${SIGN_SETTINGS}" "-DFILE=%1"'
    !uninstfinalize '${SIGN_STEP} -DNAME=${REMOVER} -P "${SIGN_SCRIPT}"' = 0
    !finalize '${SIGN_STEP} -DNAME=${SETUP_NAME} -P "${SIGN_SCRIPT}"' = 0
!endif

; Straight in the Programs folder: one shortcut needs no folder of its own.
!define SHORTCUT "$SMPROGRAMS\${PRODUCT_NAME}.lnk"

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\${PRODUCT_NAME}"
; A reinstall or update goes where the last install went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT_NAME} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT_NAME} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${LICENSE_FILE}"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE LeaveFolderPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Per machine: the shortcut goes to every user's Start menu.
Function .onInit
    SetShellVarContext all
FunctionEnd

; A run that stops leaves no folder that the folder check made.
Function .onInstFailed
    Call RemoveFoldersMade
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

; A folder that cannot hold a piano that plays is named, and the page stays.
Function LeaveFolderPage
    Call CheckInstallFolder
    Pop $0
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION $0
        Abort
    ${EndIf}
FunctionEnd

Section "Install"
    ; A folder given with /D= is checked here, as the folder page checks it.
    Call CheckInstallFolder
    Pop $0
    ${If} $0 != ""
        !insertmacro STOP $0
    ${EndIf}
    ; Nothing is written until every file can be: an update stopped half
    ; way would leave the programs list naming one version over another's files.
    Call ClosePiano
    !insertmacro CHECK_FILE "" "$INSTDIR\${EXE_NAME}"
    !insertmacro CHECK_FILES ""
    !insertmacro CHECK_FILE "" "$INSTDIR\${UNINSTALLER}"
    !insertmacro CHECK_FILE "" "$INSTDIR\${REMOVER}"

    SetOutPath "$INSTDIR"
    File "/oname=${EXE_NAME}" "${EXE_PATH}"
    !insertmacro INSTALL_FILES
    SetOutPath "$INSTDIR"
    File "/oname=${UNINSTALLER}" "${UNINSTALLER_PATH}"
    ClearErrors
    WriteUninstaller "$INSTDIR\${REMOVER}"
    !insertmacro STOP_ON_ERRORS "The uninstaller could not be written to $INSTDIR."
    ; Measuring leaves the error flag set, so the steps below start afresh.
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    ClearErrors

    ; The piano finds its keys folder beside itself, wherever it is
    ; started; the shortcut starts it in its own folder (the output path
    ; current at its creation) all the same, as Explorer does.
    SetOutPath "$INSTDIR"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE_NAME}" "" "$INSTDIR\${EXE_NAME}" 0

    ; Plain commands: what a caller appends to them is the uninstaller's to read.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${HOME_PAGE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    !insertmacro STOP_ON_ERRORS "The shortcut or the entry in the list of installed programs could not be written."
SectionEnd

; Removes what the installer made, by name, and nothing else: a folder the
; user added files to stays, with those files. Nothing is removed until
; every file can be, and a file that still could not be, or the entry,
; stops the run with NSIS's exit code 2, keeping the entry and both
; programs to remove them by later. Run in place (_?=), as the uninstaller
; runs it, the remover leaves both programs and their folder; started by
; its name alone, it runs as NSIS's copy under TEMP and removes them too.
Section "Uninstall"
    Call un.ClosePiano
    !insertmacro CHECK_FILE "un." "$INSTDIR\${EXE_NAME}"
    !insertmacro CHECK_FILES "un."
    ${If} ${RunsAsCopy}
        !insertmacro CHECK_FILE "un." "$INSTDIR\${UNINSTALLER}"
        !insertmacro CHECK_FILE "un." "$INSTDIR\${REMOVER}"
    ${EndIf}

    ClearErrors
    Delete "${SHORTCUT}"
    !insertmacro REMOVE_FILES
    Delete "$INSTDIR\${EXE_NAME}"
    !insertmacro STOP_ON_ERRORS "${FILES_LEFT}"
    ; No process can remove its own current folder.
    SetOutPath "$TEMP"
    RMDir "$INSTDIR\keys"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ClearErrors
    EnumRegValue $0 HKLM "${UNINSTALL_KEY}" 0
    ${IfNot} ${Errors}
        !insertmacro STOP "The entry in the list of installed programs could not be removed."
    ${EndIf}
    ${If} ${RunsAsCopy}
        Delete "$INSTDIR\${UNINSTALLER}"
        Delete "$INSTDIR\${REMOVER}"
        RMDir "$INSTDIR"
    ${EndIf}
    Call un.RemoveOwnCopyAtRestart
SectionEnd

Function un.onUninstFailed
    Call un.RemoveOwnCopyAtRestart
FunctionEnd

; Started by its name alone, the remover runs as a copy in a folder of its
; own under TEMP, and that copy is deleted at the next restart; but its
; folder was put on the restart's list first, while not yet empty, so it
; would stay. Putting the folder on the list again, after the copy, lets the
; restart remove it too.
Function un.RemoveOwnCopyAtRestart
    ${If} ${RunsAsCopy}
        RMDir /REBOOTOK "$EXEDIR"
    ${EndIf}
FunctionEnd
