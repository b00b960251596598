#include "net/http_agent_win.h"

#include "common/option_table.h"
#include "common/scoped_handle_win.h"
#include "common/text_win.h"
#include "test_servers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Velmora::Network;
using namespace NetTest;

namespace {

// Counts what the hooks see, and can refuse responses.
class RecordingAgent : public CWinHttpAgent {
public:
    RecordingAgent() : CWinHttpAgent(L"Mozilla/5.0") {}
    int sessionHooks = 0;
    int connects = 0;
    std::vector<DWORD> statuses;
    bool accept = true;

protected:
    void OnSessionOpened(CWinHttpSession&) override { ++sessionHooks; }
    void OnConnected(CWinHttpConnect&) override { ++connects; }
    bool OnResponse(CWinHttpRequest&, DWORD status) override
    {
        statuses.push_back(status);
        return accept;
    }
};

// Copies of what the progress function saw; its string pointers live only during the call.
struct Report {
    DownloadProgress record;
    std::wstring url;
    std::wstring filePath;
};

struct Reports {
    std::vector<Report> all;
    DownloadProgressFn Fn()
    {
        return [this](const DownloadProgress& p) { all.push_back({p, p.url, p.filePath}); };
    }
    const DownloadProgress& Last() const { return all.back().record; }
};

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TheServers().httpPort == 0)
            GTEST_SKIP() << "test servers not running (net_servers fixture)";
        token = UniqueToken();
        file = TempFilePath(Velmora::Utf8ToWide(token) + L".bin");
        ::DeleteFileW(file.c_str());
    }
    void TearDown() override { ::DeleteFileW(file.c_str()); }

    std::string token;
    std::wstring file;
};

TEST_F(AgentTest, AbsoluteUrlSendsOnlyItsPathWithTheAgentsUserAgent)
{
    AssistantHttp agent;
    ASSERT_EQ(agent.OpenStatus(), S_OK);
    std::string body;
    ASSERT_EQ(agent.FetchText(HttpUrl("/echo/" + token + "/doc.xml?secret=1#frag"), {}, &body), S_OK);
    EXPECT_EQ(body, "/echo/" + token + "/doc.xml");

    const auto requests = RequestsWith(token);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Mozilla/5.0");

    // The caller's own query is the one way a query reaches the server.
    ASSERT_EQ(agent.FetchText(HttpUrl("/echo/" + token + "/q"), "a=1&b=2", &body), S_OK);
    EXPECT_EQ(body, "/echo/" + token + "/q?a=1&b=2");
}

TEST_F(AgentTest, ConnectionIsReusedPerHostAndPortAndReplacedOnAnotherPort)
{
    RecordingAgent agent;
    const std::string port = std::to_string(TheServers().httpPort);
    std::string body;
    ASSERT_EQ(
        agent.FetchText(Velmora::Utf8ToWide("http://localhost:" + port + "/echo/" + token + "/1"), {}, &body),
        S_OK);
    // Host names differ only in letter case: still the same server.
    ASSERT_EQ(
        agent.FetchText(Velmora::Utf8ToWide("http://LocalHost:" + port + "/echo/" + token + "/2"), {}, &body),
        S_OK);
    ASSERT_EQ(agent.FetchText(HttpsUrl("/echo/" + token + "/3"), {}, &body), S_OK);
    EXPECT_EQ(body, "/echo/" + token + "/3");

    const auto requests = RequestsWith(token);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].conn, requests[1].conn);
    EXPECT_NE(requests[1].conn, requests[2].conn);
    EXPECT_EQ(requests[2].port, TheServers().httpsPort);
    EXPECT_EQ(agent.connects, 2);
    EXPECT_EQ(agent.sessionHooks, 1);
}

TEST_F(AgentTest, RelativeUrlIsAppendedToTheLastAbsolutePathWithoutSeparator)
{
    AssistantHttp agent;
    std::string body;
    // Nothing to be relative to yet.
    EXPECT_TRUE(FAILED(agent.FetchText(L"setup.exe", {}, &body)));

    ASSERT_EQ(agent.FetchText(HttpUrl("/echo/" + token + "/dir/a.xml?x=1"), {}, &body), S_OK);
    EXPECT_EQ(agent.BasePath(), Velmora::Utf8ToWide("/echo/" + token + "/dir/a.xml"));
    ASSERT_EQ(agent.FetchText(L"setup.exe", {}, &body), S_OK);
    EXPECT_EQ(body, "/echo/" + token + "/dir/a.xmlsetup.exe");
    // The base stays the last absolute URL's path, not the relative one just used.
    Reports reports;
    ASSERT_EQ(agent.DownloadFile(L"/b.bin", file.c_str(), reports.Fn(), 0), S_OK);
    EXPECT_EQ(ReadFileBytes(file), "/echo/" + token + "/dir/a.xml/b.bin");

    const auto requests = RequestsWith(token);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].conn, requests[0].conn);
    EXPECT_EQ(requests[2].conn, requests[0].conn);
}

TEST_F(AgentTest, HttpErrorsGiveEmptySuccessOrAnHttpErrorReportWithoutFile)
{
    AssistantHttp agent;
    for (int code : {404, 500}) {
        SCOPED_TRACE(code);
        std::string body = "stale";
        EXPECT_EQ(agent.FetchText(HttpUrl("/status/" + std::to_string(code) + "/" + token), {}, &body), S_OK);
        EXPECT_EQ(body, "");

        Reports reports;
        EXPECT_EQ(agent.DownloadFile(HttpUrl("/status/" + std::to_string(code) + "/" + token), file.c_str(),
                                     reports.Fn(), 7),
                  S_OK);
        ASSERT_EQ(reports.all.size(), 1u);
        EXPECT_EQ(reports.Last().total, 0u);
        EXPECT_EQ(reports.Last().received, 0u);
        EXPECT_FALSE(reports.Last().percentValid);
        EXPECT_EQ(reports.Last().userValue, 7u);
        EXPECT_EQ(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(AgentTest, DownloadWithLengthStreamsToFileAndFinishesAtHundredPercent)
{
    AssistantHttp agent;
    constexpr std::size_t kSize = 300000;
    const std::wstring url = HttpUrl("/slow/" + std::to_string(kSize) + "/4/50/" + token);
    Reports reports;
    ASSERT_EQ(agent.DownloadFile(url, file.c_str(), reports.Fn(), 42), S_OK);
    EXPECT_TRUE(ReadFileBytes(file) == Pattern(kSize));

    ASSERT_GE(reports.all.size(), 3u); // several progress reports, then the finish
    std::uint32_t previous = 0;
    for (const auto& [p, reportedUrl, reportedPath] : reports.all) {
        EXPECT_EQ(p.total, kSize);
        EXPECT_TRUE(p.percentValid);
        EXPECT_GE(p.received, previous);
        EXPECT_LE(p.percent, 100u);
        EXPECT_EQ(reportedUrl, url);
        EXPECT_EQ(reportedPath, file);
        EXPECT_EQ(p.userValue, 42u);
        previous = p.received;
    }
    EXPECT_LT(reports.all.front().record.percent, 100u);
    EXPECT_EQ(reports.Last().received, kSize);
    EXPECT_EQ(reports.Last().percent, 100u);
}

TEST_F(AgentTest, BodyWithoutLengthDownloadsCompletelyWithTotalOne)
{
    AssistantHttp agent;
    for (const char* route : {"/nolength/", "/chunked/"}) {
        SCOPED_TRACE(route);
        Reports reports;
        ASSERT_EQ(
            agent.DownloadFile(HttpUrl(route + std::string("5000/") + token), file.c_str(), reports.Fn(), 0),
            S_OK);
        EXPECT_TRUE(ReadFileBytes(file) == Pattern(5000));
        ASSERT_FALSE(reports.all.empty());
        EXPECT_EQ(reports.Last().total, 1u);
        EXPECT_EQ(reports.Last().received, 5000u);
        EXPECT_EQ(reports.Last().percent, 500000u);

        std::string body;
        ASSERT_EQ(agent.FetchText(HttpUrl(route + std::string("3000/") + token), {}, &body), S_OK);
        EXPECT_TRUE(body == Pattern(3000));
    }
}

TEST_F(AgentTest, ShortOrBrokenBodiesFailAndKeepThePartialFile)
{
    AssistantHttp agent;
    // Declared length larger than what arrives before the server closes.
    for (const char* route : {"/short/10000/4000/", "/short/10000/0/"}) {
        SCOPED_TRACE(route);
        Reports reports;
        const HRESULT hr = agent.DownloadFile(HttpUrl(route + token), file.c_str(), reports.Fn(), 0);
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        ASSERT_FALSE(reports.all.empty());
        EXPECT_EQ(reports.Last().received, 0u); // a Failed report, never a finish
        EXPECT_FALSE(reports.Last().percentValid);
        EXPECT_EQ(reports.Last().total, 10000u);
        const std::string partial = ReadFileBytes(file);
        EXPECT_LT(partial.size(), 10000u);
        EXPECT_TRUE(partial == Pattern(partial.size()));

        std::string body = "stale";
        EXPECT_TRUE(FAILED(agent.FetchText(HttpUrl(route + token), {}, &body)));
        EXPECT_EQ(body, "");
    }
}

TEST_F(AgentTest, FailuresBeforeAResponseAreStatusesAndTheAgentRecovers)
{
    AssistantHttp agent;
    Reports reports;
    EXPECT_EQ(agent.DownloadFile(HttpUrl("/drop/" + token), file.c_str(), reports.Fn(), 0) & 0xFFFF0000,
              0x80070000u);
    ASSERT_EQ(reports.all.size(), 1u);
    EXPECT_FALSE(reports.Last().percentValid);

    // Port 1 on loopback has no listener: connection refused.
    std::string body;
    EXPECT_EQ(agent.FetchText(L"http://127.0.0.1:1/x", {}, &body),
              HRESULT_FROM_WIN32(ERROR_WINHTTP_CANNOT_CONNECT));
    ASSERT_EQ(agent.FetchText(HttpUrl("/echo/" + token), {}, &body), S_OK);
    EXPECT_EQ(body, "/echo/" + token);

    // A file that cannot be created is reported and nothing is written.
    reports.all.clear();
    const std::wstring badFile = L"Z:\\no\\such\\folder\\x.bin";
    EXPECT_EQ(agent.DownloadFile(HttpUrl("/gen/10/" + token), badFile.c_str(), reports.Fn(), 0),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    ASSERT_EQ(reports.all.size(), 1u);
    EXPECT_EQ(reports.Last().total, 10u);
    EXPECT_FALSE(reports.Last().percentValid);
}

TEST_F(AgentTest, DeclinedResponseYieldsNothing)
{
    RecordingAgent agent;
    agent.accept = false;
    std::string body;
    EXPECT_EQ(agent.FetchText(HttpUrl("/gen/10/" + token), {}, &body), S_OK);
    EXPECT_EQ(body, "");
    Reports reports;
    EXPECT_EQ(agent.DownloadFile(HttpUrl("/status/404/" + token), file.c_str(), reports.Fn(), 0), S_OK);
    EXPECT_TRUE(reports.all.empty());
    EXPECT_EQ(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(agent.statuses, (std::vector<DWORD>{200, 404}));
}

TEST_F(AgentTest, HttpsTrustsTheTestRootAndIgnoresCertErrorsOnlyWithOption1001)
{
    AssistantHttp agent;
    std::string body;
    ASSERT_EQ(agent.FetchText(HttpsUrl("/echo/" + token + "/trusted"), {}, &body), S_OK);
    EXPECT_EQ(body, "/echo/" + token + "/trusted");

    Velmora::Options().Set(Velmora::kOptionIgnoreCertErrors, 0);
    EXPECT_TRUE(FAILED(agent.FetchText(UntrustedUrl("/echo/" + token + "/a"), {}, &body)));
    EXPECT_FALSE(agent.IgnoreCertErrors);

    Velmora::Options().Set(Velmora::kOptionIgnoreCertErrors, 1);
    const HRESULT relaxed = agent.FetchText(UntrustedUrl("/echo/" + token + "/b"), {}, &body);
    Velmora::Options().Set(Velmora::kOptionIgnoreCertErrors, 0);
    EXPECT_EQ(relaxed, S_OK);
    EXPECT_TRUE(agent.IgnoreCertErrors);
    EXPECT_EQ(body, "/echo/" + token + "/b");
    EXPECT_EQ(RequestsWith(token + "/a").size(), 0u); // the rejected request never got through
}

TEST(ProcessAgentTest, OneInstanceForTheProcess)
{
    AssistantHttp& first = ProcessAgent();
    EXPECT_EQ(&first, &ProcessAgent());
    EXPECT_EQ(first.OpenStatus(), S_OK);
}

} // namespace

namespace {

// Sets the user's browser proxy settings for as long as it lives, restoring the previous ones.
class UserProxySettings {
public:
    UserProxySettings(DWORD flags, const std::string& proxy, const std::string& autoConfigUrl)
    {
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                          key_.Receive(), nullptr);
        DWORD size = 0;
        if (::RegQueryValueExW(key_.Get(), kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            hadValue_ = ::RegQueryValueExW(key_.Get(), kValue, nullptr, nullptr, saved_.data(), &size) ==
                        ERROR_SUCCESS;
        }
        std::vector<BYTE> blob;
        const auto putDword = [&](DWORD v) {
            for (int i = 0; i < 4; ++i)
                blob.push_back(static_cast<BYTE>(v >> (8 * i)));
        };
        const auto putText = [&](const std::string& text) {
            putDword(static_cast<DWORD>(text.size()));
            blob.insert(blob.end(), text.begin(), text.end());
        };
        putDword(0x46); // settings format version
        putDword(1);    // change counter
        putDword(flags);
        putText(proxy);
        putText("<local>");
        putText(autoConfigUrl);
        blob.resize(blob.size() + 32, 0);
        ::RegSetValueExW(key_.Get(), kValue, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    }
    ~UserProxySettings()
    {
        if (hadValue_)
            ::RegSetValueExW(key_.Get(), kValue, 0, REG_BINARY, saved_.data(),
                             static_cast<DWORD>(saved_.size()));
        else
            ::RegDeleteValueW(key_.Get(), kValue);
    }

private:
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const wchar_t* kValue = L"DefaultConnectionSettings";
    Velmora::ScopedRegKey key_;
    std::vector<BYTE> saved_;
    bool hadValue_ = false;
};

constexpr DWORD kProxyDirect = 1, kProxyNamed = 2, kProxyAutoConfigUrl = 4;

TEST_F(AgentTest, StaticProxyFromTheUsersSettingsCarriesTheRequests)
{
    std::unique_ptr<AssistantHttp> agent;
    {
        // The agent reads the settings once, when it is made; other users of this prefix get the
        // old settings back straight away.
        UserProxySettings proxy(kProxyDirect | kProxyNamed,
                                "127.0.0.1:" + std::to_string(TheServers().httpPort), "");
        agent = std::make_unique<AssistantHttp>();
    }
    std::string body;
    ASSERT_EQ(agent->FetchText(L"http://bank.invalid/echo/" + Velmora::Utf8ToWide(token) + L"/doc.xml?q=1",
                               {}, &body),
              S_OK);
    // A proxy gets the absolute URL (the port may be spelt out), still without the query.
    EXPECT_EQ(body.rfind("http://bank.invalid", 0), 0u) << body;
    const std::string tail = "/echo/" + token + "/doc.xml";
    EXPECT_TRUE(body.size() > tail.size() && body.compare(body.size() - tail.size(), tail.size(), tail) == 0)
        << body;
    const auto requests = RequestsWith(token);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Host"), "bank.invalid");
}

TEST_F(AgentTest, AutoConfigurationScriptIsResolvedForEachRequest)
{
    std::unique_ptr<AssistantHttp> agent;
    {
        const std::string port = std::to_string(TheServers().httpPort);
        UserProxySettings proxy(kProxyDirect | kProxyAutoConfigUrl, "",
                                "http://127.0.0.1:" + port + "/pac/" + port + "/" + token + ".pac");
        agent = std::make_unique<AssistantHttp>();
    }
    // The script names the test server itself as the proxy, so the request arrives either way
    // (Wine resolves the script but does not apply a per-request proxy).
    std::string body;
    ASSERT_EQ(agent->FetchText(HttpUrl("/echo/" + token + "/a"), {}, &body), S_OK);
    EXPECT_NE(body.find("/echo/" + token + "/a"), std::string::npos);
    EXPECT_FALSE(RequestsWith(token + ".pac").empty());
}

} // namespace
