; Installer of the demo bank's security control: the control's file, its class registration (the
; assistant's `clsid` detection reads the file's version through it), the bank's key with the
; version, the machine's uninstall entry "VelmoraDemoSecCtl" and an uninstaller. "/S" is silent.
;
; Defined on the makensis command line, besides those of demo_component.nsh:
;   DEMO_CONTROL   the control's file

!define COMPONENT_NAME "网银安全控件（演示）"
!define COMPONENT_ID "VelmoraDemoSecCtl"
!define COMPONENT_FOLDER "SecCtl"
!define CONTROL_FILE "VelmoraSecCtl.ocx"
!define CLSID "{5E0C9A41-7B2D-4C3E-9F18-6A2B0D4C7E15}"
!include "demo_component.nsh"

Section "-${COMPONENT_NAME}"
  SetShellVarContext all
  ClearErrors
  SetOutPath "$INSTDIR"
  File "/oname=${CONTROL_FILE}" "${DEMO_CONTROL}"
  ${If} ${Errors}
    ${DemoFail} "无法写入文件：$INSTDIR\${CONTROL_FILE}"
  ${EndIf}
  WriteRegStr HKCR "CLSID\${CLSID}" "" "${COMPONENT_NAME}"
  WriteRegStr HKCR "CLSID\${CLSID}\InprocServer32" "" "$INSTDIR\${CONTROL_FILE}"
  WriteRegStr HKCR "CLSID\${CLSID}\InprocServer32" "ThreadingModel" "Apartment"
  ${DemoRegister}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  DeleteRegKey HKCR "CLSID\${CLSID}"
  Delete /REBOOTOK "$INSTDIR\${CONTROL_FILE}"
  ${DemoUnregister}
SectionEnd
