; Installer of the KX7 HostPair programs: per machine, into one folder under Program Files, with
; a log-on entry for every user (or, with /SERVICE, the HostPair service in its place) and an
; uninstaller listed in Add/Remove Programs.
;
; The build passes the inputs: makensis -DVERSION=2.0.5.3 -DCONNECTOR=<KX7AutoConnector.exe>
;   -DSERVICE=<KX7HostPairService.exe> -DAGENT=<StonevaultStartupAgent.exe> -DHOSTCHECK=<KX7HostCheck.exe>
;   -DSETUPACTIONS=<KX7SetupActions.dll> -DICON=<.ico> -DOUTFILE=<setup.exe> KX7HostPair.nsi
; and, in a signed build, -DSIGN_UNINSTALLER=<command that signs the file named after it>.
; -DTARGET_AMD64 makes the 64-bit copy that the tests of the x86_64 build run; it installs into
; the 64-bit Program Files but keeps the shipped 32-bit installer's registry view.

!ifdef TARGET_AMD64
    Target amd64-unicode
!endif
Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh
!include FileFunc.nsh

!define PRODUCT "KX7 HostPair Auto Connector"
!define PUBLISHER "Stonevault"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KX7HostPair"
; The connector's event source: Event Viewer takes the texts of its events from the program.
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\KX7 HostPair"
!define CONNECTOR_CLASS "KX7AutoConnector_Class"
!define CONNECTOR_TITLE "KX7 HostPair Auto Connector"
; Registered by name by the connector, which lets it through from programs with fewer rights.
!define END_CONNECTOR_MESSAGE "KX7HostPair.EndConnector"
; A connector in the middle of a pass finishes it first, which may mean a message of it that
; is waiting for the user.
!define CONNECTOR_END_WAIT_MS 30000
; The agent copies the path after /S: into a buffer of 260 characters, terminator included.
!define MAX_CONNECTOR_PATH 259
!define SYNCHRONIZE 0x00100000
; The MSI's UpgradeCode, shared by every version of the package.
!define MSI_UPGRADE_CODE "{7074F1E5-2129-441D-B04E-B3CAB9D8E9A8}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; 1 with /SERVICE: the service starts the engine, not the log-on start.
Var ServiceMode
!ifdef SIGN_UNINSTALLER
    ; The installer writes out the uninstaller it carries at install time, so only a signature
    ; made here, before it is stored, reaches the installed Uninstall.exe.
    !uninstfinalize `${SIGN_UNINSTALLER} "%1"` = 0
!endif
; No InstallDir or InstallDirRegKey: the folder is chosen in .onInit, where the registry view is
; set first (see there).
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartConnector
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) ${PUBLISHER}"

; Both the installer and the uninstaller change Program Files and HKLM.
!macro RequireAdministrator
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_OK|MB_ICONSTOP "Installing and removing the ${PRODUCT} needs administrator rights." /SD IDOK
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
!macroend

; Ends a running connector the way a confirmed Exit does: the end message to its main window
; makes it start no new pass, finish a running one and end. Its files can be replaced or removed
; once the process is gone, not merely its window. No window found, nothing to end.
!macro DefineEndConnector prefix
Function ${prefix}EndConnector
    FindWindow $0 "${CONNECTOR_CLASS}" "${CONNECTOR_TITLE}"
    ${If} $0 == 0
        Return
    ${EndIf}
    DetailPrint "Ending the running ${PRODUCT}"
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1) i"
    System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2"
    ; The registered end message passes the filter of an elevated connector; WM_CLOSE ends a
    ; connector of an earlier version, which knows no other.
    System::Call "user32::RegisterWindowMessageW(w '${END_CONNECTOR_MESSAGE}') i .r5"
    retry:
    ${If} $5 != 0
        SendMessage $0 $5 0 0 /TIMEOUT=5000
    ${EndIf}
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${If} $2 P<> 0
        System::Call "kernel32::WaitForSingleObject(p r2, i ${CONNECTOR_END_WAIT_MS}) i .r3"
    ${Else}
        ; Without a handle of the process, its window is the only sign of it.
        StrCpy $3 258 ; WAIT_TIMEOUT
        StrCpy $4 0
        wait_for_window:
        Sleep 250
        IntOp $4 $4 + 250
        IsWindow $0 0 window_gone
        IntCmp $4 ${CONNECTOR_END_WAIT_MS} window_waited wait_for_window window_waited
        window_gone:
        StrCpy $3 0
        window_waited:
    ${EndIf}
    ${If} $3 != 0
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "The ${PRODUCT} is still finishing its work; a message of it may be waiting for you.$\r$\n$\r$\nAnswer it, then choose Retry." /SD IDCANCEL IDRETRY retry
        ${If} $2 P<> 0
            System::Call "kernel32::CloseHandle(p r2)"
        ${EndIf}
        Abort "The ${PRODUCT} is still running."
    ${EndIf}
    ${If} $2 P<> 0
        System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
FunctionEnd
!macroend
!insertmacro DefineEndConnector ""
!insertmacro DefineEndConnector "un."

Function .onInit
    !insertmacro RequireAdministrator
    SetRegView 32
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/SERVICE" $1
    ${If} ${Errors}
        StrCpy $ServiceMode 0
    ${Else}
        StrCpy $ServiceMode 1
    ${EndIf}
    ; Without /D= (which alone sets $INSTDIR before this runs) a new install goes where the
    ; product already is, else into the default folder. Read here rather than by
    ; InstallDirRegKey, which reads the installer's own registry view before any code runs: the
    ; 64-bit test copy would then miss the entry that the shipped 32-bit installer finds.
    ${If} $INSTDIR == ""
        ReadRegStr $INSTDIR HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${EndIf}
    ${If} $INSTDIR == ""
        StrCpy $INSTDIR "$PROGRAMFILES\Stonevault\KX7 HostPair"
    ${EndIf}
FunctionEnd

Function un.onInit
    !insertmacro RequireAdministrator
    SetRegView 32
FunctionEnd

; What both installers do alike lives in one helper DLL: the log-on start (from Vista on a task
; that starts the agent elevated without a prompt, on XP the Run value under HKLM; removed only
; where it names the agent in the given folder), preparing the install folder and removing an
; earlier copy.
; Calls FUNCTION of the installer's helper DLL with the install folder; its result lands in $0.
!macro CallSetupActions function
    InitPluginsDir
    File "/oname=$PLUGINSDIR\KX7SetupActions.dll" "${SETUPACTIONS}"
    StrCpy $9 $INSTDIR
    System::Call "$PLUGINSDIR\KX7SetupActions.dll::${function}(w r9) i .r0 ?u"
!macroend

Function .onVerifyInstDir
    StrLen $0 "$INSTDIR\KX7AutoConnector.exe"
    ${If} $0 > ${MAX_CONNECTOR_PATH}
        Abort
    ${EndIf}
FunctionEnd

; A copy installed earlier in another folder, or by the MSI, is removed first with its own
; uninstaller, so that one copy remains and its log-on start and Add/Remove Programs entry are
; this one's.
Function RemoveEarlierCopies
    System::Call "msi::MsiEnumRelatedProductsW(w '${MSI_UPGRADE_CODE}', i 0, i 0, w .r1) i .r0"
    ${If} $0 == 0
        DetailPrint "Removing the copy installed by the MSI"
        ExecWait '"$SYSDIR\msiexec.exe" /x $1 /qn' $2
        ${If} $2 != 0
        ${AndIf} $2 != 3010 ; removed, a restart pending
            Abort "The ${PRODUCT} installed by the MSI could not be removed (error $2)."
        ${EndIf}
    ${EndIf}
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == ""
    ${OrIf} $0 == $INSTDIR
        Return
    ${EndIf}
    DetailPrint "Removing the copy in $0"
    ; Not with that copy's own uninstaller, which lies in a folder a user may have been able to
    ; write to: the helper DLL removes what the copy registered and its known files.
    InitPluginsDir
    File "/oname=$PLUGINSDIR\KX7SetupActions.dll" "${SETUPACTIONS}"
    System::Call "$PLUGINSDIR\KX7SetupActions.dll::RemoveEarlierCopy(w r0) i .r1 ?u"
    ${If} $1 != 0
        DetailPrint "The log-on start of the copy in $0 could not be removed (error $1)"
    ${EndIf}
FunctionEnd

Function StartConnector
    ${If} $ServiceMode == 1
        Return ; the service serves the drives; a connector beside it would send them nothing
    ${EndIf}
    Exec '"$INSTDIR\KX7AutoConnector.exe"'
FunctionEnd

; Calls FUNCTION (folder, other, size) of the helper DLL for the HostPair service in $INSTDIR:
; its result lands in $0, and in $1 the command line of a service of that name that starts
; another program, which the DLL leaves alone (result 0x80070431, ERROR_SERVICE_EXISTS).
!macro CallServiceAction function
    InitPluginsDir
    File "/oname=$PLUGINSDIR\KX7SetupActions.dll" "${SETUPACTIONS}"
    StrCpy $9 $INSTDIR
    System::Call "$PLUGINSDIR\KX7SetupActions.dll::${function}(w r9, w .r1, i ${NSIS_MAX_STRLEN}) i .r0 ?u"
!macroend
!define FOREIGN_SERVICE 0x80070431

Section "Install"
    ; A silent install is not held back by the directory page.
    StrLen $0 "$INSTDIR\KX7AutoConnector.exe"
    ${If} $0 > ${MAX_CONNECTOR_PATH}
        Abort "The folder name is too long for the log-on entry: $INSTDIR"
    ${EndIf}
    Call EndConnector
    ; The folder is closed to other users before anything is written into it, or the install
    ; stops here, with an earlier copy still in place.
    InitPluginsDir
    File "/oname=$PLUGINSDIR\KX7SetupActions.dll" "${SETUPACTIONS}"
    StrCpy $9 $INSTDIR
    System::Call "$PLUGINSDIR\KX7SetupActions.dll::PrepareInstallFolder(w r9, w .r1, i ${NSIS_MAX_STRLEN}) i .r0 ?u"
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONSTOP "$1" /SD IDOK
        Abort "$1"
    ${EndIf}
    Call RemoveEarlierCopies
    ; The earlier copies' services have gone with them. What is left of that name is ours in
    ; this folder, stopped here so that its program can be replaced, or another program's.
    !insertmacro CallServiceAction StopHostPairServiceIn
    IntFmt $0 "0x%08X" $0
    ${If} $0 == ${FOREIGN_SERVICE}
        ${If} $ServiceMode == 1
            MessageBox MB_OK|MB_ICONSTOP "The service KX7HostPair is installed already and starts another program: $1$\r$\n$\r$\nRemove it, then install again." /SD IDOK
            Abort "The service KX7HostPair starts another program: $1"
        ${EndIf}
        DetailPrint "The service KX7HostPair starts another program and is left alone: $1"
    ${EndIf}

    SetOutPath "$INSTDIR"
    File "/oname=KX7AutoConnector.exe" "${CONNECTOR}"
    File "/oname=StonevaultStartupAgent.exe" "${AGENT}"
    File "/oname=KX7HostCheck.exe" "${HOSTCHECK}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; One way to start at a time: each mode takes the other one's away.
    ${If} $ServiceMode == 1
        File "/oname=KX7HostPairService.exe" "${SERVICE}"
        !insertmacro CallSetupActions RemoveLogonStartIn
        !insertmacro CallServiceAction InstallHostPairServiceIn
        ${If} $0 != 0
            IntFmt $0 "0x%08X" $0
            MessageBox MB_OK|MB_ICONEXCLAMATION "The ${PRODUCT} Service could not be installed or started (error $0)." /SD IDOK
            DetailPrint "The service could not be installed or started (error $0)"
        ${EndIf}
    ${Else}
        !insertmacro CallServiceAction RemoveHostPairServiceIn
        Delete "$INSTDIR\KX7HostPairService.exe"
        !insertmacro CallSetupActions RegisterLogonStartIn
        ${If} $0 != 0
            MessageBox MB_OK|MB_ICONEXCLAMATION "The ${PRODUCT} could not be set to start when you log on (error $0). Start it from its folder instead." /SD IDOK
        ${EndIf}
    ${EndIf}

    WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\KX7AutoConnector.exe"
    WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    ; The connector's icon resource 128.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KX7AutoConnector.exe,-128"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The user's settings (HKCU\SOFTWARE\Stonevault\AutoConn) and the registration program's record
; (HKCU\SOFTWARE\Stonevault\KX7EntryPCAgent) are the user's and stay.
Section "Uninstall"
    Call un.EndConnector
    !insertmacro CallSetupActions RemoveLogonStartIn
    !insertmacro CallServiceAction RemoveHostPairServiceIn
    IntFmt $0 "0x%08X" $0
    ${If} $0 == ${FOREIGN_SERVICE}
        DetailPrint "The service KX7HostPair starts another program and is left alone: $1"
    ${EndIf}
    Delete /REBOOTOK "$INSTDIR\KX7HostPairService.exe"
    Delete /REBOOTOK "$INSTDIR\KX7AutoConnector.exe"
    Delete /REBOOTOK "$INSTDIR\StonevaultStartupAgent.exe"
    Delete /REBOOTOK "$INSTDIR\KX7HostCheck.exe"
    Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
    ; Only when empty: files someone else put there are not ours to remove.
    RMDir /REBOOTOK "$INSTDIR"
    RMDir "$PROGRAMFILES\Stonevault"
    ReadRegStr $0 HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile"
    ${If} $0 == "$INSTDIR\KX7AutoConnector.exe"
        DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
    ${EndIf}
    ; Last, so that the entry disappears only once everything else has gone; and only if it is
    ; this copy's, not that of a copy installed in another folder since.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == ""
    ${OrIf} $0 == $INSTDIR
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${EndIf}
SectionEnd
