// The demo bank as the program meets it: its document, served over https by demo/bank_server.py
// (the demo_bank fixture) and loaded with the program's own loader and parser, is complete, names a
// check for everything the page checks, and every installer in it is a file the bank serves whose
// digests match.
#include "win/net/test_servers.h"

#include "checks/check_config.h"
#include "checks/config_loader_win.h"
#include "checks/item_install_win.h"
#include "checks/run_driver_win.h"
#include "checks/verified_download_win.h"
#include "common/text_win.h"
#include "console/page_checks.h"
#include "net/http_agent_win.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

class DemoBankDocument : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(NetTest::TheServers().httpsPort, 0) << "the demo bank is not running";
        ASSERT_EQ(LoadCheckConfig(config, url.c_str(), FetchThrough(Network::ProcessAgent())), kConfigLoaded);
    }

    // Every entry of the document: groups, components, the assistant's own record.
    std::vector<const ConfigEntry*> AllEntries() const
    {
        std::vector<const ConfigEntry*> entries;
        const auto add = [&](const std::vector<ConfigEntry>& list) {
            for (const ConfigEntry& entry : list)
                entries.push_back(&entry);
        };
        for (const ConfigGroup& group : config.Groups)
            add(group.Entries);
        for (const ConfigItem& item : config.Items) {
            add(item.Detect);
            add(item.Installers);
            add(item.Uninstallers);
        }
        add(config.AppInfoDetect);
        add(config.AppInfoInstaller);
        return entries;
    }

    const std::wstring url = NetTest::HttpsUrl("/EBANK/ocx/item.xml");
    CheckConfig config;
};

bool Unfilled(const std::string& text)
{
    return text.find("{{") != std::string::npos || text.find("}}") != std::string::npos;
}

TEST_F(DemoBankDocument, HasEveryPlaceholderFilledAndItsServicesAnswer)
{
    for (const ConfigEntry* entry : AllEntries()) {
        EXPECT_FALSE(Unfilled(entry->Text)) << entry->Text;
        for (const auto& [name, value] : entry->Attributes.Values())
            EXPECT_FALSE(Unfilled(value)) << name << "=" << value;
    }
    for (const auto& [name, value] : config.DataValues)
        EXPECT_FALSE(Unfilled(value)) << name << "=" << value;
    for (const auto& [name, value] : config.AppInfoAttributes.Values())
        EXPECT_FALSE(Unfilled(value)) << name << "=" << value;

    // The ports filled in are the bank's: its services answer the program's own reachability check.
    ConfigGroup* services = config.GroupByType("url");
    ASSERT_TRUE(services);
    ASSERT_FALSE(services->Entries.empty());
    EXPECT_EQ(RunCheck(*HandlerForType("url"), services->Entries.data(), services->Entries.size(), false),
              kResultPassed);
}

TEST_F(DemoBankDocument, NamesACheckForEveryTypeOfThePageAndEveryKindOfDetection)
{
    for (const Console::FixedCheck& check : Console::FixedChecks()) {
        const std::string type(check.type);
        SCOPED_TRACE(type);
        const bool grouped = config.GroupByType(type) != nullptr;
        // A built-in check answers by name; a group of its name would stand in its way.
        const bool builtIn = RunBuiltInCheck(type, true).has_value();
        EXPECT_NE(grouped, builtIn);
        if (grouped) {
            EXPECT_TRUE(HandlerForType(type));
        }
    }

    std::set<std::string> detections;
    std::set<std::string> kinds;
    for (const ConfigItem& item : config.Items) {
        kinds.insert(item.Attributes.Get("type"));
        for (const ConfigEntry& entry : item.Detect) {
            const std::string& type = entry.Attributes.Get("dtype");
            EXPECT_TRUE(HandlerForType(type)) << type;
            detections.insert(type);
        }
    }
    EXPECT_EQ(detections, (std::set<std::string>{"clsid", "file", "registry", "service"}));
    // A browser control, a security component and a USB-key driver.
    EXPECT_EQ(kinds, (std::set<std::string>{"ocx", "safe", "key"}));
}

TEST_F(DemoBankDocument, ServesEveryInstallerItNamesWithTheDigestsItStates)
{
    std::vector<ConfigEntry> installers = config.AppInfoInstaller;
    for (const ConfigItem& item : config.Items)
        installers.insert(installers.end(), item.Installers.begin(), item.Installers.end());
    ASSERT_EQ(installers.size(), config.ItemCount() + 1);

    const std::string folder = WideToUtf8(url.substr(0, url.rfind(L'/') + 1));
    for (const ConfigEntry& entry : installers) {
        SCOPED_TRACE(entry.Text);
        EXPECT_TRUE(entry.Attributes.Has("md5") || entry.Attributes.Has("sha1") ||
                    entry.Attributes.Has("sha256"));
        const std::string location = ResolveRemoteUrl(config, entry.Text);
        EXPECT_EQ(location.rfind(folder, 0), 0u) << location;
        const std::wstring target = NetTest::TempFilePath(L"demo-installer.exe");
        // The program's own verified download: only bytes that match every digest arrive.
        EXPECT_EQ(DownloadAndReplace(Utf8ToWide(location), target, {},
                                     [&entry](const std::wstring& download) {
                                         return VerifyDownload(entry, download.c_str()) == kResultPassed;
                                     }),
                  S_OK);
        DeleteFileW(target.c_str());
    }
}

} // namespace
} // namespace Velmora::Assistant
