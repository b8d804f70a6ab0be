; The setup program. scripts/package.sh makes it with
;   makensis -DVERSION=3.0.2 -DSHORT_VERSION=3.0 -DTARGET=i686|x86_64 -DSTAGE=DIR -DOUTFILE=FILE vorlux.nsi
; STAGE holds the files to install and files.nsh, which lists them (installing and removing).
; For all users under Program Files when run by an administrator, else for the current user
; under %LOCALAPPDATA%\Programs; /ALLUSERS and /CURRENTUSER choose, /DESKTOP adds the desktop
; shortcut to a silent (/S) install. The settings are the program's: an install over an older
; version leaves them alone, the uninstaller asks before removing them (/S keeps them).

Unicode true
!if "${TARGET}" == "x86_64"
  Target amd64-unicode
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh

!define PRODUCT "Vorlux"
!define PUBLISHER "Quorvane"
!define EXE "vorlux.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlux"
!define VENDOR_KEY "Software\Quorvane\Vorlux"
!define SETTINGS_KEY "${VENDOR_KEY}\3.02"
; The program's single-instance semaphore and its panel's caption.
!define RUNNING_SEMAPHORE "Vorlux is already running"
!define PANEL_CAPTION "Vorlux ${SHORT_VERSION}"
!define SYNCHRONIZE 0x00100000
!define CLOSE_TRIES 20

Name "${PRODUCT} ${SHORT_VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel highest
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${SHORT_VERSION} setup (${TARGET})"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) Quorvane. All rights reserved."

!define MUI_ICON "${STAGE}\vorlux.ico"
!define MUI_UNICON "${STAGE}\vorlux.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers

; Asks a running Vorlux to close (its panel closes like Cancel) and waits for it to end; when it
; does not, asks the user to close it. A silent run gives up with exit code 2.
!macro CLOSE_VORLUX un
Function ${un}CloseVorlux
  StrCpy $R2 0
  again:
    System::Call 'kernel32::OpenSemaphoreW(i ${SYNCHRONIZE}, i 0, w "${RUNNING_SEMAPHORE}") p .R0'
    ${If} $R0 == 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R0)'
    FindWindow $R1 "#32770" "${PANEL_CAPTION}"
    ${If} $R1 <> 0
      SendMessage $R1 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    ${EndIf}
    Sleep 500
    IntOp $R2 $R2 + 1
    IntCmp $R2 ${CLOSE_TRIES} 0 again 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Vorlux is still running. Close it, then click Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  retry:
    StrCpy $R2 0
    Goto again
FunctionEnd
!macroend
!insertmacro CLOSE_VORLUX ""
!insertmacro CLOSE_VORLUX "un."

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/CURRENTUSER" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${Else}
    ClearErrors
    ${GetOptions} $R0 "/ALLUSERS" $R1
    ${IfNot} ${Errors}
      StrCpy $AllUsers 1
    ${Else}
      UserInfo::GetAccountType
      Pop $R1
      StrCpy $AllUsers 0
      ${If} $R1 == "Admin"
        StrCpy $AllUsers 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/DESKTOP" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}

  ${If} $AllUsers == 1
    SetShellVarContext all
!if "${TARGET}" == "x86_64"
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
!else
    StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
!endif
  ${Else}
    SetShellVarContext current
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
  ${EndIf}
  ; An install over an earlier one goes where that one is.
  ReadRegStr $R1 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R1 != ""
    StrCpy $INSTDIR $R1
  ${EndIf}
FunctionEnd

Section "Vorlux" SecProgram
  SectionIn RO
  Call CloseVorlux
  !define INSTALL_FILES
  !include "${STAGE}\files.nsh"
  !undef INSTALL_FILES
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}"

  ; A new store of an installed copy records into the user's Videos folder: the program's own
  ; folder is not writable for a normal user.
  WriteRegStr SHCTX "${VENDOR_KEY}" "MovieDirectory" "%v"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${SHORT_VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $R0
SectionEnd

Section /o "Desktop shortcut" SecDesktop
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\${EXE}"
SectionEnd

Function un.onInit
  ; Installed for all users when the machine's entry names this folder.
  SetShellVarContext current
  StrCpy $AllUsers 0
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 == $INSTDIR
    SetShellVarContext all
    StrCpy $AllUsers 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseVorlux
  !define UNINSTALL_FILES
  !include "${STAGE}\files.nsh"
  !undef UNINSTALL_FILES
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DeleteRegValue SHCTX "${VENDOR_KEY}" "MovieDirectory"

  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Remove your Vorlux settings too?$\r$\n$\r$\nKeep them to find them again when you install Vorlux later." /SD IDNO IDNO keep
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${VENDOR_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Quorvane"
    ${If} $AllUsers == 1
      DeleteRegKey HKLM "${SETTINGS_KEY}"
    ${EndIf}
  keep:
  DeleteRegKey /ifempty SHCTX "${VENDOR_KEY}"
  DeleteRegKey /ifempty SHCTX "Software\Quorvane"
SectionEnd
