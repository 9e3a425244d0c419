; The setup program of Brelvon for Windows (NSIS 3, Unicode). packaging/windows/build passes
; VERSION, STAGE (the folder of the programs) and OUTFILE.
; Installs for the current user (no administrator rights): the programs in
; %LOCALAPPDATA%\Programs\Brelvon, a Start-menu entry, an uninstaller. The seller's settings and
; data (%LOCALAPPDATA%\Brelvon) stay when the program is uninstalled unless they ask.
Unicode true
; A 64-bit setup program: the programs are 64-bit, and wine64 alone runs it.
Target amd64-unicode
!include "MUI2.nsh"

Name "Brelvon ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Brelvon"
InstallDirRegKey HKCU "Software\Brelvon" "InstallDir"
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brelvon"
!define SHORTCUT "Brelvon 买家信用查询"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\brelvon.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

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
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${SHORTCUT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brelvon.exe"
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
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\skin.jss"
  Delete "$INSTDIR\qt.conf"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\Brelvon"
  ; Silent uninstalls (/S) keep the data.
  MessageBox MB_YESNO|MB_DEFBUTTON2|MB_ICONQUESTION "$(RemoveData)" /SD IDNO IDNO keep
  RMDir /r "$LOCALAPPDATA\Brelvon"
  keep:
SectionEnd
