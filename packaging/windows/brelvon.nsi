; The setup program of Brelvon for Windows (NSIS 3, Unicode). packaging/windows/build passes
; VERSION, STAGE (the folder of the programs), ICON (the programs' icon) and OUTFILE.
; Installs for the current user (no administrator rights): the programs in
; %LOCALAPPDATA%\Programs\Brelvon, a Start-menu entry, an uninstaller. The seller's settings and
; data (%LOCALAPPDATA%\Brelvon) stay when the program is uninstalled unless they ask.
Unicode true
; A 64-bit setup program: the programs are 64-bit, and wine64 alone runs it.
Target amd64-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"

Name "Brelvon ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Brelvon"
InstallDirRegKey HKCU "Software\Brelvon" "InstallDir"
RequestExecutionLevel user
SetCompressor /SOLID lzma
; Sharp on a screen above 100 %; the footer shows no maker's text.
ManifestDPIAware true
BrandingText " "

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brelvon"
!define SHORTCUT "Brelvon 买家信用查询"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; The language chosen for the install is kept, so the uninstaller speaks it without asking.
!define MUI_LANGDLL_REGISTRY_ROOT HKCU
!define MUI_LANGDLL_REGISTRY_KEY "Software\Brelvon"
!define MUI_LANGDLL_REGISTRY_VALUENAME "InstallerLanguage"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\brelvon.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

; What Explorer shows in the setup program's properties.
VIProductVersion "${VERSION}.0.0"
VIFileVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${SHORTCUT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "Brelvon"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Brelvon 买家信用查询 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "Brelvon"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Brelvon buyer credit lookup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Brelvon"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Brelvon buyer credit lookup setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Brelvon"

LangString RemoveData ${LANG_SIMPCHINESE} "是否同时删除您的设置、查询记录和黑名单？$\r$\n（$LOCALAPPDATA\Brelvon）"
LangString RemoveData ${LANG_ENGLISH} "Also delete your settings, lookup history and blacklist?$\r$\n($LOCALAPPDATA\Brelvon)"

Function .onInit
  !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Function un.onInit
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "Brelvon"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "Software\Brelvon" "InstallDir" "$INSTDIR"
  ; Also for a silent install, where no page saves it.
  WriteRegStr HKCU "${MUI_LANGDLL_REGISTRY_KEY}" "${MUI_LANGDLL_REGISTRY_VALUENAME}" "$LANGUAGE"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${SHORTCUT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brelvon.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Brelvon"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}.lnk" "$INSTDIR\brelvon.exe"
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${SHORTCUT}.lnk"
  ; Only what the setup program put there: a folder the seller chose may hold their own files.
  RMDir /r "$INSTDIR\plugins"
  RMDir /r "$INSTDIR\translations"
  RMDir /r "$INSTDIR\licenses"
  RMDir /r "$INSTDIR\skins"
  RMDir /r "$INSTDIR\help"
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\skin.jss"
  Delete "$INSTDIR\qt.conf"
  RMDir "$INSTDIR"
  ; Start at login (登录时启动): the value goes when it starts this copy, not a portable one.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Brelvon"
  StrLen $1 '"$INSTDIR\'
  StrCpy $0 $0 $1
  StrCmp $0 '"$INSTDIR\' 0 +2
    DeleteRegValue HKCU "${RUN_KEY}" "Brelvon"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\Brelvon"
  ; Silent uninstalls (/S) keep the data.
  MessageBox MB_YESNO|MB_DEFBUTTON2|MB_ICONQUESTION "$(RemoveData)" /SD IDNO IDNO keep
  RMDir /r "$LOCALAPPDATA\Brelvon"
  keep:
SectionEnd
