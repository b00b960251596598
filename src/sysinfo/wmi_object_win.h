#pragma once
// A small WMI query: initialise, connect to a namespace, select every object of a class, and read
// the properties of each result in turn. The caller's thread has COM initialised.

#include "common/com_ptr_win.h"

#include <wbemcli.h>

#include <cstdint>
#include <functional>
#include <string>

namespace Velmora::System::Security {

// Makes the WMI locator. Tests hand in their own to stand in for namespaces a system lacks.
using LocatorFactory = std::function<HRESULT(IWbemLocator** locator)>;
HRESULT CreateSystemLocator(IWbemLocator** locator);

class CEasyWMIObject {
public:
    // Called once per result object with a wrapper of that object.
    using Callback = std::function<void(CEasyWMIObject& current)>;

    explicit CEasyWMIObject(LocatorFactory createLocator = CreateSystemLocator);

    // Process security for the calls to WMI (already set is fine), then the locator.
    HRESULT Initialize();
    HRESULT Connect(const wchar_t* wmiNamespace);
    // "SELECT * FROM <className>".
    HRESULT Query(const wchar_t* className);
    // S_OK when at least one object came and the last step did not fail; E_NOINTERFACE otherwise.
    HRESULT ForEach(const Callback& callback);

    // Empty when the read fails or the value is not text.
    std::wstring GetStringProperty(const wchar_t* name) const;
    // Any integer kind, widened. A value of another kind (null included) is reported through the
    // program's message functions and reads 0; a failed read is 0 without a word.
    std::int64_t GetIntegerProperty(const wchar_t* name) const;
    // True only for a boolean true.
    bool GetBoolProperty(const wchar_t* name) const;

private:
    explicit CEasyWMIObject(IWbemClassObject* current);

    LocatorFactory createLocator_;
    ComPtr<IWbemLocator> locator_;
    ComPtr<IWbemServices> services_;
    ComPtr<IEnumWbemClassObject> results_;
    ComPtr<IWbemClassObject> current_;
};

inline constexpr wchar_t kUndesiredTypeMessage[] = L"Undesired type found";
inline constexpr wchar_t kUndesiredTypeTitle[] = L"Error type";

} // namespace Velmora::System::Security
