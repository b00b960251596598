; Installer of the demo bank's guard service: the service's program, the service "VelmoraDemoGuard"
; (started with the system, and started now), the bank's key with the version, the machine's
; uninstall entry and an uninstaller. "/S" is silent.
;
; Run again it repairs the installation: a service that was stopped or set to start on demand is
; set to start with the system again and started. The installer waits until it runs, as the
; assistant checks the service as soon as the installer has ended.
;
; Defined on the makensis command line, besides those of demo_component.nsh:
;   DEMO_SERVICE   the service's program

!define COMPONENT_NAME "网银安全守护服务（演示）"
!define COMPONENT_ID "VelmoraDemoGuard"
!define COMPONENT_FOLDER "Guard"
!define SERVICE_NAME "VelmoraDemoGuard"
!define SERVICE_FILE "VelmoraDemoGuard.exe"
!include "demo_component.nsh"

; Service manager values (winsvc.h).
!define SC_MANAGER_ALL_ACCESS 0xF003F
!define SERVICE_ALL_ACCESS 0xF01FF
!define SERVICE_WIN32_OWN_PROCESS 0x10
!define SERVICE_AUTO_START 2
!define SERVICE_ERROR_NORMAL 1
!define SERVICE_NO_CHANGE 0xFFFFFFFF
!define SERVICE_CONTROL_STOP 1
!define SERVICE_STOPPED 1
!define SERVICE_RUNNING 4
!define ERROR_SERVICE_ALREADY_RUNNING 1056
!define ERROR_SERVICE_NOT_ACTIVE 1062

Var Manager
Var Service

; $Manager and $Service opened ("0" when they could not be); the service is not created here.
!macro OpenGuard
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${SC_MANAGER_ALL_ACCESS}) p .s'
  Pop $Manager
  StrCpy $Service 0
  ${If} $Manager != 0
    System::Call 'advapi32::OpenServiceW(p $Manager, w "${SERVICE_NAME}", i ${SERVICE_ALL_ACCESS}) p .s'
    Pop $Service
  ${EndIf}
!macroend

!macro CloseGuard
  ${If} $Service != 0
    System::Call 'advapi32::CloseServiceHandle(p $Service)'
  ${EndIf}
  ${If} $Manager != 0
    System::Call 'advapi32::CloseServiceHandle(p $Manager)'
  ${EndIf}
  StrCpy $Service 0
  StrCpy $Manager 0
!macroend

; Waits up to 15 s for the state in $R0 ("1" stopped, "4" running); $R1 is the state last seen.
!macro WaitForGuardState UN
  Function ${UN}WaitForGuardState
    System::Call '*(&i28) p .r9' ; SERVICE_STATUS
    StrCpy $R1 0
    StrCpy $R2 0
    ${Do}
      System::Call 'advapi32::QueryServiceStatus(p $Service, p r9) i .r8'
      ${If} $8 == 0
        ${Break}
      ${EndIf}
      System::Call '*$9(i, i .R1)'
      ${If} $R1 == $R0
      ${OrIf} $R2 >= 150
        ${Break}
      ${EndIf}
      Sleep 100
      IntOp $R2 $R2 + 1
    ${Loop}
    System::Free $9
  FunctionEnd
!macroend
!insertmacro WaitForGuardState ""
!insertmacro WaitForGuardState "un."

; Stops a running service and waits for it, so that its program can be replaced or removed.
!macro StopGuard UN
  ${If} $Service != 0
    System::Call '*(&i28) p .r9'
    System::Call 'advapi32::ControlService(p $Service, i ${SERVICE_CONTROL_STOP}, p r9) i .r8 ?e'
    Pop $7
    System::Free $9
    ${If} $8 != 0
    ${OrIf} $7 != ${ERROR_SERVICE_NOT_ACTIVE}
      StrCpy $R0 ${SERVICE_STOPPED}
      Call ${UN}WaitForGuardState
    ${EndIf}
  ${EndIf}
!macroend

Section "-${COMPONENT_NAME}"
  SetShellVarContext all
  !insertmacro OpenGuard
  ${If} $Manager == 0
    ${DemoFail} "无法打开服务管理器"
  ${EndIf}
  !insertmacro StopGuard ""

  ClearErrors
  SetOutPath "$INSTDIR"
  File "/oname=${SERVICE_FILE}" "${DEMO_SERVICE}"
  ${If} ${Errors}
    !insertmacro CloseGuard
    ${DemoFail} "无法写入文件：$INSTDIR\${SERVICE_FILE}"
  ${EndIf}

  StrCpy $0 '"$INSTDIR\${SERVICE_FILE}" name=${SERVICE_NAME}'
  ${If} $Service == 0
    System::Call 'advapi32::CreateServiceW(p $Manager, w "${SERVICE_NAME}", w "${COMPONENT_NAME}", \
        i ${SERVICE_ALL_ACCESS}, i ${SERVICE_WIN32_OWN_PROCESS}, i ${SERVICE_AUTO_START}, \
        i ${SERVICE_ERROR_NORMAL}, w r0, p 0, p 0, p 0, p 0, p 0) p .s ?e'
    Pop $1
    Pop $Service
  ${Else}
    System::Call 'advapi32::ChangeServiceConfigW(p $Service, i ${SERVICE_NO_CHANGE}, i ${SERVICE_AUTO_START}, \
        i ${SERVICE_NO_CHANGE}, w r0, p 0, p 0, p 0, p 0, p 0, w "${COMPONENT_NAME}") i .r2 ?e'
    Pop $1
    ${If} $2 == 0
      !insertmacro CloseGuard
      ${DemoFail} "无法设置服务 ${SERVICE_NAME}（错误 $1）"
    ${EndIf}
  ${EndIf}
  ${If} $Service == 0
    !insertmacro CloseGuard
    ${DemoFail} "无法安装服务 ${SERVICE_NAME}（错误 $1）"
  ${EndIf}

  System::Call 'advapi32::StartServiceW(p $Service, i 0, p 0) i .r2 ?e'
  Pop $1
  ${If} $2 == 0
  ${AndIf} $1 != ${ERROR_SERVICE_ALREADY_RUNNING}
    !insertmacro CloseGuard
    ${DemoFail} "无法启动服务 ${SERVICE_NAME}（错误 $1）"
  ${EndIf}
  StrCpy $R0 ${SERVICE_RUNNING}
  Call WaitForGuardState
  !insertmacro CloseGuard
  ${If} $R1 != ${SERVICE_RUNNING}
    ${DemoFail} "服务 ${SERVICE_NAME} 没有运行（状态 $R1）"
  ${EndIf}
  ${DemoRegister}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro OpenGuard
  !insertmacro StopGuard "un."
  ${If} $Service != 0
    System::Call 'advapi32::DeleteService(p $Service)'
  ${EndIf}
  !insertmacro CloseGuard
  Delete /REBOOTOK "$INSTDIR\${SERVICE_FILE}"
  ${DemoUnregister}
SectionEnd
