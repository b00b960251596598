#include "loopback_server.h" // winsock2.h before windows.h

#include "checks/config_loader_win.h"

#include "app/option_table.h"
#include "net/http_agent_win.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

// Stands in for the HTTP agent: answers with a programmed status and body and counts its calls.
struct FakeServer {
    HRESULT status = S_OK;
    std::string body;
    int calls = 0;
    std::wstring lastUrl;

    ConfigFetch Fetch()
    {
        return [this](const std::wstring& url, std::string* out) {
            ++calls;
            lastUrl = url;
            if (SUCCEEDED(status))
                *out = body;
            return status;
        };
    }
};

const HRESULT kConnectionRefused = HRESULT_FROM_WIN32(12029);

class LoadCheckConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Options().Set(kOptionCacheCheckConfig, 1);
        cache = ConfigCachePath(kUrl);
        ASSERT_FALSE(cache.empty());
        RemoveFile(cache);
    }
    void TearDown() override { RemoveFile(cache); }

    static constexpr const wchar_t* kUrl = L"http://127.0.0.1:9/ebank/item.xml";
    std::wstring cache;
    FakeServer server;
    CheckConfig config;
};

TEST_F(LoadCheckConfigTest, CacheFileIsNamedByTheMd5OfTheUtf8Url)
{
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    const std::wstring expected =
        std::wstring(folder) + L"\\Content.IE5\\a7dfe06a8da9fa62de28ebb533079a7e.mdc";
    EXPECT_EQ(CompareStringOrdinal(cache.c_str(), -1, expected.c_str(), -1, TRUE), CSTR_EQUAL)
        << WideToUtf8(cache);
    const std::wstring chinese = ConfigCachePath(L"https://bank.example/EBANK/ocx/\u914d\u7f6e.xml");
    EXPECT_NE(chinese.find(L"\\7704b588b383d10c2deafada9f21113a.mdc"), std::wstring::npos)
        << WideToUtf8(chinese);
}

TEST_F(LoadCheckConfigTest, LocalFileIsReadWithoutDownloadOrCache)
{
    EXPECT_EQ(LoadCheckConfig(config, Fixture("check.xml").c_str(), server.Fetch()), kConfigLoaded);
    EXPECT_EQ(server.calls, 0);
    EXPECT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(config.DataValue("notice"), "fixture");
    EXPECT_EQ(config.RootAttribute("base"), "") << "a local document has only its own base";

    ASSERT_EQ(LoadCheckConfig(config, Fixture("with_base.xml").c_str(), server.Fetch()), kConfigLoaded);
    EXPECT_EQ(config.RootAttribute("base"), "https://cdn.example/components/");
    EXPECT_EQ(config.ItemCount(), 1u) << "the model is rebuilt, not added to";
    EXPECT_EQ(config.GroupByType("registry"), nullptr);

    EXPECT_EQ(LoadCheckConfig(config, Fixture("missing.xml").c_str(), server.Fetch()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(LoadCheckConfig(config, Fixture("broken.xml").c_str(), server.Fetch()), E_FAIL);
    EXPECT_EQ(config.ItemCount(), 0u);
    EXPECT_EQ(LoadCheckConfig(config, MAKEINTRESOURCEW(101), server.Fetch()), E_NOTIMPL);
    EXPECT_EQ(server.calls, 0);
}

TEST_F(LoadCheckConfigTest, DownloadSetsTheBaseAndWritesAHiddenSystemCache)
{
    server.body = ReadBytes(Fixture("check.xml"));
    ASSERT_FALSE(server.body.empty());
    const std::wstring mixedCase = L"HtTp://127.0.0.1:9/ebank/item.xml";
    RemoveFile(ConfigCachePath(mixedCase));
    ASSERT_EQ(LoadCheckConfig(config, mixedCase.c_str(), server.Fetch()), kConfigLoaded);
    EXPECT_EQ(server.calls, 1) << "the scheme is matched without case";
    EXPECT_EQ(config.RootAttribute("base"), "HtTp://127.0.0.1:9/ebank/");
    RemoveFile(ConfigCachePath(mixedCase));

    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConfigLoaded);
    EXPECT_EQ(server.lastUrl, kUrl);
    EXPECT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(ReadBytes(cache), server.body);
    const DWORD attributes = GetFileAttributesW(cache.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        << std::hex << attributes;

    // Every successful download replaces the copy, the hidden system file included.
    server.body = ReadBytes(Fixture("cached.xml"));
    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConfigLoaded);
    EXPECT_EQ(ReadBytes(cache), server.body);

    // A document's own base replaces the computed one.
    server.body = ReadBytes(Fixture("with_base.xml"));
    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConfigLoaded);
    EXPECT_EQ(config.RootAttribute("base"), "https://cdn.example/components/");
}

TEST_F(LoadCheckConfigTest, FailedDownloadFallsBackToTheCachedCopy)
{
    ASSERT_TRUE(
        WriteBytes(cache, ReadBytes(Fixture("cached.xml")), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    server.status = kConnectionRefused;
    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConfigFromCache);
    ASSERT_EQ(config.ItemCount(), 1u);
    EXPECT_EQ(config.ItemAt(0)->Attributes.Get("flag"), "cached");
    EXPECT_EQ(config.RootAttribute("base"), "http://127.0.0.1:9/ebank/");

    RemoveFile(cache);
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConnectionRefused)
        << "no copy: the download's status";
    EXPECT_EQ(config.ItemCount(), 0u);
}

TEST_F(LoadCheckConfigTest, ErrorPageOrBrokenDocumentNeverReplacesTheCache)
{
    const std::string good = ReadBytes(Fixture("cached.xml"));
    ASSERT_TRUE(WriteBytes(cache, good, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    // Status 404 reaches the loader as a success with an empty body.
    server.body.clear();
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConfigFromCache);
    EXPECT_EQ(config.ItemCount(), 1u);
    EXPECT_EQ(ReadBytes(cache), good);

    server.body = "<html><body>Service unavailable</body>";
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), E_FAIL);
    EXPECT_EQ(ReadBytes(cache), good);

    RemoveFile(cache);
    server.body.clear();
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), E_FAIL) << "an empty answer is no document";
    EXPECT_EQ(GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LoadCheckConfigTest, CachingOffNeitherWritesNorReads)
{
    Options().Set(kOptionCacheCheckConfig, 0);
    server.body = ReadBytes(Fixture("check.xml"));
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConfigLoaded);
    EXPECT_EQ(GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(WriteBytes(cache, ReadBytes(Fixture("cached.xml"))));
    server.status = kConnectionRefused;
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch()), kConnectionRefused);
    Options().Set(kOptionCacheCheckConfig, 1);
}

} // namespace
} // namespace Velmora::Assistant

namespace Velmora::Assistant {
namespace {

using namespace Testing;

// The whole road through the HTTP agent against a server of the test's own.
TEST(LoadCheckConfigOverHttp, DownloadsCachesAndFallsBackWhenTheServerFails)
{
    Options().Set(kOptionCacheCheckConfig, 1);
    LoopbackServer server;
    ASSERT_TRUE(server.IsListening());
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/EBANK/ocx/item.xml";
    const std::wstring cache = ConfigCachePath(url);
    RemoveFile(cache);
    Network::CWinHttpAgent agent(L"Velmora test");
    ASSERT_EQ(agent.OpenStatus(), S_OK);
    CheckConfig config;

    const std::string document = ReadBytes(Fixture("check.xml"));
    server.Respond(200, document);
    ASSERT_EQ(LoadCheckConfig(config, url.c_str(), FetchThrough(agent)), kConfigLoaded);
    EXPECT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(config.RootAttribute("base"),
              "http://127.0.0.1:" + std::to_string(server.Port()) + "/EBANK/ocx/");
    EXPECT_EQ(ReadBytes(cache), document);

    server.Respond(404, "<checkitems><item name=\"from an error page\"/></checkitems>");
    EXPECT_EQ(LoadCheckConfig(config, url.c_str(), FetchThrough(agent)), kConfigFromCache);
    EXPECT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(ReadBytes(cache), document) << "an error answer keeps the cached copy";

    const int requests = server.Requests();
    server.Stop();
    EXPECT_EQ(LoadCheckConfig(config, url.c_str(), FetchThrough(agent)), kConfigFromCache);
    ASSERT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(config.ItemAt(1)->Attributes.Get("keyid"), "096E0201");
    EXPECT_EQ(server.Requests(), requests);

    RemoveFile(cache);
    const HRESULT down = LoadCheckConfig(config, url.c_str(), FetchThrough(agent));
    EXPECT_LT(down, 0) << "no server and no copy: " << std::hex << down;
    EXPECT_EQ(config.ItemCount(), 0u);
}

} // namespace
} // namespace Velmora::Assistant
