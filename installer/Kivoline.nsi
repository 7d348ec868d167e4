; Kivoline's setup program, which is also its updater.
;
; As KivoSetup-<version>.exe it installs the client for the current user,
; without elevation, into %LOCALAPPDATA%\Programs\Kivoline (a folder the user
; can write, so that the client's self-update can put KivoUpdate.exe beside
; itself), with a Start-menu shortcut and an entry under Apps & features.
; /S installs silently.
;
; As KivoUpdate.exe it is started by the client with the client's file name
; as its only parameter (quoted or not). It then runs silently: it writes the
; new client as .new and flushes it to the disk, waits up to 30 s for the old
; client to end, replaces it in the folder the updater was started from and
; starts the new client. The replacement keeps the old client as .old (a
; second link to it, or a copy) and then moves the new file over it in one
; step, so the folder always holds a whole client. The .old goes once the new
; client has been seen running (its mutex or its window) within 15 s;
; otherwise .old is put back. Whenever the update fails for good, the client
; left in place is started with the one command line it reads:
;   "<client>" /updatefailed=<version> /reason=<write|replace|start>
; so that it does not fetch this version again in that run and says why. A
; client lost by an earlier, interrupted update (only its .old left) is put
; back first, in both modes.
;
; The texts come in English, Simplified Chinese and Traditional Chinese,
; chosen from the system's default language as the client chooses its own.
; This file is UTF-8 (makensis -INPUTCHARSET UTF8).
;
; makensis -INPUTCHARSET UTF8 -XTarget\ <x86-unicode|amd64-unicode> with
;   KIVO_CLIENT, KIVO_OUTFILE, KIVO_ICON, KIVO_VERSION (5 bytes),
;   KIVO_VERSION_QUAD (a.b.c.d), KIVO_COMPANY, KIVO_COPYRIGHT_YEAR
; defined on the command line (installer/CMakeLists.txt does this).

!ifndef KIVO_CLIENT | KIVO_OUTFILE | KIVO_ICON | KIVO_VERSION | KIVO_VERSION_QUAD | KIVO_COMPANY | KIVO_COPYRIGHT_YEAR
  !error "KIVO_CLIENT, KIVO_OUTFILE, KIVO_ICON, KIVO_VERSION, KIVO_VERSION_QUAD, KIVO_COMPANY and KIVO_COPYRIGHT_YEAR must be defined"
!endif

Unicode true

!define PRODUCT "Kivoline"
!define CLIENT_EXE "KivoVpn.exe"
!define UPDATER_EXE "KivoUpdate.exe"
!define UNINSTALLER_EXE "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kivoline"
; The client's single-instance mutex: it exists exactly while a client runs.
!define CLIENT_MUTEX "Kivoline"
; Waiting for a client to end: 60 polls of 500 ms.
!define WAIT_POLLS 60
!define WAIT_POLL_MS 500
; Waiting for the new client to come up: 30 polls of 500 ms.
!define START_POLLS 30
; The running client's message-only instance window (src/ui/InstanceWindow.cpp).
!define CLIENT_INSTANCE_CLASS "Kivoline.Instance"
!define HWND_MESSAGE -3
!define GENERIC_WRITE 0x40000000
!define OPEN_EXISTING 3
!define SYNCHRONIZE 0x00100000
; MoveFileExW flags: MOVEFILE_WRITE_THROUGH, and with MOVEFILE_REPLACE_EXISTING.
!define MOVEFILE_WRITE_THROUGH 8
!define MOVEFILE_REPLACE_WRITE_THROUGH 9

; With KIVO_SIGN_UNINSTALLER (a command taking the file as %1) the
; uninstaller is signed in place before it goes into the setup program.
!ifdef KIVO_SIGN_UNINSTALLER
  !uninstfinalize '${KIVO_SIGN_UNINSTALLER}' = 0
!endif

SetCompressor /SOLID lzma
Name "${PRODUCT}"
OutFile "${KIVO_OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
RequestExecutionLevel user
ManifestSupportedOS all
BrandingText "${PRODUCT} ${KIVO_VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${KIVO_ICON}"
!define MUI_UNICON "${KIVO_ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${CLIENT_EXE}"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "TradChinese"

LangString ClientRunning ${LANG_ENGLISH} "${PRODUCT} is running. Exit it first (right-click its icon in the notification area and choose Exit), then press Retry."
LangString ClientRunning ${LANG_SIMPCHINESE} "${PRODUCT} 正在运行。请先退出它（右键单击通知区域中的图标，选择“退出”），然后按“重试”。"
LangString ClientRunning ${LANG_TRADCHINESE} "${PRODUCT} 正在執行。請先結束它（在通知區域中的圖示上按一下滑鼠右鍵，選擇「結束」），然後按「重試」。"
LangString ClientStillRunning ${LANG_ENGLISH} "${PRODUCT} did not exit."
LangString ClientStillRunning ${LANG_SIMPCHINESE} "${PRODUCT} 没有退出。"
LangString ClientStillRunning ${LANG_TRADCHINESE} "${PRODUCT} 沒有結束。"

VIProductVersion "${KIVO_VERSION_QUAD}"
VIFileVersion "${KIVO_VERSION_QUAD}"
!macro VERSION_KEYS LANG DESCRIPTION COPYRIGHT
  VIAddVersionKey /LANG=${LANG} "ProductName" "${PRODUCT}"
  VIAddVersionKey /LANG=${LANG} "CompanyName" "${KIVO_COMPANY}"
  VIAddVersionKey /LANG=${LANG} "FileDescription" "${DESCRIPTION}"
  VIAddVersionKey /LANG=${LANG} "FileVersion" "${KIVO_VERSION}"
  VIAddVersionKey /LANG=${LANG} "ProductVersion" "${KIVO_VERSION}"
  VIAddVersionKey /LANG=${LANG} "LegalCopyright" "${COPYRIGHT}"
  ; The client starts a downloaded updater only when it names itself so.
  VIAddVersionKey /LANG=${LANG} "OriginalFilename" "KivoSetup.exe"
  VIAddVersionKey /LANG=${LANG} "InternalName" "KivoSetup"
!macroend
!insertmacro VERSION_KEYS ${LANG_ENGLISH} "${PRODUCT} setup and updater" "Copyright (C) ${KIVO_COPYRIGHT_YEAR} ${KIVO_COMPANY}"
!insertmacro VERSION_KEYS ${LANG_SIMPCHINESE} "${PRODUCT} 安装和更新程序" "版权所有 (C) ${KIVO_COPYRIGHT_YEAR} ${KIVO_COMPANY}"
!insertmacro VERSION_KEYS ${LANG_TRADCHINESE} "${PRODUCT} 安裝與更新程式" "版權所有 (C) ${KIVO_COPYRIGHT_YEAR} ${KIVO_COMPANY}"

Var UpdateMode  ; 1 when started as the updater
Var ClientName  ; the client's file name handed to the updater

; ---------------------------------------------------------------- shared

; Functions the installer and the uninstaller both need: NSIS wants the
; uninstaller's copies prefixed with "un.".
!macro SHARED_FUNCTIONS UN
  ; As the client itself decides: Simplified Chinese for the system languages
  ; 2052 and 4100 (mainland China, Singapore), Traditional Chinese for 1028,
  ; 3076 and 5124 (Taiwan, Hong Kong, Macau), English for every other.
  Function ${UN}PickLanguage
    System::Call "kernel32::GetSystemDefaultLangID() i .r0"
    ${If} $0 = 2052
    ${OrIf} $0 = 4100
      StrCpy $LANGUAGE ${LANG_SIMPCHINESE}
    ${ElseIf} $0 = 1028
    ${OrIf} $0 = 3076
    ${OrIf} $0 = 5124
      StrCpy $LANGUAGE ${LANG_TRADCHINESE}
    ${Else}
      StrCpy $LANGUAGE ${LANG_ENGLISH}
    ${EndIf}
  FunctionEnd

  ; $0: 1 while a client runs in this session (its mutex exists), else 0.
  Function ${UN}ClientRunning
    System::Call "kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w '${CLIENT_MUTEX}') p .r1"
    ${If} $1 != 0
      System::Call "kernel32::CloseHandle(p r1)"
      StrCpy $0 1
    ${Else}
      StrCpy $0 0
    ${EndIf}
  FunctionEnd

  ; Returns once no client runs. Interactively the user is asked to exit it
  ; (Retry or Cancel); silently it waits, with a bound. Aborts when the
  ; client stays.
  Function ${UN}WaitForClient
    StrCpy $2 0
    check:
      Call ${UN}ClientRunning
      ${If} $0 = 0
        Return
      ${EndIf}
      ${IfNot} ${Silent}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(ClientRunning)" /SD IDCANCEL IDRETRY check
        Abort "$(ClientStillRunning)"
      ${EndIf}
      ${If} $2 >= ${WAIT_POLLS}
        Abort "$(ClientStillRunning)"
      ${EndIf}
      IntOp $2 $2 + 1
      Sleep ${WAIT_POLL_MS}
      Goto check
  FunctionEnd
!macroend
!insertmacro SHARED_FUNCTIONS ""
!insertmacro SHARED_FUNCTIONS "un."

; Writes the client carried by this program to the path in $R9.
Function ExtractClient
  ClearErrors
  File "/oname=$R9" "${KIVO_CLIENT}"
FunctionEnd

; -------------------------------------------------------------- updater

; Update mode: the command line is one file name, quoted or not, without a
; directory. Sets $UpdateMode and $ClientName.
Function ReadUpdateRequest
  StrCpy $UpdateMode 0
  ${GetParameters} $0
  StrCpy $1 $0 1
  ${If} $0 == ""
  ${OrIf} $1 == "/"
    Return
  ${EndIf}
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    StrCpy $1 $0 1 -1
    ${If} $1 == '"'
      StrCpy $0 $0 -1
    ${EndIf}
  ${EndIf}
  ; No directory, drive or quote may hide in the name.
  StrLen $2 $0
  ${If} $2 = 0
    Return
  ${EndIf}
  StrCpy $3 0
  ${Do}
    StrCpy $1 $0 1 $3
    ${If} $1 == "\"
    ${OrIf} $1 == "/"
    ${OrIf} $1 == ":"
    ${OrIf} $1 == '"'
      Return
    ${EndIf}
    IntOp $3 $3 + 1
  ${LoopUntil} $3 >= $2
  StrCpy $ClientName $0
  StrCpy $UpdateMode 1
FunctionEnd

; Puts back a client that an interrupted update left only as $R8.old (an
; updater of an earlier release renamed the client away before it moved the
; new one in). Nothing else is touched. Changes $1.
Function RepairClient
  ${IfNot} ${FileExists} "$R8"
  ${AndIf} ${FileExists} "$R8.old"
    System::Call "kernel32::MoveFileExW(w '$R8.old', w '$R8', i ${MOVEFILE_WRITE_THROUGH}) i .r1"
  ${EndIf}
FunctionEnd

; Writes $R8.new's data through to the disk, so that a power cut after the
; move below cannot leave a client with its name and without its data.
; Sets the error flag when the file cannot be opened or flushed.
Function FlushNew
  System::Call "kernel32::CreateFileW(w '$R8.new', i ${GENERIC_WRITE}, i 0, p 0, i ${OPEN_EXISTING}, i 0, p 0) p .r1"
  ${If} $1 = -1
  ${OrIf} $1 = 0
    SetErrors
    Return
  ${EndIf}
  System::Call "kernel32::FlushFileBuffers(p r1) i .r2"
  System::Call "kernel32::CloseHandle(p r1)"
  ${If} $2 = 0
    SetErrors
  ${EndIf}
FunctionEnd

; Moves $R8.new over $R8 in one step: at every moment one whole client is
; in place, never none. The replaced client stays as $R8.old (a second link
; to the same file, or a copy where links cannot be made) until the caller
; lets it go. $0: 1 when done, 0 when the old one is still held (its program
; has not let go of it yet) or anything else refused it; then no .old is left.
Function ReplaceClient
  StrCpy $0 0
  ${IfNot} ${FileExists} "$R8.new"
    Return
  ${EndIf}
  ; With $R8 there (RepairClient ran first), an .old is a stray and the
  ; client is kept as the new .old; without it (a first install) there is
  ; nothing to keep, and an .old left is the only client: it stays.
  StrCpy $3 0
  ${If} ${FileExists} "$R8"
    Delete "$R8.old"
    System::Call "kernel32::CreateHardLinkW(w '$R8.old', w '$R8', p 0) i .r1"
    ${If} $1 = 0
      System::Call "kernel32::CopyFileW(w '$R8', w '$R8.old', i 1) i .r1"
      ${If} $1 = 0
        Return
      ${EndIf}
    ${EndIf}
    StrCpy $3 1
  ${EndIf}
  System::Call "kernel32::MoveFileExW(w '$R8.new', w '$R8', i ${MOVEFILE_REPLACE_WRITE_THROUGH}) i .r1"
  ${If} $1 <> 0
    StrCpy $0 1
  ${ElseIf} $3 = 1
    Delete "$R8.old"
  ${EndIf}
FunctionEnd

; $0: 1 once a client runs in this session (its mutex or its instance
; window), within START_POLLS polls; else 0.
Function WaitForNewClient
  StrCpy $2 0
  ${Do}
    Call ClientRunning
    ${If} $0 = 1
      Return
    ${EndIf}
    System::Call "user32::FindWindowExW(p ${HWND_MESSAGE}, p 0, w '${CLIENT_INSTANCE_CLASS}', p 0) p .r1"
    ${If} $1 <> 0
      StrCpy $0 1
      Return
    ${EndIf}
    IntOp $2 $2 + 1
    Sleep ${WAIT_POLL_MS}
  ${LoopUntil} $2 >= ${START_POLLS}
  StrCpy $0 0
FunctionEnd

; Removes a stray $R8.new and $R8.old, but only while $R8 itself is there:
; without it, an .old is the only client left.
Function RemoveStrays
  ${If} ${FileExists} "$R8"
    Delete "$R8.new"
    Delete "$R8.old"
  ${EndIf}
FunctionEnd

; Replaces $EXEDIR\$ClientName by the client carried here and starts it. The
; old client is given the bound to end and let go of its file; if it has not,
; or anything fails on the way, or the new client does not come up, the old
; client stays (or is put back) and is started with the failure command
; line, the reason in $R7.
Function Update
  StrCpy $R8 "$EXEDIR\$ClientName"
  SetOutPath "$EXEDIR"
  Call RepairClient
  StrCpy $R7 "write"
  StrCpy $R9 "$R8.new"
  Call ExtractClient
  ${If} ${Errors}
    Goto failed
  ${EndIf}
  Call FlushNew
  ${If} ${Errors}
    Goto failed
  ${EndIf}
  StrCpy $R7 "replace"
  StrCpy $2 0
  attempt:
    Call ClientRunning
    ${If} $0 = 0
      Call ReplaceClient
      ${If} $0 = 1
        Goto replaced
      ${EndIf}
    ${EndIf}
    ${If} $2 >= ${WAIT_POLLS}
      Goto failed
    ${EndIf}
    IntOp $2 $2 + 1
    Sleep ${WAIT_POLL_MS}
    Goto attempt
  replaced:
    ClearErrors
    Exec '"$R8"'
    ${IfNot} ${Errors}
      Call WaitForNewClient
      ${If} $0 = 1
        ; An installed client's entry under Apps & features shows the new version.
        ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $0 == "$EXEDIR"
          WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${KIVO_VERSION}"
        ${EndIf}
        Call RemoveStrays
        Return
      ${EndIf}
    ${EndIf}
    ; The new client did not come up: the old one goes back in one step.
    StrCpy $R7 "start"
    System::Call "kernel32::MoveFileExW(w '$R8.old', w '$R8', i ${MOVEFILE_REPLACE_WRITE_THROUGH}) i .r1"
  failed:
    ; Whatever happened above, the folder keeps a client: the old one, or
    ; the one put back from .old; no .new stays.
    Delete "$R8.new"
    Call RepairClient
    Call RemoveStrays
    ClearErrors
    Exec '"$R8" /updatefailed=${KIVO_VERSION} /reason=$R7'
    ${If} ${Errors}
      SetErrorLevel 2
    ${EndIf}
FunctionEnd

; ------------------------------------------------------------ installer

Function .onInit
  Call PickLanguage
  Call ReadUpdateRequest
  ${If} $UpdateMode = 1
    SetSilent silent
    StrCpy $INSTDIR "$EXEDIR"
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  ${If} $UpdateMode = 1
    Call Update
    Return
  ${EndIf}

  StrCpy $R8 "$INSTDIR\${CLIENT_EXE}"
  Call RepairClient
  Call WaitForClient
  SetOutPath "$INSTDIR"
  ; Written beside the client and moved over it in one step, like an update.
  StrCpy $R9 "$R8.new"
  Call ExtractClient
  ${If} ${Errors}
    Delete "$R8.new"
    Abort
  ${EndIf}
  ; A client that has just ended may hold its file for a moment.
  StrCpy $2 0
  ${Do}
    Call ReplaceClient
    ${If} $0 = 1
    ${OrIf} $2 >= 10
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    Sleep ${WAIT_POLL_MS}
  ${Loop}
  ${If} $0 <> 1
    Delete "$R8.new"
    Abort "$(ClientStillRunning)"
  ${EndIf}
  Call RemoveStrays
  Delete "$INSTDIR\${UPDATER_EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER_EXE}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${CLIENT_EXE}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${KIVO_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${KIVO_COMPANY}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${CLIENT_EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_EXE}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_EXE}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; ---------------------------------------------------------- uninstaller

Function un.onInit
  Call un.PickLanguage
FunctionEnd

; Removes the program, the shortcut, the entry, a leftover updater and what
; an interrupted update left, and nothing else: the folder goes only when
; that leaves it empty.
Section "Uninstall"
  Call un.WaitForClient
  Delete "$INSTDIR\${CLIENT_EXE}"
  Delete "$INSTDIR\${CLIENT_EXE}.new"
  Delete "$INSTDIR\${CLIENT_EXE}.old"
  Delete "$INSTDIR\${UPDATER_EXE}"
  Delete "$INSTDIR\${UNINSTALLER_EXE}"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Last: once the folder has gone, everything else has too.
  RMDir "$INSTDIR"
SectionEnd
