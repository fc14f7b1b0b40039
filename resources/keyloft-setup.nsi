; Keyloft's per-user installer for Windows, made by scripts/package-windows with makensis from
; the same staged folder as the zip. It asks for no administrator rights and writes below
; HKEY_CURRENT_USER only; its uninstaller removes exactly the files, the shortcut and the entry it
; made, and never the settings Keyloft edits ("Software\VB and VBA Program Settings").
; Defines from the command line: VERSION, OUTFILE, ICON, INSTALL_LIST, UNINSTALL_LIST, SIZE_KB.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Keyloft"

Name "Keyloft ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Keyloft"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "Keyloft"
VIAddVersionKey /LANG=1041 "FileDescription" "Keyloft ${VERSION} のセットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "© 2026 Keyloft developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEPAGE_TEXT "Keyloft ${VERSION} をこのユーザーのためにインストールします。管理者の権限は要りません。$\r$\n$\r$\n以前の Keyloft がインストールされていれば、置き換えます。設定は消えません。"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Keyloft.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Keyloft を起動する"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!define MUI_UNCONFIRMPAGE_TEXT_TOP "Keyloft を次のフォルダから削除します。Keyloft で編集した設定は消えません。"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Section
    SetShellVarContext current
    ; An older Keyloft goes first, by its own uninstaller run in place (_?=), so that no file it
    ; had and this one has not is left behind.
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\uninstall.exe"
        DetailPrint "以前の Keyloft を削除しています: $0"
        ExecWait '"$0\uninstall.exe" /S _?=$0'
        Delete "$0\uninstall.exe"
        RMDir "$0"
    ${EndIf}

    !include "${INSTALL_LIST}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Keyloft.lnk" "$INSTDIR\Keyloft.exe" "" "$INSTDIR\Keyloft.exe" 0

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Keyloft"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Keyloft developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Keyloft.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section Uninstall
    SetShellVarContext current
    !include "${UNINSTALL_LIST}"
    Delete "$INSTDIR\uninstall.exe"
    ; Only if empty: whatever the user put there stays.
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Keyloft.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
