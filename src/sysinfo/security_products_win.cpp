#include "sysinfo/security_products_win.h"

#include "common/text_win.h"

namespace Velmora::System::Security {
namespace {

constexpr CLSID kFirewallManagerClass = {
    0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};
constexpr CLSID kAutomaticUpdatesClass = {
    0xBFE18E9C, 0x6D87, 0x4450, {0xB3, 0x7C, 0xE0, 0x2F, 0x0B, 0x37, 0x38, 0x03}};

enum class Center { Current, Legacy };

// Runs `read` over every object of `className` in the Security Center that answers first.
HRESULT QueryProducts(const wchar_t* className, const LocatorFactory& createLocator,
                      const std::function<void(CEasyWMIObject& object, Center center)>& read)
{
    CEasyWMIObject wmi(createLocator);
    HRESULT hr = wmi.Initialize();
    if (FAILED(hr))
        return hr;
    Center center = Center::Current;
    hr = wmi.Connect(kSecurityCenter2);
    if (FAILED(hr)) {
        center = Center::Legacy;
        hr = wmi.Connect(kSecurityCenter);
        if (FAILED(hr))
            return hr;
    }
    hr = wmi.Query(className);
    if (FAILED(hr))
        return hr;
    return wmi.ForEach([&](CEasyWMIObject& object) { read(object, center); });
}

std::string Text(const CEasyWMIObject& object, const wchar_t* name)
{
    return WideToUtf8(object.GetStringProperty(name));
}

} // namespace

HRESULT CreateSystemFirewallManager(INetFwMgr** manager)
{
    return ::CoCreateInstance(kFirewallManagerClass, nullptr, CLSCTX_ALL, __uuidof(INetFwMgr),
                              reinterpret_cast<void**>(manager));
}

HRESULT CreateSystemAutomaticUpdates(IAutomaticUpdates** updates)
{
    return ::CoCreateInstance(kAutomaticUpdatesClass, nullptr, CLSCTX_ALL, __uuidof(IAutomaticUpdates),
                              reinterpret_cast<void**>(updates));
}

HRESULT QueryFirewallProducts(std::vector<FirewallProduct>& products, const LocatorFactory& createLocator)
{
    products.clear();
    return QueryProducts(L"FirewallProduct", createLocator, [&](CEasyWMIObject& object, Center center) {
        FirewallProduct product;
        product.name = Text(object, L"DisplayName");
        if (center == Center::Current) {
            product.enabled = DecodeProductState(object.GetIntegerProperty(L"productState")).on;
        } else {
            product.enabled = object.GetBoolProperty(L"Enabled");
            product.company = Text(object, L"CompanyName");
            product.version = Text(object, L"VersionNumber");
        }
        products.push_back(std::move(product));
    });
}

HRESULT QueryAntivirusProducts(std::vector<AntivirusProduct>& products, const LocatorFactory& createLocator)
{
    products.clear();
    return QueryProducts(L"AntiVirusProduct", createLocator, [&](CEasyWMIObject& object, Center center) {
        AntivirusProduct product;
        product.name = Text(object, L"DisplayName");
        if (center == Center::Current) {
            const ProductState state = DecodeProductState(object.GetIntegerProperty(L"productState"));
            product.onAccessScanningEnabled = state.on;
            product.upToDate = state.upToDate;
        } else {
            product.onAccessScanningEnabled = object.GetBoolProperty(L"onAccessScanningEnabled");
            product.upToDate = object.GetBoolProperty(L"productUptoDate");
            product.company = Text(object, L"CompanyName");
            product.version = Text(object, L"VersionNumber");
        }
        products.push_back(std::move(product));
    });
}

HRESULT GetWindowsFirewallEnabled(bool* enabled, const FirewallManagerFactory& createManager)
{
    if (!createManager)
        return E_POINTER;
    ComPtr<INetFwMgr> manager;
    HRESULT hr = createManager(manager.Receive());
    if (FAILED(hr) || !manager)
        return FAILED(hr) ? hr : E_POINTER;
    ComPtr<INetFwPolicy> policy;
    hr = manager->get_LocalPolicy(policy.Receive());
    if (FAILED(hr) || !policy)
        return FAILED(hr) ? hr : E_POINTER;
    ComPtr<INetFwProfile> profile;
    hr = policy->get_CurrentProfile(profile.Receive());
    if (FAILED(hr) || !profile)
        return FAILED(hr) ? hr : E_POINTER;
    VARIANT_BOOL on = VARIANT_FALSE;
    hr = profile->get_FirewallEnabled(&on);
    if (SUCCEEDED(hr) && enabled)
        *enabled = on != VARIANT_FALSE;
    return hr;
}

bool GetAutomaticUpdatesOn(int* level, const AutomaticUpdatesFactory& createUpdates)
{
    ComPtr<IAutomaticUpdates> updates;
    if (!createUpdates || FAILED(createUpdates(updates.Receive())) || !updates)
        return false;
    ComPtr<IAutomaticUpdatesSettings> settings;
    if (FAILED(updates->get_Settings(settings.Receive())) || !settings)
        return false;
    AutomaticUpdatesNotificationLevel notification = aunlNotConfigured;
    if (FAILED(settings->get_NotificationLevel(&notification)))
        return false;
    if (level)
        *level = static_cast<int>(notification);
    return AutomaticUpdatesLevelOn(static_cast<int>(notification));
}

bool FirewallVerdict(const SecurityPlatform& platform)
{
    bool enabled = false;
    const HRESULT windows = GetWindowsFirewallEnabled(&enabled, platform.createFirewallManager);
    std::vector<FirewallProduct> products;
    // Security Center is asked only when the Windows firewall does not answer for itself.
    const HRESULT listed =
        SUCCEEDED(windows) && enabled ? S_FALSE : QueryFirewallProducts(products, platform.createLocator);
    return FirewallVerdictOf(windows, enabled, listed, products);
}

bool AntivirusVerdict(const SecurityPlatform& platform)
{
    std::vector<AntivirusProduct> products;
    const HRESULT listed = QueryAntivirusProducts(products, platform.createLocator);
    return AntivirusVerdictOf(listed, products);
}

bool WindowsUpdateVerdict(const SecurityPlatform& platform)
{
    return GetAutomaticUpdatesOn(nullptr, platform.createAutomaticUpdates);
}

} // namespace Velmora::System::Security
