#pragma once
// Fakes of WMI, the firewall manager and automatic updates, standing in for what Wine lacks
// (Security Center namespaces, a firewall that can be on, update settings).

#include "common/message_box_win.h"
#include "common/variant_win.h"
#include "security_stubs.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace VelmoraTest {

using Velmora::UI::ScopedVariant;

// WMI's own statuses (its header gives them as an enumeration that does not convert quietly).
inline constexpr HRESULT kWmiFailed = static_cast<HRESULT>(0x80041001);
inline constexpr HRESULT kWmiNotFound = static_cast<HRESULT>(0x80041002);
inline constexpr HRESULT kWmiInvalidNamespace = static_cast<HRESULT>(0x8004100E);
inline constexpr HRESULT kWmiInvalidClass = static_cast<HRESULT>(0x80041010);

VELMORA_COM_CLASSES_BEGIN

// One result object: named values; a name without a value cannot be read.
class FakeObject final : public StubWbemClassObject {
public:
    explicit FakeObject(std::map<std::wstring, ScopedVariant> values) : values_(std::move(values)) {}
    STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE*, LONG*) override
    {
        auto it = values_.find(name);
        if (it == values_.end())
            return kWmiNotFound;
        return ::VariantCopy(value, const_cast<VARIANT*>(&it->second.Get()));
    }

private:
    std::map<std::wstring, ScopedVariant> values_;
};

// Hands out the objects one at a time; `failAt` makes that call fail instead.
class FakeEnum final : public StubEnumWbemClassObject {
public:
    FakeEnum(std::vector<std::map<std::wstring, ScopedVariant>> objects, size_t failAt)
        : objects_(std::move(objects)), failAt_(failAt)
    {
    }
    STDMETHODIMP Next(LONG timeout, ULONG count, IWbemClassObject** out, ULONG* returned) override
    {
        timeouts.push_back(timeout);
        *returned = 0;
        if (count != 1)
            return E_INVALIDARG;
        if (next_ == failAt_)
            return kWmiFailed;
        if (next_ >= objects_.size())
            return WBEM_S_FALSE;
        *out = new FakeObject(objects_[next_++]);
        *returned = 1;
        return WBEM_S_NO_ERROR;
    }
    std::vector<LONG> timeouts;

private:
    std::vector<std::map<std::wstring, ScopedVariant>> objects_;
    size_t failAt_;
    size_t next_ = 0;
};

// What a namespace holds: objects by class name.
struct FakeNamespace {
    std::map<std::wstring, std::vector<std::map<std::wstring, ScopedVariant>>> classes;
    size_t failAt = static_cast<size_t>(-1);
};

// The locator and its services share one record of what was asked.
struct WmiRecord {
    std::vector<std::wstring> namespaces;
    std::vector<std::wstring> queries; // language, then text
    int locatorsMade = 0;
};

class FakeServices final : public StubWbemServices {
public:
    FakeServices(const FakeNamespace& space, WmiRecord& record) : space_(space), record_(record) {}
    STDMETHODIMP ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext*,
                           IEnumWbemClassObject** out) override
    {
        record_.queries.push_back(language);
        record_.queries.push_back(query);
        const std::wstring text(query);
        const std::wstring prefix = L"SELECT * FROM ";
        auto it = space_.classes.find(text.substr(prefix.size()));
        if (flags != 0 || text.rfind(prefix, 0) != 0 || it == space_.classes.end())
            return kWmiInvalidClass;
        *out = new FakeEnum(it->second, space_.failAt);
        return S_OK;
    }

private:
    FakeNamespace space_;
    WmiRecord& record_;
};

class FakeLocator final : public StubWbemLocator {
public:
    FakeLocator(const std::map<std::wstring, FakeNamespace>& spaces, WmiRecord& record)
        : spaces_(spaces), record_(record)
    {
    }
    STDMETHODIMP ConnectServer(const BSTR name, const BSTR user, const BSTR password, const BSTR locale,
                               LONG flags, const BSTR authority, IWbemContext* context,
                               IWbemServices** out) override
    {
        record_.namespaces.push_back(name);
        if (user || password || locale || flags || authority || context)
            return E_INVALIDARG;
        auto it = spaces_.find(name);
        if (it == spaces_.end())
            return kWmiInvalidNamespace;
        *out = new FakeServices(it->second, record_);
        return S_OK;
    }

private:
    std::map<std::wstring, FakeNamespace> spaces_;
    WmiRecord& record_;
};

// The firewall manager's chain down to the current profile; `failing` names the step that fails.
struct FirewallSetup {
    bool enabled = false;
    const char* failing = ""; // "policy", "profile", "flag"
    int made = 0;
};

class FakeProfile final : public StubNetFwProfile {
public:
    explicit FakeProfile(const FirewallSetup& s) : s_(s) {}
    STDMETHODIMP get_FirewallEnabled(VARIANT_BOOL* on) override
    {
        if (std::string(s_.failing) == "flag")
            return E_ACCESSDENIED;
        *on = s_.enabled ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    const FirewallSetup& s_;
};

class FakePolicy final : public StubNetFwPolicy {
public:
    explicit FakePolicy(const FirewallSetup& s) : s_(s) {}
    STDMETHODIMP get_CurrentProfile(INetFwProfile** out) override
    {
        if (std::string(s_.failing) == "profile")
            return HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE);
        *out = new FakeProfile(s_);
        return S_OK;
    }

private:
    const FirewallSetup& s_;
};

class FakeFirewallManager final : public StubNetFwMgr {
public:
    explicit FakeFirewallManager(const FirewallSetup& s) : s_(s) {}
    STDMETHODIMP get_LocalPolicy(INetFwPolicy** out) override
    {
        if (std::string(s_.failing) == "policy")
            return E_OUTOFMEMORY;
        *out = new FakePolicy(s_);
        return S_OK;
    }

private:
    const FirewallSetup& s_;
};

class FakeUpdateSettings final : public StubAutomaticUpdatesSettings {
public:
    explicit FakeUpdateSettings(int level) : level_(level) {}
    STDMETHODIMP get_NotificationLevel(AutomaticUpdatesNotificationLevel* level) override
    {
        *level = static_cast<AutomaticUpdatesNotificationLevel>(level_);
        return S_OK;
    }

private:
    int level_;
};

// A level below 0 makes the settings unreadable, as Wine's are.
class FakeAutomaticUpdates final : public StubAutomaticUpdates {
public:
    explicit FakeAutomaticUpdates(int level) : level_(level) {}
    STDMETHODIMP get_Settings(IAutomaticUpdatesSettings** out) override
    {
        if (level_ < 0)
            return E_NOTIMPL;
        *out = new FakeUpdateSettings(level_);
        return S_OK;
    }

private:
    int level_;
};

VELMORA_COM_CLASSES_END

// COM for the test's thread and a presenter that answers every message, for the test's duration.
class ComScope {
public:
    ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr_))
            ::CoUninitialize();
    }
    HRESULT Status() const { return hr_; }

private:
    HRESULT hr_;
};

class RecordingPresenter : public Velmora::UI::IMessagePresenter {
public:
    int Present(const Velmora::UI::MessageRequest& request) override
    {
        shown.push_back(request);
        return IDOK;
    }
    std::vector<Velmora::UI::MessageRequest> shown;
};

class PresenterScope {
public:
    explicit PresenterScope(Velmora::UI::IMessagePresenter* presenter)
    {
        Velmora::UI::SetMessagePresenter(presenter);
    }
    ~PresenterScope() { Velmora::UI::SetMessagePresenter(nullptr); }
};

} // namespace VelmoraTest
