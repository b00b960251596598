#include "win/checks/loopback_server.h" // winsock2.h before windows.h

#include "full_check_support.h"
#include "win/checks/certificate_test_support.h"
#include "win/checks/registry_test_support.h"

#include "checks/config_loader_win.h"
#include "checks/run_driver_win.h"
#include "checks/user_filter.h"
#include "common/com_ptr_win.h"
#include "net/http_agent_win.h"

#include <urlmon.h>

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr wchar_t kZones[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";
constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kBankSecurity[] = L"SOFTWARE\\Velmora Demo Bank\\Security";
constexpr wchar_t kHomepagePolicy[] = L"SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr wchar_t kEmulation[] = L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation";
constexpr wchar_t kCompatList[] =
    L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";
constexpr wchar_t kUserLocalhost[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\localhost";
constexpr wchar_t kSignCtlSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\{7D3A51C2-0B6E-4F19-A8C4-2E5F90B1D602}";
constexpr const wchar_t* kControls[] = {L"{7D3A51C2-0B6E-4F19-A8C4-2E5F90B1D601}",
                                        L"{7D3A51C2-0B6E-4F19-A8C4-2E5F90B1D602}",
                                        L"{7D3A51C2-0B6E-4F19-A8C4-2E5F90B1D603}"};
constexpr char kKeyDriverB[] = "Velmora key driver B\r\n"; // the md5 its detect entry names
constexpr char kRedirect[] = "127.0.0.1\tebank.velmora-bank.test\r\n";

std::wstring Expanded(const wchar_t* path)
{
    wchar_t out[MAX_PATH] = {};
    ExpandEnvironmentStringsW(path, out, MAX_PATH);
    return out;
}

std::wstring WindowsPath(std::string path)
{
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return Utf8ToWide(path);
}

// The prefix set up so that every answer of the full check is known: registry settings in order,
// the bank's controls registered (one switched off, one too old), one key driver present, a hosts
// line redirecting a bank name, the home page locked, no compatibility list, localhost trusted
// through the user's zone mapping, the Trusted sites zone off its recommended level, and none of
// the carried certificates in the stores (the base class). Everything is put back afterwards.
class FullCheckTest : public CarriedCertificateStores {
protected:
    void SetUp() override
    {
        CarriedCertificateStores::SetUp();
        ASSERT_TRUE(server.IsListening());
        server.Respond(200, "<html>bank</html>");
        ASSERT_TRUE(LoadFullCheck(config, server.Port()));

        for (const wchar_t* name : {L"1001", L"1004", L"1200", L"1201"})
            ASSERT_TRUE(registry.Set(HKEY_CURRENT_USER, kZones, name, REG_DWORD, DwordBytes(0)));
        // TLS 1.0-1.2 on, and SSL 3.0 (8) as well, which the entry's mask leaves alone.
        ASSERT_TRUE(registry.Set(HKEY_CURRENT_USER, kInternetSettings, L"SecureProtocols", REG_DWORD,
                                 DwordBytes(0xA88 | 0x8)));
        ASSERT_TRUE(registry.Set(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\New Windows",
                                 L"PopupMgr", REG_SZ, TextBytes(L"no")));
        ASSERT_TRUE(registry.Set(HKEY_LOCAL_MACHINE, kBankSecurity, L"Policy", REG_BINARY,
                                 std::string("\x01\x00\x00\x00", 4)));
        // Its entry has bit="64": a 32-bit process under WOW64 reads it in the 64-bit view.
        ASSERT_TRUE(registry.Set(HKEY_LOCAL_MACHINE, kBankSecurity, L"InstallDir", REG_SZ,
                                 TextBytes(L"C:\\Program Files\\Velmora Demo Bank"), KEY_WOW64_64KEY));
        ASSERT_TRUE(registry.Set(HKEY_CURRENT_USER, kHomepagePolicy, L"Homepage", REG_DWORD, DwordBytes(1)));
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            registry.Remove(root, kEmulation, L"AllSitesCompatibilityMode");
            registry.Remove(root, kCompatList, L"UserFilter");
        }
        for (const wchar_t* scheme : {L"http", L"https"})
            ASSERT_TRUE(registry.Set(HKEY_CURRENT_USER, kUserLocalhost, scheme, REG_DWORD, DwordBytes(2)));
        for (const wchar_t* clsid : kControls) {
            ASSERT_TRUE(registry.Set(HKEY_CLASSES_ROOT,
                                     std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32", L"", REG_SZ,
                                     TextBytes(WindowsPath(VELMORA_CONTROL_PE))));
        }
        ASSERT_TRUE(registry.Set(HKEY_CURRENT_USER, kSignCtlSettings, L"Flags", REG_DWORD, DwordBytes(1)));

        ASSERT_TRUE(WriteBytes(keyDriverB, kKeyDriverB));
        hostsBefore = ReadBytes(hosts);
        hostsWritten = hostsBefore + "\r\n" + kRedirect;
        ASSERT_TRUE(WriteBytes(hosts, hostsWritten));

        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IInternetZoneManager, zones.ReceiveVoid()));
        for (DWORD zone : {URLZONE_TRUSTED, URLZONE_INTERNET, URLZONE_UNTRUSTED}) {
            ZONEATTRIBUTES& attributes = savedZones.emplace_back();
            attributes.cbSize = sizeof attributes;
            ASSERT_HRESULT_SUCCEEDED(zones->GetZoneAttributes(zone, &attributes));
        }
        ZONEATTRIBUTES trusted = savedZones[0];
        trusted.dwTemplateCurrentLevel =
            trusted.dwTemplateRecommended == URLTEMPLATE_HIGH ? URLTEMPLATE_LOW : URLTEMPLATE_HIGH;
        ASSERT_HRESULT_SUCCEEDED(zones->SetZoneAttributes(URLZONE_TRUSTED, &trusted));
    }

    void TearDown() override
    {
        if (zones) {
            const DWORD order[] = {URLZONE_TRUSTED, URLZONE_INTERNET, URLZONE_UNTRUSTED};
            for (std::size_t i = 0; i < savedZones.size(); ++i)
                zones->SetZoneAttributes(order[i], &savedZones[i]);
            zones.Reset();
            CoUninitialize();
        }
        if (!hostsWritten.empty()) {
            EXPECT_TRUE(WriteBytes(hosts, hostsBefore));
        }
        RemoveFile(keyDriverB);
        registry.Undo();
        CarriedCertificateStores::TearDown();
    }

    LoopbackServer server;
    CheckConfig config;
    RegistryChanges registry;
    const std::wstring hosts = Expanded(L"%windir%\\system32\\drivers\\etc\\hosts");
    const std::wstring keyDriverB = Expanded(L"%windir%\\system32\\VelmoraKeyB.dll");
    std::string hostsBefore, hostsWritten;
    ComPtr<IInternetZoneManager> zones;
    std::vector<ZONEATTRIBUTES> savedZones;
};

// The document as the demo bank serves it: downloaded, with relative installer locations taken
// from the folder it came from.
TEST(FullCheckDocument, LoadsIntoTheGroupsItemsAndTextsItDescribes)
{
    LoopbackServer server;
    ASSERT_TRUE(server.IsListening());
    server.Respond(200, ReadBytes(Fixture("full_check.xml")));
    const std::string folder = "http://127.0.0.1:" + std::to_string(server.Port()) + "/EBANK/ocx/";
    CheckConfig config;
    ASSERT_EQ(LoadCheckConfig(config, Utf8ToWide(folder + "item.xml").c_str(),
                              FetchThrough(Network::ProcessAgent())),
              kConfigLoaded);

    std::vector<std::pair<std::string, std::size_t>> groups;
    for (const ConfigGroup& group : config.Groups)
        groups.emplace_back(group.Type, group.Entries.size());
    const std::vector<std::pair<std::string, std::size_t>> wantedGroups = {
        {"registry", 8},      {"host", 2},  {"cfca", 0}, {"iehomepage", 0},
        {"compatibility", 2}, {"trust", 2}, {"url", 2},  {"dns", 2}};
    EXPECT_EQ(groups, wantedGroups);
    for (const ConfigGroup& group : config.Groups)
        EXPECT_TRUE(HandlerForType(group.Type)) << group.Type;

    const struct {
        const char* type;
        const char* flag;
        const char* keyid;
        std::size_t detect, installers, uninstallers;
    } items[] = {{"ocx", "secctl", "", 1, 1, 1},
                 {"ocx", "signctl", "", 1, 1, 1},
                 {"ocx", "inputctl", "", 1, 1, 1},
                 {"key", "key_a", "1D990A01", 3, 2, 1},
                 {"key", "key_b", "1D990B02", 1, 1, 1}};
    ASSERT_EQ(config.ItemCount(), std::size(items)) << "items stand after the last data element";
    for (std::size_t i = 0; i < std::size(items); ++i) {
        SCOPED_TRACE(i);
        const ConfigItem& item = *config.ItemAt(i);
        EXPECT_FALSE(item.Attributes.Get("name").empty());
        EXPECT_EQ(item.Attributes.Get("type"), items[i].type);
        EXPECT_EQ(item.Attributes.Get("flag"), items[i].flag);
        EXPECT_EQ(item.Attributes.Get("keyid"), items[i].keyid);
        EXPECT_EQ(item.Detect.size(), items[i].detect);
        EXPECT_EQ(item.Installers.size(), items[i].installers);
        EXPECT_EQ(item.Uninstallers.size(), items[i].uninstallers);
        for (const ConfigEntry& detect : item.Detect)
            EXPECT_TRUE(HandlerForType(detect.Attributes.Get("dtype"))) << detect.Attributes.Get("dtype");
    }
    EXPECT_EQ(config.ItemAt(1)->Installers[0].Attributes.Get("command"), "msiexec /i \"%1\" /qn");
    EXPECT_EQ(config.ItemAt(0)->Detect[0].Attributes.Get("version"), ">=2.1.0.0");

    EXPECT_EQ(ResolveRemoteUrl(config, config.ItemAt(0)->Installers[0].Text), folder + "SecCtl_2.1.0.5.exe");
    EXPECT_EQ(ResolveRemoteUrl(config, config.ItemAt(3)->Installers[1].Text),
              folder + "key/KeyA_1.2.0.0_x64.exe");
    EXPECT_EQ(ResolveRemoteUrl(config, config.ItemAt(2)->Installers[0].Text),
              "http://localhost:8080/EBANK/ocx/InputCtl_3.0.0.2.exe");

    EXPECT_EQ(config.DataValue("bank_url"), "http://localhost:8080/EBANK/");
    EXPECT_EQ(config.DataValue("csp_FT_A"), "Velmora Demo Key CSP A v1.0");
    EXPECT_EQ(config.AppInfoAttributes.Get("imperative"), "false");
    EXPECT_EQ(config.AppInfoDetect.size(), 1u);
    EXPECT_EQ(config.AppInfoInstaller.size(), 1u);
}

TEST_F(FullCheckTest, EveryRequestOfThePageAnswersWhatThePrefixHolds)
{
    const std::vector<std::optional<bool>> typeResults = {
        true,         // cache: a check touches nothing
        true,         // registry: every value as required, SecureProtocols through its mask
        false,        // host: a bank name is redirected
        false,        // cfca: no SM2 certificate in the stores
        false,        // iehomepage: locked by policy
        true,         // compatibility: added by the check itself
        true,         // trust: localhost mapped to Trusted sites by the user
        std::nullopt, // connection: the machine's own network state
        true,         // url: the loopback server answers
        true,         // dns: localhost and 127.0.0.1 resolve to 127.0.0.1 only
        false,        // firewall: no firewall or product reported under this system
        false,        // winupdate: automatic updates not reported on
        false,        // proxy: direct connection
    };
    const std::vector<int> itemStatus = {kItemInstalled, kItemDisabled, kItemUpdateAvailable,
                                         kItemNotInstalled, kItemInstalled};
    ASSERT_EQ(PageCheckTypes().size(), typeResults.size());
    ASSERT_EQ(config.ItemCount(), itemStatus.size());

    std::vector<std::optional<std::string>> answers;
    std::optional<std::string> level, antivirus, pastTheList;
    RunOnCommandThread([&] {
        const RunServices services = SystemRunServices();
        for (const RunTarget& target : PageCheckRequests(config))
            answers.push_back(RunRequest(config, target, true, services));
        // Built-in checks the page does not ask for in a full check, and an index past the list.
        level = RunRequest(config, RunTarget{"level"}, true, services);
        antivirus = RunRequest(config, RunTarget{"antivirus"}, true, services);
        pastTheList =
            RunRequest(config, RunTarget{static_cast<std::int32_t>(itemStatus.size())}, true, services);
    });

    ASSERT_EQ(answers.size(), typeResults.size() + itemStatus.size());
    const std::regex typeAnswer(R"re(\{ "type" : "([a-z]+)", "result" : (true|false)\})re");
    for (std::size_t i = 0; i < typeResults.size(); ++i) {
        const std::string& type = PageCheckTypes()[i];
        SCOPED_TRACE(type);
        ASSERT_TRUE(answers[i]);
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(*answers[i], parts, typeAnswer)) << *answers[i];
        EXPECT_EQ(parts[1].str(), type);
        if (typeResults[i]) {
            EXPECT_EQ(parts[2].str(), *typeResults[i] ? "true" : "false");
        }
    }
    for (std::size_t index = 0; index < itemStatus.size(); ++index) {
        SCOPED_TRACE(index);
        const std::optional<std::string>& answer = answers[typeResults.size() + index];
        ASSERT_TRUE(answer);
        EXPECT_EQ(*answer, "{ \"index\" : " + std::to_string(index) +
                               ", \"result\" : " + std::to_string(itemStatus[index]) + "}");
    }
    EXPECT_EQ(level, "{ \"type\" : \"level\", \"result\" : false}");
    EXPECT_EQ(antivirus, "{ \"type\" : \"antivirus\", \"result\" : false}");
    EXPECT_FALSE(pastTheList);

    // Only trust and compatibility repair during a check: the compatibility list now holds both
    // domains; the hosts file, the home-page lock, the switched-off control and the zone level stay.
    EXPECT_EQ(UserFilterDomains(GetRaw(HKEY_CURRENT_USER, kCompatList, L"UserFilter").data),
              (std::vector<std::u16string>{u"localhost", u"127.0.0.1"}));
    EXPECT_EQ(ReadBytes(hosts), hostsWritten);
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kHomepagePolicy, L"Homepage").data, DwordBytes(1));
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kSignCtlSettings, L"Flags").data, DwordBytes(1));
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kInternetSettings, L"SecureProtocols").data, DwordBytes(0xA88 | 0x8));
    ZONEATTRIBUTES trusted{};
    trusted.cbSize = sizeof trusted;
    ASSERT_HRESULT_SUCCEEDED(zones->GetZoneAttributes(URLZONE_TRUSTED, &trusted));
    EXPECT_NE(trusted.dwTemplateCurrentLevel, trusted.dwTemplateRecommended);
}

} // namespace
} // namespace Velmora::Assistant
