#include "checks/check_fix_dns_win.h"

#include "net/connection_state_win.h"

#include <windows.h>

#include <wininet.h>

#include <gtest/gtest.h>

#include <string>

namespace Velmora::Assistant {
namespace {

struct ConnectionOptions {
    DWORD flags = PROXY_TYPE_DIRECT;
    std::wstring server, script;
};

ConnectionOptions ReadOptions()
{
    INTERNET_PER_CONN_OPTIONW options[3] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    INTERNET_PER_CONN_OPTION_LISTW list = {sizeof list, nullptr, 3, 0, options};
    DWORD size = sizeof list;
    EXPECT_TRUE(InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size));
    ConnectionOptions read;
    read.flags = options[0].Value.dwValue;
    for (const auto& [index, text] : {std::pair{1, &read.server}, std::pair{2, &read.script}}) {
        if (options[index].Value.pszValue) {
            *text = options[index].Value.pszValue;
            GlobalFree(options[index].Value.pszValue);
        }
    }
    return read;
}

void WriteOptions(const ConnectionOptions& wanted)
{
    std::wstring server = wanted.server, script = wanted.script;
    INTERNET_PER_CONN_OPTIONW options[3] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = wanted.flags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = server.data();
    options[2].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    options[2].Value.pszValue = script.data();
    INTERNET_PER_CONN_OPTION_LISTW list = {sizeof list, nullptr, 3, 0, options};
    ASSERT_TRUE(InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list));
}

// Tests that change the default connection's proxy options put the prefix's options back. (Wine
// never reports a configuration-script address on Linux, so only the proxy server is switched.)
class ConnectionOptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = ReadOptions();
        WriteOptions({});
    }
    void TearDown() override { WriteOptions(saved_); }

    ConnectionOptions saved_;
};

TEST_F(ConnectionOptionsTest, ProxyInUseFollowsTheDefaultConnection)
{
    const struct {
        const char* what;
        ConnectionOptions options;
        bool inUse;
    } cases[] = {
        {"direct", {}, false},
        {"proxy server", {PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, L"127.0.0.1:3128", L""}, true},
        {"server named but not selected", {PROXY_TYPE_DIRECT, L"127.0.0.1:3128", L""}, false},
        {"cleared again", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteOptions(c.options);
        EXPECT_EQ(Network::ProxyInUse(), c.inUse);
    }
}

TEST_F(ConnectionOptionsTest, DnsEntries)
{
    const struct {
        const char* text;
        const char* ip;
        std::int32_t code;
    } cases[] = {
        {"localhost", "127.0.0.1", kResultPassed}, {"LocalHost", "10.0.0.1|127.0.0.1|", kResultPassed},
        {"localhost", "10.0.0.1", kResultFailed},  {"localhost", "", kResultFailed},
        {"127.0.0.1", "127.0.0.1", kResultPassed}, // looked up in reverse
        {"127.0.0.1", "10.0.0.2", kResultFailed},  {"no-such-host.invalid", "", kResultFailed},
    };
    CheckFixDns handler;
    for (const auto& c : cases) {
        ConfigEntry entry;
        entry.Text = c.text;
        entry.Attributes.Set("ip", c.ip);
        EXPECT_EQ(handler.CheckEntry(entry), c.code) << c.text << " " << c.ip;
        EXPECT_EQ(handler.FixEntry(entry), kResultNotFixable);
    }

    // Behind a proxy the resolver's answer proves nothing: every entry reports -1.
    WriteOptions({PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, L"127.0.0.1:3128", L""});
    ConfigEntry entry;
    entry.Text = "localhost";
    entry.Attributes.Set("ip", "127.0.0.1");
    EXPECT_EQ(handler.CheckEntry(entry), kResultNotFixable);
}

int g_lookups = 0;

std::optional<std::string> FakeLookup(const std::string& name)
{
    ++g_lookups;
    return name == "no-such-host.invalid" ? std::optional<std::string>("10.1.2.3") : std::nullopt;
}

// The DNS client fails under Wine; the fallback is reached through the lookup seam.
TEST(ResolveHost, FallbackOnlyWithoutAHostEntry)
{
    g_lookups = 0;
    EXPECT_EQ(ResolveHost("no-such-host.invalid", FakeLookup), std::vector<std::string>{"10.1.2.3"});
    EXPECT_EQ(g_lookups, 1);
    EXPECT_EQ(ResolveHost("localhost", FakeLookup), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(ResolveHost("127.0.0.1", FakeLookup), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(g_lookups, 1);
    EXPECT_TRUE(ResolveHost("no-such-host.invalid").empty());
}

} // namespace
} // namespace Velmora::Assistant
