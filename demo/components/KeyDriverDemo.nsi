; Installer of the demo bank's USB-key driver (model A): the driver's file, the bank's key with the
; version, the machine's uninstall entry "VelmoraDemoKeyA" and an uninstaller. "/S" is silent.
; The assistant offers it only to customers who hold that key model.
;
; Defined on the makensis command line, besides those of demo_component.nsh:
;   DEMO_DRIVER    the driver's file

!define COMPONENT_NAME "USBKEY驱动（演示 A 型）"
!define COMPONENT_ID "VelmoraDemoKeyA"
!define COMPONENT_FOLDER "KeyA"
!define DRIVER_FILE "VelmoraKeyA.dll"
!include "demo_component.nsh"

Section "-${COMPONENT_NAME}"
  SetShellVarContext all
  ClearErrors
  SetOutPath "$INSTDIR"
  File "/oname=${DRIVER_FILE}" "${DEMO_DRIVER}"
  ${If} ${Errors}
    ${DemoFail} "无法写入文件：$INSTDIR\${DRIVER_FILE}"
  ${EndIf}
  ${DemoRegister}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete /REBOOTOK "$INSTDIR\${DRIVER_FILE}"
  ${DemoUnregister}
SectionEnd
