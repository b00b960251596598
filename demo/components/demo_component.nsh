; What the demo bank's component installers share: the target, the install folder under the bank's
; folder in Program Files, silent and plain pages, the machine's uninstall entry and the way a
; failure ends the installer.
;
; Defined by the including script: COMPONENT_NAME (shown to the customer), COMPONENT_ID (the
; subkey of the Uninstall key and of the bank's own key), COMPONENT_FOLDER.
; Defined on the makensis command line by the build:
;   DEMO_TARGET    x86-unicode or amd64-unicode, as the program's own setup
;   DEMO_OUTFILE   the installer to write
;   DEMO_VERSION   the component's version, a.b.c.d

Target ${DEMO_TARGET}

!include LogicLib.nsh

!define BANK_NAME "Velmora Demo Bank"
!define BANK_KEY "SOFTWARE\${BANK_NAME}\${COMPONENT_FOLDER}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${COMPONENT_ID}"
!define UNINSTALLER_EXE "uninst.exe"

Name "${COMPONENT_NAME}"
OutFile "${DEMO_OUTFILE}"
RequestExecutionLevel admin
ManifestSupportedOS all
SetCompressor /SOLID lzma
AllowSkipFiles off
BrandingText "${BANK_NAME}"
!if "${DEMO_TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\${BANK_NAME}\${COMPONENT_FOLDER}"
!else
  InstallDir "$PROGRAMFILES32\${BANK_NAME}\${COMPONENT_FOLDER}"
!endif

Page instfiles
UninstPage instfiles

LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"

VIProductVersion "${DEMO_VERSION}"
VIFileVersion "${DEMO_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${COMPONENT_NAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${BANK_NAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${COMPONENT_NAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${DEMO_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${DEMO_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "© ${BANK_NAME}"

; Ends the installer with exit code 2 and the reason, shown unless silent.
!macro DemoFail MESSAGE
  DetailPrint "${MESSAGE}"
  MessageBox MB_OK|MB_ICONSTOP "${MESSAGE}" /SD IDOK
  SetErrorLevel 2
  Abort "${MESSAGE}"
!macroend
!define DemoFail "!insertmacro DemoFail"

; The uninstaller, the machine's uninstall entry and the bank's own key, which names the version:
; the component's detection looks for that marker.
!macro DemoRegister
  ClearErrors
  WriteUninstaller "$INSTDIR\${UNINSTALLER_EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${COMPONENT_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${DEMO_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${BANK_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; Run in place ("_?="), so that whoever runs it can wait for its end.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_EXE}" _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_EXE}" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${BANK_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${BANK_KEY}" "Version" "${DEMO_VERSION}"
  ${If} ${Errors}
    ${DemoFail} "无法写入注册表：${UNINSTALL_KEY}"
  ${EndIf}
!macroend
!define DemoRegister "!insertmacro DemoRegister"

; Removes the entries DemoRegister wrote and the uninstaller, which runs from the folder and holds
; its own file open: it and the folder, empty by then, go at the next system start.
!macro DemoUnregister
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${BANK_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\${BANK_NAME}"
  Delete /REBOOTOK "$INSTDIR\${UNINSTALLER_EXE}"
  RMDir /REBOOTOK "$INSTDIR"
!macroend
!define DemoUnregister "!insertmacro DemoUnregister"
