; The Windows installer: Vantelo for the user who runs it (no administrator
; rights), into %LOCALAPPDATA%\Programs\Vantelo, with a Start menu entry and
; an uninstaller listed in the user's installed programs. Built by
; scripts/package-windows.sh, which passes the version (VERSION), the folder of
; the programs and their DLLs (BIN) and the installer's name (OUTFILE).
; A 64-bit installer for the 64-bit program.
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | BIN | OUTFILE
  !error "makensis -DVERSION=x.y.z -DBIN=folder -DOUTFILE=setup.exe vantelo.nsi"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantelo"

Name "Vantelo ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Vantelo"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Vantelo"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${BIN}\vantelo.exe"
  File "${BIN}\vantelo-line.exe"
  File "${BIN}\*.dll"
  SetOutPath "$INSTDIR\platforms"
  File "${BIN}\platforms\*.dll"
  SetOutPath "$INSTDIR\styles"
  File "${BIN}\styles\*.dll"
  SetOutPath "$INSTDIR"

  CreateDirectory "$SMPROGRAMS\Vantelo"
  CreateShortcut "$SMPROGRAMS\Vantelo\Vantelo.lnk" "$INSTDIR\vantelo.exe"
  CreateShortcut "$SMPROGRAMS\Vantelo\Uninstall Vantelo.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Vantelo"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantelo.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The settings file (test.ini) lives beside the program and is the user's:
; it stays, as does the call log on drive C.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Vantelo\Vantelo.lnk"
  Delete "$SMPROGRAMS\Vantelo\Uninstall Vantelo.lnk"
  RMDir "$SMPROGRAMS\Vantelo"
  Delete "$INSTDIR\vantelo.exe"
  Delete "$INSTDIR\vantelo-line.exe"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\platforms\*.dll"
  RMDir "$INSTDIR\platforms"
  Delete "$INSTDIR\styles\*.dll"
  RMDir "$INSTDIR\styles"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
