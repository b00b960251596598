#pragma once
// Do-nothing implementations of the platform's security interfaces (every method E_NOTIMPL), so
// that a fake overrides only what the code under test calls.

#include "ui/com_class_win.h"

#include <netfw.h>
#include <wbemcli.h>
#include <wuapi.h>

#include <atomic>

namespace VelmoraTest {

VELMORA_COM_CLASSES_BEGIN

// Reference counting and QueryInterface for one interface. Created with one reference.
template <typename I> class Unknown : public I {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(I)) {
            *out = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~Unknown() = default;

private:
    std::atomic<ULONG> refs_{1};
};

// One line per method: these only say "not implemented".
// clang-format off
class StubWbemClassObject : public Unknown<IWbemClassObject> {
public:
    STDMETHODIMP GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
    STDMETHODIMP Get(LPCWSTR, LONG, VARIANT*, CIMTYPE*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return E_NOTIMPL; }
    STDMETHODIMP Delete(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return E_NOTIMPL; }
    STDMETHODIMP BeginEnumeration(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndEnumeration() override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SpawnDerivedClass(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP SpawnInstance(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP EndMethodEnumeration() override { return E_NOTIMPL; }
    STDMETHODIMP GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
};

class StubEnumWbemClassObject : public Unknown<IEnumWbemClassObject> {
public:
    STDMETHODIMP Reset() override { return E_NOTIMPL; }
    STDMETHODIMP Next(LONG, ULONG, IWbemClassObject**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP NextAsync(ULONG, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IEnumWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP Skip(LONG, ULONG) override { return E_NOTIMPL; }
};

class StubWbemServices : public Unknown<IWbemServices> {
public:
    STDMETHODIMP OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override { return E_NOTIMPL; }
    STDMETHODIMP CancelAsyncCall(IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryObjectSink(LONG, IWbemObjectSink**) override { return E_NOTIMPL; }
    STDMETHODIMP GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) override { return E_NOTIMPL; }
    STDMETHODIMP GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override { return E_NOTIMPL; }
    STDMETHODIMP PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override { return E_NOTIMPL; }
    STDMETHODIMP PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
    STDMETHODIMP ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**, IWbemCallResult**) override { return E_NOTIMPL; }
    STDMETHODIMP ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*) override { return E_NOTIMPL; }
};

class StubWbemLocator : public Unknown<IWbemLocator> {
public:
    STDMETHODIMP ConnectServer(const BSTR, const BSTR, const BSTR, const BSTR, LONG, const BSTR, IWbemContext*, IWbemServices**) override { return E_NOTIMPL; }
};

class StubNetFwMgr : public Unknown<INetFwMgr> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocalPolicy(INetFwPolicy**) override { return E_NOTIMPL; }
    STDMETHODIMP get_CurrentProfileType(NET_FW_PROFILE_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP RestoreDefaults() override { return E_NOTIMPL; }
    STDMETHODIMP IsPortAllowed(BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP IsIcmpTypeAllowed(NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
};

class StubNetFwPolicy : public Unknown<INetFwPolicy> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_CurrentProfile(INetFwProfile**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProfileByType(NET_FW_PROFILE_TYPE, INetFwProfile**) override { return E_NOTIMPL; }
};

class StubNetFwProfile : public Unknown<INetFwProfile> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Type(NET_FW_PROFILE_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP get_FirewallEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_FirewallEnabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_ExceptionsNotAllowed(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ExceptionsNotAllowed(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_NotificationsDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_NotificationsDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RemoteAdminSettings(INetFwRemoteAdminSettings**) override { return E_NOTIMPL; }
    STDMETHODIMP get_IcmpSettings(INetFwIcmpSettings**) override { return E_NOTIMPL; }
    STDMETHODIMP get_GloballyOpenPorts(INetFwOpenPorts**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Services(INetFwServices**) override { return E_NOTIMPL; }
    STDMETHODIMP get_AuthorizedApplications(INetFwAuthorizedApplications**) override { return E_NOTIMPL; }
};

class StubAutomaticUpdates : public Unknown<IAutomaticUpdates> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP DetectNow() override { return E_NOTIMPL; }
    STDMETHODIMP Pause() override { return E_NOTIMPL; }
    STDMETHODIMP Resume() override { return E_NOTIMPL; }
    STDMETHODIMP ShowSettingsDialog() override { return E_NOTIMPL; }
    STDMETHODIMP get_Settings(IAutomaticUpdatesSettings**) override { return E_NOTIMPL; }
    STDMETHODIMP get_ServiceEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP EnableService() override { return E_NOTIMPL; }
};

class StubAutomaticUpdatesSettings : public Unknown<IAutomaticUpdatesSettings> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_NotificationLevel(AutomaticUpdatesNotificationLevel*) override { return E_NOTIMPL; }
    STDMETHODIMP put_NotificationLevel(AutomaticUpdatesNotificationLevel) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReadOnly(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Required(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ScheduledInstallationDay(AutomaticUpdatesScheduledInstallationDay*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ScheduledInstallationDay(AutomaticUpdatesScheduledInstallationDay) override { return E_NOTIMPL; }
    STDMETHODIMP get_ScheduledInstallationTime(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ScheduledInstallationTime(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP Save() override { return E_NOTIMPL; }
};

// clang-format on
VELMORA_COM_CLASSES_END

} // namespace VelmoraTest
