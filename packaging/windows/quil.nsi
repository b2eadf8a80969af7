; QUIL's installer for Windows, made on Linux by makensis
; (scripts/windows/package.sh). Per user, without administrator rights: the
; program goes into the user's local programs folder, which the user may
; write, so the program's self-update works there; the Start-menu entry and
; the uninstaller's registration are the current user's.
;
; From the command line: QUIL_EXE (the quil.exe to install), QUIL_ICON (its
; icon as .ico), OUTDIR (where the setup program goes). The version is read
; from quil.exe's own version resource.

Unicode true
Target amd64-unicode  ; quil.exe is a 64-bit program
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!getdllversion "${QUIL_EXE}" QUIL_V_
!if ${QUIL_V_3} == 0
  !define VERSION "${QUIL_V_1}.${QUIL_V_2}"
!else
  !define VERSION "${QUIL_V_1}.${QUIL_V_2}.${QUIL_V_3}"
!endif

!define PRODUCT "QUIL 憑證管理"
!define PUBLISHER "QUIL developers"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QUIL"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The exit code of a silent run that found QUIL running and changed
; nothing: the code deployment tools take as "try again later".
!define EXIT_QUIL_RUNNING 1618

Name "${PRODUCT}"
OutFile "${OUTDIR}/QUIL-${VERSION}-setup.exe"
InstallDir "$LOCALAPPDATA\Programs\QUIL"
; An earlier installation is upgraded where it is.
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "QUIL ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow
AllowSkipFiles off

!define MUI_ICON "${QUIL_ICON}"
!define MUI_UNICON "${QUIL_ICON}"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "本精靈將為您安裝 $(^NameDA) ${VERSION}。$\r$\n$\r$\n程式只為目前的使用者安裝在：$\r$\n$INSTDIR$\r$\n不需要系統管理員權限，之後也能自動更新。已安裝的舊版本會直接更新；安裝前請先關閉 QUIL。$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\quil.exe"
!define MUI_FINISHPAGE_RUN_TEXT "執行 $(^NameDA)"
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "將從這台電腦移除 $(^NameDA)：程式資料夾中安裝的檔案、開始功能表捷徑與解除安裝資訊。$\r$\n$\r$\n您的資料都會保留，不會刪除：私密金鑰檔、PKCS#12 憑證檔、憑證存放區中的憑證、登錄中的設定值與記住的登入資料。"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "TradChinese"

VIProductVersion "${QUIL_V_1}.${QUIL_V_2}.${QUIL_V_3}.${QUIL_V_4}"
VIFileVersion "${QUIL_V_1}.${QUIL_V_2}.${QUIL_V_3}.${QUIL_V_4}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "ProductName" "QUIL"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "FileDescription" "${PRODUCT} 安裝程式"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "LegalCopyright" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "ProductVersion" "${VERSION}"

; Waits until no QUIL runs from $INSTDIR\quil.exe: a running program file
; cannot be opened for writing. Interactive runs ask the user to close it;
; a silent run ends at once with EXIT_QUIL_RUNNING, having changed nothing.
!macro QUIL_WAIT_FOR_CLOSE un what
Function ${un}WaitForQuilClosed
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\quil.exe"
      Return
    ${EndIf}
    ClearErrors
    FileOpen $0 "$INSTDIR\quil.exe" a
    ${IfNot} ${Errors}
      FileClose $0
      Return
    ${EndIf}
    ${If} ${Silent}
      SetErrorLevel ${EXIT_QUIL_RUNNING}
      Quit
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "QUIL 正在執行。$\r$\n$\r$\n請先登出並關閉 QUIL 的視窗，再按「重試」繼續${what}。" IDRETRY retry
    SetErrorLevel 1
    Quit
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro QUIL_WAIT_FOR_CLOSE "" "安裝"
!insertmacro QUIL_WAIT_FOR_CLOSE "un." "解除安裝"

Function .onInit
  SetShellVarContext current
  Call WaitForQuilClosed
FunctionEnd

Section "QUIL" SecProgram
  SetOutPath "$INSTDIR"
  ; The program's own update files from an earlier version.
  Delete "$INSTDIR\quil.exe.new"
  Delete "$INSTDIR\quil.exe.dpc"
  File "/oname=quil.exe" "${QUIL_EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\quil.exe" "" "$INSTDIR\quil.exe" 0 SW_SHOWNORMAL "" "${PRODUCT}"

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\quil.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "VersionMajor" ${QUIL_V_1}
  WriteRegDWORD HKCU "${UNINST_KEY}" "VersionMinor" ${QUIL_V_2}
  ; In KiB, of the files the installer put there.
  ${GetSize} "$INSTDIR" "/M=quil.exe /S=0K /G=0" $0 $1 $2
  ${GetSize} "$INSTDIR" "/M=Uninstall.exe /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetShellVarContext current
  Call un.WaitForQuilClosed
FunctionEnd

; Removes only what the installer put there (and the program's own update
; files); whatever else is in the folder keeps it. Nothing of the
; customer's is touched: key files, PKCS#12 files, the stores, the
; registry settings and the remembered login stay.
Section "Uninstall"
  Delete "$INSTDIR\quil.exe"
  ${If} ${FileExists} "$INSTDIR\quil.exe"
    ; Started again meanwhile: leave the installation whole.
    MessageBox MB_OK|MB_ICONSTOP "無法移除 $INSTDIR\quil.exe，請關閉 QUIL 後再解除安裝。" /SD IDOK
    SetErrorLevel ${EXIT_QUIL_RUNNING}
    Quit
  ${EndIf}
  Delete "$INSTDIR\quil.exe.new"
  Delete "$INSTDIR\quil.exe.dpc"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ; The entry and the registration stay while they name an installation
  ; elsewhere that still has its program (a later one in another folder).
  ReadRegStr $0 HKCU "${UNINST_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${OrIfNot} ${FileExists} "$0\quil.exe"
    Delete "${SHORTCUT}"
    DeleteRegKey HKCU "${UNINST_KEY}"
  ${EndIf}
SectionEnd
