; Lumenkeep's setup program: installs, upgrades and removes the whole suite.
;
; Built by the project's build (installer/CMakeLists.txt) with these defines:
;   VERSION     the product version, "1.0.0"
;   BIN32       the i686 build's bin folder (TALO, its resource modules and help, ZORADLL)
;   BIN64       the x86_64 build's bin folder (ZORASrvc, ZORADLL, GRAVO.exe)
;   CFG         the installed data (the source tree's cfg folder)
;   OUTFILE     the setup program to write
;
; The setup program is a 64-bit program: the suite needs a 64-bit Windows (its service
; exists in 64 bits only), and so it also runs where only 64-bit programs can.
;
; Every step that changes the machine can be undone until the last one: files about to
; be replaced are renamed to <name>.lkold first, and a failure puts them back, removes
; what was added and brings the old service back. The exit status tells the outcome
; (docs/installer.md); interactively a message box says it too.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh
!include WinVer.nsh
!include TextFunc.nsh

!define PRODUCT "Lumenkeep"
!define PUBLISHER "Korvex"
!define SERVICE "ZORASrvc"
!define INSTALL_KEY "Software\Korvex\ZORA"
!define MAKER_KEY "Software\Korvex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumenkeep"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "TALO"
!define USER_KEY "Software\Korvex\TALO"
!define USER_FOLDER "Korvex\ZORA\Cfg"
!define BACKUP ".lkold"

; Exit statuses. 1 (cancelled by the user) and 2 (stopped by the program itself) are the
; setup program's own.
!define EXIT_OK 0
!define EXIT_NOT_ADMIN 3
!define EXIT_UNSUPPORTED 4
!define EXIT_IN_USE 5
!define EXIT_WRITE 6
!define EXIT_SERVICE_REGISTER 7
!define EXIT_SERVICE_START 8
!define EXIT_SERVICE_STOP 9

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; No language dialog: the setup program speaks the system's language where it knows it,
; English otherwise (English first, so that it is the fallback).
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString MsgNotAdmin ${LANG_ENGLISH} "${PRODUCT} can only be installed or removed by an administrator."
LangString MsgNotAdmin ${LANG_GERMAN} "${PRODUCT} kann nur von einem Administrator installiert oder entfernt werden."
LangString MsgUnsupported ${LANG_ENGLISH} "${PRODUCT} needs a 64-bit edition of Windows XP or later."
LangString MsgUnsupported ${LANG_GERMAN} "${PRODUCT} benötigt eine 64-Bit-Ausgabe von Windows XP oder neuer."
LangString MsgInUse ${LANG_ENGLISH} "A file of ${PRODUCT} is in use and cannot be replaced:$\r$\n$1$\r$\n$\r$\nClose TALO in every user's session and try again. Nothing has been changed."
LangString MsgInUse ${LANG_GERMAN} "Eine Datei von ${PRODUCT} wird verwendet und kann nicht ersetzt werden:$\r$\n$1$\r$\n$\r$\nBeenden Sie TALO in allen Benutzersitzungen und versuchen Sie es erneut. Es wurde nichts geändert."
LangString MsgWrite ${LANG_ENGLISH} "A file could not be written:$\r$\n$1$\r$\n$\r$\nNothing has been changed."
LangString MsgWrite ${LANG_GERMAN} "Eine Datei konnte nicht geschrieben werden:$\r$\n$1$\r$\n$\r$\nEs wurde nichts geändert."
LangString MsgRegister ${LANG_ENGLISH} "The service ${SERVICE} could not be registered:$\r$\n$1$\r$\n$\r$\nNothing has been changed."
LangString MsgRegister ${LANG_GERMAN} "Der Dienst ${SERVICE} konnte nicht eingerichtet werden:$\r$\n$1$\r$\n$\r$\nEs wurde nichts geändert."
LangString MsgStart ${LANG_ENGLISH} "The service ${SERVICE} could not be started ($1).$\r$\n$\r$\nNothing has been changed."
LangString MsgStart ${LANG_GERMAN} "Der Dienst ${SERVICE} konnte nicht gestartet werden ($1).$\r$\n$\r$\nEs wurde nichts geändert."
LangString MsgStop ${LANG_ENGLISH} "The service ${SERVICE} could not be stopped ($1). Nothing has been changed."
LangString MsgStop ${LANG_GERMAN} "Der Dienst ${SERVICE} konnte nicht beendet werden ($1). Es wurde nichts geändert."
LangString MsgRemoveUserFiles ${LANG_ENGLISH} "Also remove your own power schemes and TALO's settings?"
LangString MsgRemoveUserFiles ${LANG_GERMAN} "Auch Ihre eigenen Energieschemas und die Einstellungen von TALO entfernen?"

Var Upgrade        ; 1 when an installation is there already (in $INSTDIR)
Var ServiceWas     ; the old service's state: 0 not installed, 1 stopped, 4 running (as QueryService)
Var TaloClosed     ; 1 when TALO was asked to close
Var Written        ; 1 once the new files are being written
Var Failure        ; the exit status of the failure under way

; ---- The files of the suite ---------------------------------------------------------
; Each entry: folder under the installation, file name, source. Writing ZORACfg.ini over
; an old one keeps the old one's settings and adds the keys it lacks (the Write action).
!macro SuiteFiles ACTION
  !insertmacro ${ACTION} bin TALO.exe "${BIN32}\TALO.exe"
  !insertmacro ${ACTION} bin TALORes.dll "${BIN32}\TALORes.dll"
  !insertmacro ${ACTION} bin TALOResDE.dll "${BIN32}\TALOResDE.dll"
  !insertmacro ${ACTION} bin Lumenkeep.chm "${BIN32}\Lumenkeep.chm"
  !insertmacro ${ACTION} bin Lumenkeep.de.chm "${BIN32}\Lumenkeep.de.chm"
  !insertmacro ${ACTION} bin ZORADLL.dll "${BIN32}\ZORADLL.dll"
  !insertmacro ${ACTION} bin64 ZORASrvc.exe "${BIN64}\ZORASrvc.exe"
  !insertmacro ${ACTION} bin64 ZORADLL.dll "${BIN64}\ZORADLL.dll"
  !insertmacro ${ACTION} bin64 GRAVO.exe "${BIN64}\GRAVO.exe"
  !insertmacro ${ACTION} cfg ZORASetting.ini "${CFG}\ZORASetting.ini"
  !insertmacro ${ACTION} cfg HubraCfg.ini "${CFG}\HubraCfg.ini"
  !insertmacro ${ACTION} cfg USBCfg.ini "${CFG}\USBCfg.ini"
  !insertmacro ${ACTION} cfg CPUCfg.ini "${CFG}\CPUCfg.ini"
  !insertmacro ${ACTION} cfg ZORADefScheme.ini "${CFG}\ZORADefScheme.ini"
  !insertmacro ${ACTION} cfg ZORAEffect.ini "${CFG}\ZORAEffect.ini"
  !insertmacro ${ACTION} cfg ZORACfg.ini "${CFG}\ZORACfg.ini"
!macroend

; A file another process holds open for writing or runs cannot be opened for writing.
!macro CheckNotInUse DIR NAME SOURCE
  ${If} $Failure == 0
  ${AndIf} ${FileExists} "$INSTDIR\${DIR}\${NAME}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${DIR}\${NAME}" a
    ${If} ${Errors}
      StrCpy $1 "$INSTDIR\${DIR}\${NAME}"
      StrCpy $Failure ${EXIT_IN_USE}
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
!macroend

!macro BackUp DIR NAME SOURCE
  ${If} $Failure == 0
  ${AndIf} ${FileExists} "$INSTDIR\${DIR}\${NAME}"
    Delete "$INSTDIR\${DIR}\${NAME}${BACKUP}"
    ClearErrors
    Rename "$INSTDIR\${DIR}\${NAME}" "$INSTDIR\${DIR}\${NAME}${BACKUP}"
    ${If} ${Errors}
      StrCpy $1 "$INSTDIR\${DIR}\${NAME}"
      StrCpy $Failure ${EXIT_IN_USE}
    ${EndIf}
  ${EndIf}
!macroend

!macro Write DIR NAME SOURCE
  ${If} $Failure == 0
    SetOutPath "$INSTDIR\${DIR}"
    !if "${NAME}" == "ZORACfg.ini"
      ${If} ${FileExists} "$INSTDIR\${DIR}\${NAME}${BACKUP}"
        ; The machine's own settings stay; the new version's keys it lacks are added.
        System::Call 'kernel32::CopyFileW(w "$INSTDIR\${DIR}\${NAME}${BACKUP}", w "$INSTDIR\${DIR}\${NAME}", i 1) i.r0'
        ${If} $0 == 0
          StrCpy $1 "$INSTDIR\${DIR}\${NAME}"
          StrCpy $Failure ${EXIT_WRITE}
        ${Else}
          SetOutPath "$PLUGINSDIR"
          File "${SOURCE}"
          Push "$PLUGINSDIR\${NAME}"
          Push "$INSTDIR\${DIR}\${NAME}"
          Call AddMissingKeys
        ${EndIf}
      ${Else}
        ClearErrors
        File "${SOURCE}"
        ${If} ${Errors}
          StrCpy $1 "$INSTDIR\${DIR}\${NAME}"
          StrCpy $Failure ${EXIT_WRITE}
        ${EndIf}
      ${EndIf}
    !else
      ClearErrors
      File "${SOURCE}"
      ${If} ${Errors}
        StrCpy $1 "$INSTDIR\${DIR}\${NAME}"
        StrCpy $Failure ${EXIT_WRITE}
      ${EndIf}
    !endif
  ${EndIf}
!macroend

; Written files go; renamed ones come back.
!macro Restore DIR NAME SOURCE
  ${If} $Written == 1
    Delete "$INSTDIR\${DIR}\${NAME}"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${DIR}\${NAME}${BACKUP}"
    Rename "$INSTDIR\${DIR}\${NAME}${BACKUP}" "$INSTDIR\${DIR}\${NAME}"
  ${EndIf}
!macroend

!macro DropBackup DIR NAME SOURCE
  Delete /REBOOTOK "$INSTDIR\${DIR}\${NAME}${BACKUP}"
!macroend

!macro Remove DIR NAME SOURCE
  Delete /REBOOTOK "$INSTDIR\${DIR}\${NAME}"
!macroend

; ---- Shared by the installer and the uninstaller -----------------------------------
!macro SharedFunctions UN

; Out: $0 the service's state (0 when it is not installed, else SERVICE_STOPPED 1,
; SERVICE_RUNNING 4, ...).
Function ${UN}QueryService
  StrCpy $0 0
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p.r2'
  ${If} $2 P<> 0
    System::Call 'advapi32::OpenServiceW(p r2, w "${SERVICE}", i 4) p.r3'
    ${If} $3 P<> 0
      System::Call '*(i, i, i, i, i, i, i) p.r4'
      System::Call 'advapi32::QueryServiceStatus(p r3, p r4) i.r5'
      System::Call '*$4(i, i .r0)'
      System::Free $4
      System::Call 'advapi32::CloseServiceHandle(p r3)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r2)'
  ${EndIf}
FunctionEnd

; Stops the service and waits until it has stopped (at most 30 s).
; Out: $0 the state it was in (as QueryService); $1 "stopped" or the reason it did not.
Function ${UN}StopService
  Call ${UN}QueryService
  StrCpy $6 $0
  StrCpy $1 "stopped"
  ${If} $6 > 1
    System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p.r2'
    System::Call 'advapi32::OpenServiceW(p r2, w "${SERVICE}", i 0x24) p.r3'
    System::Call '*(i, i, i, i, i, i, i) p.r4'
    System::Call 'advapi32::ControlService(p r3, i 1, p r4) i.r5 ?e'
    Pop $7
    System::Free $4
    System::Call 'advapi32::CloseServiceHandle(p r3)'
    System::Call 'advapi32::CloseServiceHandle(p r2)'
    StrCpy $8 0
    ${Do}
      Call ${UN}QueryService
      ${If} $0 <= 1
        ${Break}
      ${EndIf}
      ${If} $8 >= 300
        StrCpy $1 "error $7, state $0"
        ${Break}
      ${EndIf}
      Sleep 100
      IntOp $8 $8 + 1
    ${Loop}
  ${EndIf}
  StrCpy $0 $6
FunctionEnd

; Asks TALO of this session to end (as its Exit does: the hub window closes) and waits
; a little for it. Out: $TaloClosed 1 when one was running.
Function ${UN}CloseTalo
  StrCpy $TaloClosed 0
  nsExec::ExecToStack '"$SYSDIR\taskkill.exe" /IM TALO.exe'
  Pop $0
  Pop $1
  ${If} $0 == 0
    StrCpy $TaloClosed 1
    StrCpy $2 0
    ${Do}
      ClearErrors
      FileOpen $3 "$INSTDIR\bin\TALO.exe" a
      ${IfNot} ${Errors}
        FileClose $3
        ${Break}
      ${EndIf}
      ${If} $2 >= 50
        ${Break}
      ${EndIf}
      Sleep 100
      IntOp $2 $2 + 1
    ${Loop}
  ${EndIf}
FunctionEnd

Function ${UN}CheckPrerequisites
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    SetErrorLevel ${EXIT_NOT_ADMIN}
    MessageBox MB_OK|MB_ICONSTOP "$(MsgNotAdmin)" /SD IDOK
    Quit
  ${EndIf}
  ${IfNot} ${RunningX64}
  ${OrIfNot} ${AtLeastWinXP}
    SetErrorLevel ${EXIT_UNSUPPORTED}
    MessageBox MB_OK|MB_ICONSTOP "$(MsgUnsupported)" /SD IDOK
    Quit
  ${EndIf}
  SetRegView 64
FunctionEnd

!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; ---- Installer --------------------------------------------------------------------

Function .onInit
  Call CheckPrerequisites
  ; An installation there already is upgraded where it is, whatever folder was asked for.
  StrCpy $Upgrade 0
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
    ; One put there by hand (or by the build's own scripts): the service's program there.
    ReadRegStr $0 HKLM "${INSTALL_KEY}" "SDKFolder"
    ${IfNot} ${FileExists} "$0\bin64\ZORASrvc.exe"
      StrCpy $0 ""
    ${EndIf}
  ${EndIf}
  ${If} $0 != ""
    ; SDKFolder ends with a backslash; $INSTDIR does not.
    StrCpy $1 $0 1 -1
    ${If} $1 == "\"
      StrCpy $0 $0 -1
    ${EndIf}
    StrCpy $INSTDIR $0
    StrCpy $Upgrade 1
  ${EndIf}
FunctionEnd

; An upgrade has its folder: the installation's.
Function SkipDirectoryOnUpgrade
  ${If} $Upgrade == 1
    Abort
  ${EndIf}
FunctionEnd

; Adds to the file on the top of the stack every key of the file below it that it
; lacks; keys it has keep their values.
Function AddMissingKeys
  Exch $R1 ; target
  Exch
  Exch $R0 ; source
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  FileOpen $R2 $R0 r
  StrCpy $R3 "" ; section
  ${Do}
    ClearErrors
    FileRead $R2 $R4
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ${TrimNewLines} $R4 $R4
    StrCpy $R5 $R4 1
    ${If} $R5 == "["
      ; [name]
      StrCpy $R3 $R4 "" 1
      StrCpy $R5 $R3 1 -1
      ${If} $R5 == "]"
        StrCpy $R3 $R3 -1
      ${EndIf}
    ${ElseIf} $R5 != ";"
    ${AndIf} $R4 != ""
    ${AndIf} $R3 != ""
      ; key=value
      StrCpy $R6 0
      ${Do}
        StrCpy $R5 $R4 1 $R6
        ${If} $R5 == "="
        ${OrIf} $R5 == ""
          ${Break}
        ${EndIf}
        IntOp $R6 $R6 + 1
      ${Loop}
      ${If} $R5 == "="
        StrCpy $R5 $R4 $R6
        IntOp $R6 $R6 + 1
        StrCpy $R7 $R4 "" $R6
        ClearErrors
        ReadINIStr $R6 $R1 $R3 $R5
        ${If} ${Errors}
          WriteINIStr $R1 $R3 $R5 $R7
          DetailPrint "ZORACfg.ini: added [$R3] $R5"
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${Loop}
  FileClose $R2
  FlushINI $R1
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R0
  Pop $R1
FunctionEnd

; Undoes everything done so far, says why ($Failure, $1) and ends with that status.
Function Fail
  StrCpy $9 $1
  DetailPrint "Failed ($Failure): $9; undoing the changes"
  ; The new service goes first, while its program is still there.
  ${If} ${FileExists} "$INSTDIR\bin64\${SERVICE}.exe"
  ${AndIf} $Written == 1
    Call StopService
    nsExec::ExecToStack '"$INSTDIR\bin64\${SERVICE}.exe" /UnregServer'
    Pop $0
    Pop $1
  ${EndIf}
  ; (a folder that is the current directory cannot be removed)
  SetOutPath "$TEMP"
  !insertmacro SuiteFiles Restore
  ${If} $Upgrade == 1
    ; The old service's registration went with the new one's removal.
    ${If} $ServiceWas != 0
    ${AndIf} $Written == 1
      nsExec::ExecToStack '"$INSTDIR\bin64\${SERVICE}.exe" /Service'
      Pop $0
      Pop $1
    ${EndIf}
    ${If} $ServiceWas == 4
      Call StartService
    ${EndIf}
  ${Else}
    DeleteRegValue HKLM "${INSTALL_KEY}" "SDKFolder"
    DeleteRegKey /ifempty HKLM "${INSTALL_KEY}"
    DeleteRegKey /ifempty HKLM "${MAKER_KEY}"
    RMDir "$INSTDIR\bin"
    RMDir "$INSTDIR\bin64"
    RMDir "$INSTDIR\cfg"
    RMDir "$INSTDIR"
  ${EndIf}
  ${If} $TaloClosed == 1
    Exec '"$INSTDIR\bin\TALO.exe"'
  ${EndIf}
  StrCpy $1 $9
  SetErrorLevel $Failure
  ${Select} $Failure
    ${Case} ${EXIT_IN_USE}
      MessageBox MB_OK|MB_ICONSTOP "$(MsgInUse)" /SD IDOK
    ${Case} ${EXIT_WRITE}
      MessageBox MB_OK|MB_ICONSTOP "$(MsgWrite)" /SD IDOK
    ${Case} ${EXIT_SERVICE_REGISTER}
      MessageBox MB_OK|MB_ICONSTOP "$(MsgRegister)" /SD IDOK
    ${Case} ${EXIT_SERVICE_START}
      MessageBox MB_OK|MB_ICONSTOP "$(MsgStart)" /SD IDOK
    ${Case} ${EXIT_SERVICE_STOP}
      MessageBox MB_OK|MB_ICONSTOP "$(MsgStop)" /SD IDOK
  ${EndSelect}
  Abort
FunctionEnd

; Starts the service and waits until it runs (at most 30 s). Out: $1 "running" or the
; reason it does not.
Function StartService
  StrCpy $1 "running"
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p.r2'
  System::Call 'advapi32::OpenServiceW(p r2, w "${SERVICE}", i 0x14) p.r3'
  ${If} $3 P= 0
    StrCpy $1 "not installed"
  ${Else}
    System::Call 'advapi32::StartServiceW(p r3, i 0, p 0) i.r5 ?e'
    Pop $7
    ${If} $5 == 0
    ${AndIf} $7 != 1056 ; ERROR_SERVICE_ALREADY_RUNNING
      StrCpy $1 "error $7"
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r3)'
  ${EndIf}
  System::Call 'advapi32::CloseServiceHandle(p r2)'
  ${If} $1 == "running"
    StrCpy $8 0
    ${Do}
      Call QueryService
      ${If} $0 == 4
        ${Break}
      ${EndIf}
      ${If} $0 == 1
      ${OrIf} $8 >= 300
        StrCpy $1 "state $0"
        ${Break}
      ${EndIf}
      Sleep 100
      IntOp $8 $8 + 1
    ${Loop}
  ${EndIf}
FunctionEnd

Section "Lumenkeep" SecSuite
  SectionIn RO
  StrCpy $Failure 0
  StrCpy $Written 0
  InitPluginsDir

  ; The old programs stop.
  StrCpy $ServiceWas 0
  ${If} $Upgrade == 1
    DetailPrint "Upgrading the installation in $INSTDIR"
    Call CloseTalo
    Call StopService
    StrCpy $ServiceWas $0
    ${If} $1 != "stopped"
      StrCpy $Failure ${EXIT_SERVICE_STOP}
      Call Fail
    ${EndIf}
  ${EndIf}

  ; Nothing is changed while a file of the installation is in use.
  !insertmacro SuiteFiles CheckNotInUse
  ${If} $Failure != 0
    Call Fail
  ${EndIf}
  !insertmacro SuiteFiles BackUp
  ${If} $Failure != 0
    Call Fail
  ${EndIf}

  SetOverwrite try
  StrCpy $Written 1
  !insertmacro SuiteFiles Write
  ${If} $Failure != 0
    Call Fail
  ${EndIf}

  ; The library finds the installation's cfg folder through SDKFolder.
  WriteRegStr HKLM "${INSTALL_KEY}" "SDKFolder" "$INSTDIR\"

  DetailPrint "Registering the service ${SERVICE}"
  nsExec::ExecToStack '"$INSTDIR\bin64\${SERVICE}.exe" /Service'
  Pop $0
  Pop $1
  ${If} $0 != 0
    ${If} $1 == ""
      StrCpy $1 "exit status $0"
    ${EndIf}
    StrCpy $Failure ${EXIT_SERVICE_REGISTER}
    Call Fail
  ${EndIf}
  DetailPrint "Starting the service ${SERVICE}"
  Call StartService
  ${If} $1 != "running"
    StrCpy $Failure ${EXIT_SERVICE_START}
    Call Fail
  ${EndIf}

  ; From here on nothing fails: the old files go, the suite is entered in the system.
  !insertmacro SuiteFiles DropBackup
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\bin\TALO.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\TALO.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
  ${If} $TaloClosed == 1
    Exec '"$INSTDIR\bin\TALO.exe"'
  ${EndIf}
  SetErrorLevel ${EXIT_OK}
SectionEnd

; ---- Uninstaller ------------------------------------------------------------------

Var RemoveUserFiles

Function un.onInit
  Call un.CheckPrerequisites
  StrCpy $RemoveUserFiles 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEUSERFILES" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveUserFiles 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseTalo
  Call un.StopService
  StrCpy $ServiceWas $0
  ${If} $1 != "stopped"
    SetErrorLevel ${EXIT_SERVICE_STOP}
    MessageBox MB_OK|MB_ICONSTOP "$(MsgStop)" /SD IDOK
    Abort
  ${EndIf}
  StrCpy $Failure 0
  !insertmacro SuiteFiles CheckNotInUse
  ${If} $Failure != 0
    ${If} $ServiceWas == 4
      nsExec::Exec '"$SYSDIR\sc.exe" start ${SERVICE}'
    ${EndIf}
    SetErrorLevel $Failure
    MessageBox MB_OK|MB_ICONSTOP "$(MsgInUse)" /SD IDOK
    Abort
  ${EndIf}

  DetailPrint "Removing the service ${SERVICE}"
  nsExec::ExecToStack '"$INSTDIR\bin64\${SERVICE}.exe" /UnregServer'
  Pop $0
  Pop $1
  Call un.QueryService
  ${If} $0 != 0
    StrCpy $1 "still installed"
    SetErrorLevel ${EXIT_SERVICE_STOP}
    MessageBox MB_OK|MB_ICONSTOP "$(MsgStop)" /SD IDOK
    Abort
  ${EndIf}

  SetOutPath "$TEMP"
  !insertmacro SuiteFiles Remove
  Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\bin"
  RMDir "$INSTDIR\bin64"
  RMDir "$INSTDIR\cfg"
  RMDir /REBOOTOK "$INSTDIR"

  ; The suite's machine-wide keys, including whatever else lies under the installation key.
  DeleteRegKey HKLM "${INSTALL_KEY}"
  DeleteRegKey /ifempty HKLM "${MAKER_KEY}"
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The user's own files (schemes, TALO's profile and flags) stay unless asked for.
  ${If} $RemoveUserFiles == 0
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(MsgRemoveUserFiles)" /SD IDNO IDNO keepUserFiles
    StrCpy $RemoveUserFiles 1
  keepUserFiles:
  ${EndIf}
  ${If} $RemoveUserFiles == 1
    SetShellVarContext current
    DetailPrint "Removing $LOCALAPPDATA\${USER_FOLDER}"
    RMDir /r "$LOCALAPPDATA\${USER_FOLDER}"
    RMDir "$LOCALAPPDATA\Korvex\ZORA"
    RMDir "$LOCALAPPDATA\Korvex"
    DeleteRegKey HKCU "${USER_KEY}"
    DeleteRegKey /ifempty HKCU "${MAKER_KEY}"
  ${EndIf}
  SetErrorLevel ${EXIT_OK}
SectionEnd
