; The piano's installer: a per-machine install under the 32-bit Program Files
; folder, one Start-menu shortcut, and an entry in the system's list of
; installed programs. Silent with /S, both ways.
;
; Every name and number comes from the build (packaging/Packaging.cmake) as a
; define: PRODUCT_NAME, APP_ID, VERSION (four parts), PUBLISHER, HOME_PAGE,
; WINDOW_CLASS, EXE_PATH, EXE_NAME, ICON, LICENSE_FILE, FILE_LIST (the
; INSTALL_FILES, CHECK_FILES and REMOVE_FILES macros naming every other file)
; and OUTFILE.

Unicode true
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include "${FILE_LIST}"
!include "${__FILEDIR__}/files_in_use.nsh"

!define FILES_LEFT "Some files could not be removed; run the uninstaller again to remove them."
!define MOVEFILE_DELAY_UNTIL_REBOOT 4

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
!define UNINSTALLER "Uninstall.exe"

; A signed release (SIGN_SCRIPT, SIGN_SETTINGS, CMAKE and SETUP_NAME given)
; signs the uninstaller as it is built, before the installer takes it in,
; and the installer last.
!ifdef SIGN_SCRIPT
    !define SIGN_STEP '"${CMAKE}" "-DSETTINGS=${SIGN_SETTINGS}" "-DFILE=%1"'
    !uninstfinalize '${SIGN_STEP} -DNAME=${UNINSTALLER} -P "${SIGN_SCRIPT}"' = 0
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
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Per machine: the shortcut goes to every user's Start menu.
Function .onInit
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section "Install"
    ; Nothing is written until every file can be: an update stopped half
    ; way would leave the programs list naming one version over another's files.
    Call ClosePiano
    !insertmacro CHECK_FILE "" "$INSTDIR\${EXE_NAME}"
    !insertmacro CHECK_FILES ""
    !insertmacro CHECK_FILE "" "$INSTDIR\${UNINSTALLER}"

    SetOutPath "$INSTDIR"
    File "/oname=${EXE_NAME}" "${EXE_PATH}"
    !insertmacro INSTALL_FILES
    ClearErrors
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    !insertmacro STOP_ON_ERRORS "The uninstaller could not be written to $INSTDIR."
    ; Measuring leaves the error flag set, so the steps below start afresh.
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    ClearErrors

    ; The piano finds its keys folder beside itself, wherever it is
    ; started; the shortcut starts it in its own folder (the output path
    ; current at its creation) all the same, as Explorer does.
    SetOutPath "$INSTDIR"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE_NAME}" "" "$INSTDIR\${EXE_NAME}" 0

    ; The programs list runs the uninstaller in place (_?=, the rest of the
    ; line, unquoted), so that it returns only once it has finished and with
    ; its own exit code: started plainly, it would hand over to a copy of
    ; itself and return 0 at once.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${HOME_PAGE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" _?=$INSTDIR'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    !insertmacro STOP_ON_ERRORS "The shortcut or the entry in the list of installed programs could not be written."
SectionEnd

; Removes what the installer made, by name, and nothing else: a folder the
; user added files to stays, with those files. Nothing is removed until
; every file can be, and a file that still could not be, or the entry,
; stops the run with NSIS's exit code 2, keeping the entry and the
; uninstaller to remove them by later. The uninstaller itself is not
; checked: run in place (_?=), it holds its own file.
Section "Uninstall"
    Call un.ClosePiano
    !insertmacro CHECK_FILE "un." "$INSTDIR\${EXE_NAME}"
    !insertmacro CHECK_FILES "un."

    ClearErrors
    Delete "${SHORTCUT}"
    !insertmacro REMOVE_FILES
    Delete "$INSTDIR\${EXE_NAME}"
    !insertmacro STOP_ON_ERRORS "${FILES_LEFT}"
    Call un.RemoveUninstaller
    !insertmacro STOP_ON_ERRORS "${FILES_LEFT}"
    ; No process can remove its own current folder.
    SetOutPath "$TEMP"
    RMDir "$INSTDIR\keys"
    ${If} ${FileExists} "$INSTDIR\${UNINSTALLER}"
        RMDir /REBOOTOK "$INSTDIR"
    ${Else}
        RMDir "$INSTDIR"
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ClearErrors
    EnumRegValue $0 HKLM "${UNINSTALL_KEY}" 0
    ${IfNot} ${Errors}
        !insertmacro STOP "The entry in the list of installed programs could not be removed."
    ${EndIf}
    Call un.RemoveOwnCopyAtRestart
SectionEnd

; Windows deletes no running program's file, and the uninstaller run in
; place, as the programs list runs it, is one; nor does it let that file be
; moved while the uninstaller holds it open to read itself. Its file is then
; left to be deleted at the next restart, and its folder after it. Sets the
; error flag if it can do neither.
Function un.RemoveUninstaller
    ClearErrors
    Delete "$INSTDIR\${UNINSTALLER}"
    IfErrors 0 done
    System::Call "kernel32::MoveFileExW(w '$INSTDIR\${UNINSTALLER}', p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i.r0"
    ClearErrors
    ${If} $0 = 0
        SetErrors
    ${Else}
        DetailPrint "Delete on reboot: $INSTDIR\${UNINSTALLER}"
    ${EndIf}
done:
FunctionEnd

Function un.onUninstFailed
    Call un.RemoveOwnCopyAtRestart
FunctionEnd

; Started by its name alone, without _?=, the uninstaller runs as a copy in
; a folder of its own under TEMP, and that copy is deleted at the next
; restart; but its folder was put on the restart's list first, while not
; yet empty, so it would stay. Putting the folder on the list again, after
; the copy, lets the restart remove it too.
Function un.RemoveOwnCopyAtRestart
    StrCmp "$EXEDIR" "$INSTDIR" +2
        RMDir /REBOOTOK "$EXEDIR"
FunctionEnd
