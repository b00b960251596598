#include "loopback_server.h" // winsock2.h before windows.h

#include "checks/config_loader_win.h"

#include "common/option_table.h"
#include "net/http_agent_win.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
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

// Wine keeps no owner or DACL of a file's own: the customer's account owns every file. Under Wine
// the cache rule therefore counts that account with Administrators and SYSTEM, and still refuses a
// copy that anyone else may change.
bool IsWineFileOwnerOrAdministrator(PSID sid)
{
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return true;
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return false;
    alignas(TOKEN_USER) BYTE buffer[256];
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
           EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

const CacheTrust kWineTrust = [](PSECURITY_DESCRIPTOR descriptor) {
    return OnlyTheseCanChange(descriptor, IsWineFileOwnerOrAdministrator);
};

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

    // The copy the program itself keeps after a good download.
    void KeepCopy(const std::string& document)
    {
        FakeServer good;
        good.body = document;
        CheckConfig loaded;
        ASSERT_EQ(LoadCheckConfig(loaded, kUrl, good.Fetch(), kWineTrust), kConfigLoaded);
    }
    ConfigFetch Refused()
    {
        server.status = kConnectionRefused;
        return server.Fetch();
    }

    static constexpr const wchar_t* kUrl = L"http://127.0.0.1:9/ebank/item.xml";
    std::wstring cache;
    FakeServer server;
    CheckConfig config;
};

// The copy is kept per machine, under the program data folder (which the program's own folders
// there keep to administrators), and named by the MD5 of the URL's UTF-8 text.
TEST_F(LoadCheckConfigTest, CacheFileIsNamedByTheMd5OfTheUtf8Url)
{
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    const std::wstring expected =
        std::wstring(folder) + L"\\Velmora\\Assistant\\a7dfe06a8da9fa62de28ebb533079a7e.mdc";
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

    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConfigLoaded);
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
    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConfigLoaded);
    EXPECT_EQ(ReadBytes(cache), server.body);

    // A document's own base replaces the computed one.
    server.body = ReadBytes(Fixture("with_base.xml"));
    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConfigLoaded);
    EXPECT_EQ(config.RootAttribute("base"), "https://cdn.example/components/");
}

TEST_F(LoadCheckConfigTest, FailedDownloadFallsBackToTheCachedCopy)
{
    KeepCopy(ReadBytes(Fixture("cached.xml")));
    server.status = kConnectionRefused;
    ASSERT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConfigFromCache);
    ASSERT_EQ(config.ItemCount(), 1u);
    EXPECT_EQ(config.ItemAt(0)->Attributes.Get("flag"), "cached");
    EXPECT_EQ(config.RootAttribute("base"), "http://127.0.0.1:9/ebank/");

    RemoveFile(cache);
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConnectionRefused)
        << "no copy: the download's status";
    EXPECT_EQ(config.ItemCount(), 0u);

    // A copy where earlier versions kept it, in the customer's own Internet cache, is never read.
    wchar_t userCache[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, SHGFP_TYPE_CURRENT, userCache), S_OK);
    const std::wstring oldFolder = std::wstring(userCache) + L"\\Content.IE5";
    CreateDirectoryW(oldFolder.c_str(), nullptr);
    const std::wstring oldCopy = oldFolder + cache.substr(cache.rfind(L'\\'));
    ASSERT_TRUE(WriteBytes(oldCopy, ReadBytes(Fixture("cached.xml"))));
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConnectionRefused);
    RemoveFile(oldCopy);
}

TEST_F(LoadCheckConfigTest, ErrorPageOrBrokenDocumentNeverReplacesTheCache)
{
    const std::string good = ReadBytes(Fixture("cached.xml"));
    KeepCopy(good);

    // Status 404 reaches the loader as a success with an empty body.
    server.body.clear();
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConfigFromCache);
    EXPECT_EQ(config.ItemCount(), 1u);
    EXPECT_EQ(ReadBytes(cache), good);

    // A maintenance or captive-portal page: status 200 and a body that is no check document.
    server.body = "<html><body>Service unavailable</body>";
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConfigFromCache);
    EXPECT_EQ(config.ItemCount(), 1u);
    EXPECT_EQ(config.RootAttribute("base"), "http://127.0.0.1:9/ebank/") << "the folder of the URL";
    EXPECT_EQ(ReadBytes(cache), good);
    RemoveFile(cache);
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), E_FAIL) << "and no kept copy";
    EXPECT_EQ(config.ItemCount(), 0u);
    KeepCopy(good);

    RemoveFile(cache);
    server.body.clear();
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), E_FAIL)
        << "an empty answer is no document";
    EXPECT_EQ(GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CacheTrustTest, OnlyACopyNobodyButAdministratorsAndSystemCanChangeIsTrusted)
{
    const struct {
        const wchar_t* sddl;
        bool trusted;
    } rows[] = {
        {L"O:BAG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)", true}, // as the program writes it
        {L"O:SYG:SYD:(A;;FA;;;SY)(A;;FR;;;WD)", true},
        {L"O:BAG:BAD:P", true},                               // nobody but the owner's implicit rights
        {L"O:BAG:BAD:(D;;FA;;;BU)(A;;FA;;;BA)", true},        // a denial grants nothing
        {L"O:BAG:BAD:(A;OIIO;FA;;;BU)(A;;FA;;;BA)", true},    // applies to children only
        {L"O:BUG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", false},      // owned by Users: may change the DACL
        {L"O:S-1-5-21-1-2-3-1000G:BAD:P(A;;FA;;;BA)", false}, // owned by a customer's account
        {L"O:BAG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;BU)", false}, // users may write
        {L"O:BAG:BAD:P(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1000)", false},
        {L"O:BAG:BAD:P(A;;FA;;;BA)(A;;WD;;;WD)", false}, // everyone may change the security
        {L"O:BAG:BAD:P(A;;FA;;;BA)(A;;SD;;;IU)", false}, // delete, then plant another
        {L"O:BAG:BAD:P(A;;FA;;;BA)(A;;GW;;;AU)", false},
        {L"O:BAG:BA", false}, // no DACL: no restriction at all
    };
    for (const auto& row : rows) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl, SDDL_REVISION_1,
                                                                         &descriptor, nullptr))
            << row.sddl;
        const ScopedLocal held(static_cast<HLOCAL>(descriptor));
        EXPECT_EQ(OnlyAdministratorsCanChange(descriptor), row.trusted) << row.sddl;
    }
    EXPECT_FALSE(OnlyAdministratorsCanChange(nullptr));
}

TEST_F(LoadCheckConfigTest, ACopyOwnedByTheCustomersAccountIsIgnored)
{
    // Wine reports for files what their Unix mode allows: the customer's account as owner and
    // group, full access for it and SYSTEM, and Everyone's access from the "other" bits.
    const std::string document = ReadBytes(Fixture("cached.xml"));
    KeepCopy(document);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(cache.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr, &descriptor),
              DWORD(ERROR_SUCCESS));
    const ScopedLocal held(static_cast<HLOCAL>(descriptor));
    ASSERT_NE(dacl, nullptr);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_FALSE(IsWellKnownSid(&ace->SidStart, WinWorldSid))
            << "written for Administrators and SYSTEM only";
    }
    EXPECT_EQ(LoadCheckConfig(config, kUrl, Refused(), kWineTrust), kConfigFromCache);
    EXPECT_EQ(LoadCheckConfig(config, kUrl, Refused()), kConnectionRefused)
        << "the customer's own account owns every file under Wine, so the program's rule accepts none";

    // A file left at the temporary name is removed first, so it neither blocks the copy nor is
    // written through.
    RemoveFile(cache);
    ASSERT_TRUE(WriteBytes(cache + L".new", "<checkitems/>"));
    KeepCopy(document);
    EXPECT_EQ(LoadCheckConfig(config, kUrl, Refused(), kWineTrust), kConfigFromCache);
    EXPECT_EQ(GetFileAttributesW((cache + L".new").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LoadCheckConfigTest, CachingOffNeitherWritesNorReads)
{
    Options().Set(kOptionCacheCheckConfig, 0);
    server.body = ReadBytes(Fixture("check.xml"));
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConfigLoaded);
    EXPECT_EQ(GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(WriteBytes(cache, ReadBytes(Fixture("cached.xml"))));
    server.status = kConnectionRefused;
    EXPECT_EQ(LoadCheckConfig(config, kUrl, server.Fetch(), kWineTrust), kConnectionRefused);
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
    ASSERT_EQ(LoadCheckConfig(config, url.c_str(), FetchThrough(agent), kWineTrust), kConfigLoaded);
    EXPECT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(config.RootAttribute("base"),
              "http://127.0.0.1:" + std::to_string(server.Port()) + "/EBANK/ocx/");
    EXPECT_EQ(ReadBytes(cache), document);

    server.Respond(404, "<checkitems><item name=\"from an error page\"/></checkitems>");
    EXPECT_EQ(LoadCheckConfig(config, url.c_str(), FetchThrough(agent), kWineTrust), kConfigFromCache);
    EXPECT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(ReadBytes(cache), document) << "an error answer keeps the cached copy";

    const int requests = server.Requests();
    server.Stop();
    EXPECT_EQ(LoadCheckConfig(config, url.c_str(), FetchThrough(agent), kWineTrust), kConfigFromCache);
    ASSERT_EQ(config.ItemCount(), 2u);
    EXPECT_EQ(config.ItemAt(1)->Attributes.Get("keyid"), "096E0201");
    EXPECT_EQ(server.Requests(), requests);

    RemoveFile(cache);
    const HRESULT down = LoadCheckConfig(config, url.c_str(), FetchThrough(agent), kWineTrust);
    EXPECT_LT(down, 0) << "no server and no copy: " << std::hex << down;
    EXPECT_EQ(config.ItemCount(), 0u);
}

} // namespace
} // namespace Velmora::Assistant
