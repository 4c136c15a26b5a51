; NSIS installer doing the work of "OrloCastSetup.exe -h -i" and of its
; copy's "-h -u", for the Wine benchmarks of scripts/bench.sh.
;   makensis -DFILES=DIR -DOUTFILE=OUT.exe -DCOMPRESS=none|lzma orlocast_bench.nsi
; Run it with /S (silent); the uninstaller with /S _?=$INSTDIR, which makes
; it run synchronously in place instead of from a temporary copy.
Unicode false
!if "${COMPRESS}" == "none"
  SetCompress off
!else
  SetCompressor /SOLID lzma
!endif
Name "Orlo-Cast"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\FM\Orlo-Cast"
RequestExecutionLevel admin
SilentInstall silent
SilentUnInstall silent
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\FM:Orlo-Cast {5C7E2B91-3FA4-4d6e}"
!define MENU "Fen March\Orlo-Cast"

Section
  SetOutPath "$INSTDIR"
  File "${FILES}\Orlocast.exe"
  File "${FILES}\readme.txt"
  File "${FILES}\OrloCastOnTheShow.pdf"
  WriteUninstaller "$INSTDIR\uninst.exe"
  SetShellVarContext current
  CreateDirectory "$SMPROGRAMS\${MENU}"
  CreateShortcut "$SMPROGRAMS\${MENU}\OrloCast.lnk" "$INSTDIR\Orlocast.exe"
  CreateShortcut "$SMPROGRAMS\${MENU}\Readme.lnk" "$INSTDIR\readme.txt"
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${MENU}"
  CreateShortcut "$SMPROGRAMS\${MENU}\OrloCast.lnk" "$INSTDIR\Orlocast.exe"
  CreateShortcut "$SMPROGRAMS\${MENU}\Readme.lnk" "$INSTDIR\readme.txt"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Orlo-Cast, Broadcast Stream Server"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Fenmarch Software"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\Orlocast.exe"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\OrloCastOnTheShow.pdf"
  SetShellVarContext current
  Delete "$SMPROGRAMS\${MENU}\OrloCast.lnk"
  Delete "$SMPROGRAMS\${MENU}\Readme.lnk"
  RMDir "$SMPROGRAMS\${MENU}"
  RMDir "$SMPROGRAMS\Fen March"
  Delete "$SMSTARTUP\Orlo-Cast (Fenmarch).lnk"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${MENU}\OrloCast.lnk"
  Delete "$SMPROGRAMS\${MENU}\Readme.lnk"
  RMDir "$SMPROGRAMS\${MENU}"
  RMDir "$SMPROGRAMS\Fen March"
  WriteRegDWORD HKCU "${MENU}" "SysTray" 0
  WriteRegDWORD HKCU "${MENU}" "SysTrayShowOnRun" 0
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
SectionEnd
