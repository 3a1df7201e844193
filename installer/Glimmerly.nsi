; Glimmerly's installer, built by scripts/make-dist.sh:
;   makensis -DVERSION=1.0 -DVERSION_QUAD=1.0.0.0 -DFILES_NSH=files.nsh -DOUTFILE=setup.exe
;            -DTOP=<source tree> installer/Glimmerly.nsi
; FILES_NSH lists the staged files, so the uninstaller removes exactly what was installed.
;
; Installed per user without elevation: the library lives below the program's folder and the
; program writes its thumbnail caches into the template folders, which a user can write in
; %LOCALAPPDATA%\Programs but not in Program Files.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!macro REQUIRE NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: scripts/make-dist.sh defines it"
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE VERSION_QUAD
!insertmacro REQUIRE FILES_NSH
!insertmacro REQUIRE OUTFILE
!insertmacro REQUIRE TOP

!define PRODUCT "Glimmerly"
!define PUBLISHER "The Glimmerly developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "${FILES_NSH}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Glimmerly"
; An upgrade goes where the last install went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}"

!define MUI_ICON "${TOP}/res/Glimmerly.ico"
!define MUI_UNICON "${TOP}/res/Glimmerly.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Glimmerly.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Glimmerly"

!insertmacro MUI_PAGE_LICENSE "${TOP}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Section "Glimmerly"
  ; Only our own files are written: over an older install, template folders the user added
  ; and every thumbnail cache stay as they are.
  !insertmacro GLIMMERLY_INSTALL_FILES
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Glimmerly.lnk" "$INSTDIR\Glimmerly.exe" "" \
      "$INSTDIR\Glimmerly.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Glimmerly.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${GLIMMERLY_SIZE_KB}
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The program registers the .qrt type at every start, as this copy's open command. It is
; removed only where it still names this copy: another copy may have claimed it since.
!macro REMOVE_FILE_TYPE ROOT PREFIX
  ReadRegStr $0 ${ROOT} "${PREFIX}QRTInstaller\shell\open\command" ""
  ${If} $0 == '"$INSTDIR\Glimmerly.exe"'
    ReadRegStr $1 ${ROOT} "${PREFIX}.qrt" ""
    ${If} $1 == "QRTInstaller"
      DeleteRegKey ${ROOT} "${PREFIX}.qrt"
    ${EndIf}
    DeleteRegKey ${ROOT} "${PREFIX}QRTInstaller"
    DetailPrint "Removed the .qrt file type (${ROOT}\${PREFIX}.qrt)"
  ${EndIf}
!macroend

Section "Uninstall"
  !insertmacro GLIMMERLY_UNINSTALL_FILES
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$SMPROGRAMS\Glimmerly.lnk"
  RMDir "$INSTDIR"

  ; Keys a user cannot write are left; the user's own view comes first.
  !insertmacro REMOVE_FILE_TYPE HKCU "Software\Classes\"
  !insertmacro REMOVE_FILE_TYPE HKLM "Software\Classes\"
  !insertmacro REMOVE_FILE_TYPE HKCR ""
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; What is left in the folder was not installed: template folders the user added, or
  ; pictures added to a starter folder. It is kept, and named.
  StrCpy $2 ""
  ${If} ${FileExists} "$INSTDIR\*.*"
    FindFirst $3 $4 "$INSTDIR\*.*"
    ${DoWhile} $4 != ""
      ${If} $4 != "."
      ${AndIf} $4 != ".."
      ${AndIf} $4 != "Uninstall.exe"
        StrCpy $2 "$2$\r$\n    $4"
        DetailPrint "Kept $INSTDIR\$4 (not installed by Glimmerly)"
      ${EndIf}
      FindNext $3 $4
    ${Loop}
    FindClose $3
  ${EndIf}
  ${If} $2 != ""
    StrCpy $5 "Glimmerly is removed. These were not installed by Glimmerly"
    MessageBox MB_OK|MB_ICONINFORMATION "$5 and are kept in $INSTDIR:$\r$\n$2" /SD IDOK
  ${EndIf}
SectionEnd
