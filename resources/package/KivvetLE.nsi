; The installer of Kivvet LE, made by script/package with makensis:
;   makensis -INPUTCHARSET UTF8 -DTARGET=amd64-unicode -DVERSION=2.23.15 -DAPP_ID=<id> -DFILES=<folder> -DICON=<app.ico> -DOUTFILE=<setup.exe> KivvetLE.nsi
; TARGET is amd64-unicode for the 64-bit program, x86-unicode for the 32-bit one.
; FILES holds KivvetLE.exe, KivvetLE.dll, KivvetLE.html, README-ja.txt and
; LICENSE.txt; ICON is the cat's icon that Windows shows beside the
; program's notifications, APP_ID the AppUserModelID of resources/version.h.
; A per-user install: no administrator rights, the program in
; %LOCALAPPDATA%\Programs\Kivvet LE, its settings and known UIDs beside it
; (an upgrade or a silent uninstall keeps them), the shortcut in the user's
; Start menu, the entry of Apps & features under HKCU. /S installs and
; uninstalls silently.

Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
; WinVer tells Windows 10 from 8 only when the manifest names it.
ManifestSupportedOS all

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "Win\COM.nsh"
!include "Win\Propkey.nsh"
!include "WinVer.nsh"

!define PRODUCT "Kivvet LE"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KivvetLE"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define WINDOW_CLASS "KivvetLiteEdition"
; Names the program's notifications "Kivvet LE", with the cat, on Windows
; 10 and 11: the program gives its process the same ID.
!define APP_ID_KEY "Software\Classes\AppUserModelId\${APP_ID}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1041 "FileDescription" "${PRODUCT} のインストーラにゃ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (c) the Kivvet LE developers"

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\KivvetLE.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS '$\"-W$INSTDIR$\"'
!define MUI_FINISHPAGE_RUN_TEXT "${PRODUCT} を起動するにゃ"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${FILES}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; The log-on value of a copy is named after its folder and starts it there
; without the title window, exactly as the program's own check box writes
; it, so either side finds and removes the other's value.
!macro LOGON_VALUE_NAME var
  StrCpy ${var} "${PRODUCT} - $INSTDIR"
!macroend

; Every running copy is asked to close (WM_CLOSE to its hidden window) and
; given up to 15 s to go, so no file of ours is held while it is replaced.
!macro CLOSE_RUNNING prefix
  Function ${prefix}CloseRunning
    Push $0
    Push $1
    StrCpy $1 0
    ${Do}
      FindWindow $0 "${WINDOW_CLASS}"
      ${If} $0 = 0
      ${OrIf} $1 >= 150
        ${Break}
      ${EndIf}
      ${If} $1 = 0
        DetailPrint "起動中の ${PRODUCT} を終了するにゃ"
      ${EndIf}
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
      Sleep 100
      IntOp $1 $1 + 1
    ${Loop}
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING ""
!insertmacro CLOSE_RUNNING "un."

; The shortcut carries the program's AppUserModelID, so the Start menu and
; the notifications know the program by the same name.
!macro SET_SHORTCUT_APP_ID path
  !insertmacro ComHlpr_CreateInProcInstance ${CLSID_ShellLink} ${IID_IShellLink} r0 ""
  ${If} $0 P<> 0
    ${IUnknown::QueryInterface} $0 '("${IID_IPersistFile}",.r1)'
    ${If} $1 P<> 0
      ${IPersistFile::Load} $1 '("${path}",${STGM_READWRITE}).r2'
      ${IUnknown::QueryInterface} $0 '("${IID_IPropertyStore}",.r3)'
      ${If} $2 = 0
      ${AndIf} $3 P<> 0
        System::Call '*(&w129 "${APP_ID}")p.r6'
        System::Call '*${SYSSTRUCT_PROPERTYKEY}(${PKEY_AppUserModel_ID})p.r4'
        System::Call '*${SYSSTRUCT_PROPVARIANT}(${VT_LPWSTR},,p r6)p.r5'
        ${IPropertyStore::SetValue} $3 '($4,$5)'
        ${IPropertyStore::Commit} $3 ""
        System::Free $4
        System::Free $5
        System::Free $6
        ${IPersistFile::Save} $1 '("${path}",1)'
      ${EndIf}
      ${If} $3 P<> 0
        ${IUnknown::Release} $3 ""
      ${EndIf}
      ${IUnknown::Release} $1 ""
    ${EndIf}
    ${IUnknown::Release} $0 ""
  ${EndIf}
!macroend

Section "${PRODUCT}" SecProgram
  SectionIn RO
  Call CloseRunning
  SetOutPath "$INSTDIR"
  File "${FILES}\KivvetLE.exe"
  File "${FILES}\KivvetLE.dll"
  File "${FILES}\KivvetLE.html"
  File "${FILES}\README-ja.txt"
  File "${FILES}\LICENSE.txt"
  File "/oname=KivvetLE.ico" "${ICON}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\KivvetLE.exe" '"-W$INSTDIR"' \
    "$INSTDIR\KivvetLE.exe" 0
  !insertmacro SET_SHORTCUT_APP_ID "$SMPROGRAMS\${PRODUCT}.lnk"
  WriteRegStr HKCU "${APP_ID_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegExpandStr HKCU "${APP_ID_KEY}" "IconUri" "$INSTDIR\KivvetLE.ico"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KivvetLE.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" 600
SectionEnd

Section "ログオンしたら起動するにゃ" SecLogOn
  !insertmacro LOGON_VALUE_NAME $0
  WriteRegStr HKCU "${RUN_KEY}" "$0" '"$INSTDIR\KivvetLE.exe" "-W$INSTDIR" -TOFF'
SectionEnd

Function .onInit
  ; Windows 10 is the floor: below it the program could not look the
  ; server up without blocking.
  ${IfNot} ${AtLeastWin10}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} は Windows 10 以降で動くにゃ。$\r$\nこの Windows には入れられないにゃ。" /SD IDOK
    Abort
  ${EndIf}
  ; An upgrade keeps the earlier choice: without a log-on value the box
  ; starts empty.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
    !insertmacro LOGON_VALUE_NAME $1
    ClearErrors
    ReadRegStr $2 HKCU "${RUN_KEY}" "$1"
    ${If} ${Errors}
      SectionSetFlags ${SecLogOn} 0
    ${EndIf}
  ${EndIf}
FunctionEnd

; A box left empty on an upgrade removes the value an earlier install wrote.
Section "-logon off"
  ${IfNot} ${SectionIsSelected} ${SecLogOn}
    !insertmacro LOGON_VALUE_NAME $0
    DeleteRegValue HKCU "${RUN_KEY}" "$0"
  ${EndIf}
SectionEnd

Section "Uninstall"
  Call un.CloseRunning
  !insertmacro LOGON_VALUE_NAME $0
  DeleteRegValue HKCU "${RUN_KEY}" "$0"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\KivvetLE.exe"
  Delete "$INSTDIR\KivvetLE.dll"
  Delete "$INSTDIR\KivvetLE.html"
  Delete "$INSTDIR\README-ja.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\KivvetLE.ico"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${APP_ID_KEY}"
  ; The user's settings and known UIDs go only when the user says so; a
  ; silent uninstall keeps them.
  ${If} ${FileExists} "$INSTDIR\KivvetLE.cfg"
  ${OrIf} ${FileExists} "$INSTDIR\KivvetLE.log"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "設定ファイル（KivvetLE.cfg と KivvetLE.log）も削除するにゃ？$\r$\n残しておけば、また入れたときにそのまま使えるにゃ。" \
      /SD IDNO IDNO keep
    Delete "$INSTDIR\KivvetLE.cfg"
    Delete "$INSTDIR\KivvetLE.log"
    keep:
  ${EndIf}
  RMDir "$INSTDIR"
SectionEnd
