; Installer of the KX7 HostPair programs: per machine, into one folder under Program Files, with
; a log-on entry for every user and an uninstaller listed in Add/Remove Programs.
;
; The build passes the inputs: makensis -DVERSION=2.0.5.3 -DCONNECTOR=<KX7AutoConnector.exe>
;   -DAGENT=<StonevaultStartupAgent.exe> -DHOSTCHECK=<KX7HostCheck.exe> -DICON=<.ico>
;   -DOUTFILE=<setup.exe> KX7HostPair.nsi
; and, in a signed build, -DSIGN_UNINSTALLER=<command that signs the file named after it>.

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
; Run under HKLM starts the entry for every user who logs on. A 32-bit installer on 64-bit
; Windows writes it to the 32-bit view of the key, which log-on runs as well.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "StonevaultStartupAgent"
!define CONNECTOR_CLASS "KX7AutoConnector_Class"
!define CONNECTOR_TITLE "KX7 HostPair Auto Connector"
; A connector in the middle of a pass finishes it first, which may mean a message of it that
; is waiting for the user.
!define CONNECTOR_END_WAIT_MS 30000
; The agent copies the path after /S: into a buffer of 260 characters, terminator included.
!define MAX_CONNECTOR_PATH 259
!define SYNCHRONIZE 0x00100000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!ifdef SIGN_UNINSTALLER
    ; The installer writes out the uninstaller it carries at install time, so only a signature
    ; made here, before it is stored, reaches the installed Uninstall.exe.
    !uninstfinalize `${SIGN_UNINSTALLER} "%1"` = 0
!endif
InstallDir "$PROGRAMFILES\Stonevault\KX7 HostPair"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
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

; Ends a running connector the way a confirmed Exit does: WM_CLOSE to its main window makes it
; start no new pass, finish a running one and end. Its files can be replaced or removed once
; the process is gone, not merely its window.
!macro DefineEndConnector prefix
Function ${prefix}EndConnector
    FindWindow $0 "${CONNECTOR_CLASS}" "${CONNECTOR_TITLE}"
    ${If} $0 == 0
        Return
    ${EndIf}
    DetailPrint "Ending the running ${PRODUCT}"
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1) i"
    System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2"
    retry:
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
FunctionEnd

Function un.onInit
    !insertmacro RequireAdministrator
FunctionEnd

Function .onVerifyInstDir
    StrLen $0 "$INSTDIR\KX7AutoConnector.exe"
    ${If} $0 > ${MAX_CONNECTOR_PATH}
        Abort
    ${EndIf}
FunctionEnd

Function StartConnector
    Exec '"$INSTDIR\KX7AutoConnector.exe"'
FunctionEnd

Section "Install"
    ; A silent install is not held back by the directory page.
    StrLen $0 "$INSTDIR\KX7AutoConnector.exe"
    ${If} $0 > ${MAX_CONNECTOR_PATH}
        Abort "The folder name is too long for the log-on entry: $INSTDIR"
    ${EndIf}
    Call EndConnector

    SetOutPath "$INSTDIR"
    File "/oname=KX7AutoConnector.exe" "${CONNECTOR}"
    File "/oname=StonevaultStartupAgent.exe" "${AGENT}"
    File "/oname=KX7HostCheck.exe" "${HOSTCHECK}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; The agent takes everything after /S: as the path, spaces and all, so it stays unquoted
    ; and last.
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\StonevaultStartupAgent.exe" /D:3000 /HIDE /S:$INSTDIR\KX7AutoConnector.exe'

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
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    Delete /REBOOTOK "$INSTDIR\KX7AutoConnector.exe"
    Delete /REBOOTOK "$INSTDIR\StonevaultStartupAgent.exe"
    Delete /REBOOTOK "$INSTDIR\KX7HostCheck.exe"
    Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
    ; Only when empty: files someone else put there are not ours to remove.
    RMDir /REBOOTOK "$INSTDIR"
    RMDir "$PROGRAMFILES\Stonevault"
    ; Last, so that the entry disappears only once everything else has gone.
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
