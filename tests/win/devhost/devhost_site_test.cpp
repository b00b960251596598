// Winsock's header must come before windows.h, which the others bring in.
#include <winsock2.h>

#include "common/text_win.h"
#include "devhost/devhost_site_win.h"
#include "devhost/loopback_server_win.h"
#include "devhost/remote_page_win.h"
#include "ui/variant_win.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace Velmora::DevHost;
using Velmora::UI::ScopedVariant;

namespace {

constexpr char kToken[] = "00112233445566778899aabbccddeeff";

TEST(DevHostValues, CrossAsTheScriptEngineWouldPassThem)
{
    const struct {
        const char* wire;
        VARTYPE type;
        const char* back; // the wire text native code sends for the value
    } cases[] = {
        {"5", VT_I4, "5"},
        {"-2147483648", VT_I4, "-2147483648"},
        {"2147483648", VT_R8, "2147483648"},
        {"1.5", VT_R8, "1.5"},
        {"-0", VT_R8, "-0"},
        {"true", VT_BOOL, "true"},
        {"null", VT_NULL, "null"},
        {R"("\u7f51\u0000x")", VT_BSTR, R"("网\u0000x")"},
        {R"("\ud83d\ude00")", VT_BSTR, "\"\xF0\x9F\x98\x80\""},
        {R"({"$":"undefined"})", VT_EMPTY, R"({"$":"undefined"})"},
        {R"({"$":"object"})", VT_EMPTY, R"({"$":"undefined"})"},
        {"[1]", VT_EMPTY, R"({"$":"undefined"})"},
    };
    for (const auto& c : cases) {
        ScopedVariant value;
        VariantFromWire(*ParseJson(c.wire), value.Ptr());
        EXPECT_EQ(value.Type(), c.type) << c.wire;
        EXPECT_EQ(WriteJson(WireFromVariant(value.Get())), c.back) << c.wire;
    }
    ScopedVariant text;
    VariantFromWire(*ParseJson(R"("\u7f51\u0000x")"), text.Ptr());
    EXPECT_EQ(::SysStringLen(text.Get().bstrVal), 3u) << "an embedded NUL stays";
    EXPECT_EQ(WriteJson(WireFromVariant(ScopedVariant::Unsigned(4294967295u).Get())), "4294967295");
    EXPECT_EQ(WriteJson(WireFromVariant(ScopedVariant::Bool(false).Get())), "false");
}

struct Reply {
    int status = 0;
    std::string body;
};

// One request on a connection of its own, read until the host closes it.
Reply Send(int port, const std::string& request)
{
    ScopedSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return {};
    ::send(client.Get(), request.data(), static_cast<int>(request.size()), 0);
    std::string received;
    char buffer[4096];
    for (int got; (got = ::recv(client.Get(), buffer, sizeof buffer, 0)) > 0;)
        received.append(buffer, static_cast<std::size_t>(got));
    Reply reply;
    if (received.rfind("HTTP/1.1 ", 0) == 0)
        reply.status = std::stoi(received.substr(9, 3));
    const std::size_t body = received.find("\r\n\r\n");
    if (body != std::string::npos)
        reply.body = received.substr(body + 4);
    return reply;
}

std::string FileText(const std::string& name)
{
    std::ifstream in(std::string(VELMORA_DEVHOST_TEST_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The host under test: one for the whole run, never destroyed, since a worker it started may still
// be on its way out when a test ends.
class SiteUnderTest {
public:
    SiteUnderTest()
    {
        ready_ = winsock_.Ready() &&
                 server_.Start(0, [this](const HttpRequest& r) { return site_.Serve(r); }) == 0;
        port_ = server_.Port();
        site_.SetAccessRule({kToken, port_});
    }
    bool Ready() const { return ready_; }
    int Port() const { return port_; }

private:
    // The test's command set: "echo" answers its argument; "ask_page" asks the page, as get_config
    // does with setItemInfo; "worker" asks the page from the worker it runs on and answers 42.
    static void Handle(Velmora::UI::IBSDialog* page, const VARIANT& name, const VARIANT& a1, VARIANT* result)
    {
        const std::wstring command(Velmora::UI::StringOf(name));
        if (command == L"echo") {
            ::VariantCopy(result, const_cast<VARIANT*>(&a1));
            return;
        }
        if (command != L"ask_page" && command != L"worker")
            return;
        ScopedVariant index = ScopedVariant::Int(0), field = ScopedVariant::String(L"name"),
                      text = ScopedVariant::String(L"网银");
        // Automation order: the last parameter first.
        VARIANT args[3] = {text.Get(), field.Get(), index.Get()};
        ScopedVariant answer;
        const HRESULT hr =
            page->CallScript(command == L"worker" ? L"setProgress" : L"setItemInfo", args, 3, answer.Ptr());
        if (command == L"worker") {
            ScopedVariant::Int(SUCCEEDED(hr) ? 42 : -1).MoveTo(result);
            return;
        }
        const std::wstring said = SUCCEEDED(hr) && Velmora::UI::IsString(answer.Get())
                                      ? std::wstring(Velmora::UI::StringOf(answer.Get()))
                                      : L"nothing";
        ScopedVariant::String(L"page said " + said).MoveTo(result);
    }

    WinsockSession winsock_;
    PageChannel channel_{ChannelTimes{std::chrono::milliseconds(200), std::chrono::seconds(20)}};
    DevHostSite site_{channel_, [](Velmora::UI::IBSDialog* page, const VARIANT& name, const VARIANT& a1,
                                   const VARIANT&, const VARIANT&, const VARIANT&,
                                   VARIANT* result) { Handle(page, name, a1, result); }};
    LoopbackServer server_;
    bool ready_ = false;
    int port_ = 0;
};

class DevHostSiteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static SiteUnderTest* site = new SiteUnderTest();
        ASSERT_TRUE(site->Ready());
        port_ = site->Port();
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

    Reply Get(const std::string& path, const std::string& host = {})
    {
        return Send(port_, "GET /" + std::string(kToken) + "/" + path + " HTTP/1.1\r\nHost: " +
                               (host.empty() ? Host() : host) + "\r\nConnection: close\r\n\r\n");
    }
    Reply Post(const std::string& route, const std::string& body, const std::string& origin = {},
               const std::string& token = kToken)
    {
        return Send(port_, "POST /" + token + "/~host/" + route + " HTTP/1.1\r\nHost: " + Host() +
                               "\r\nOrigin: " + (origin.empty() ? "http://" + Host() : origin) +
                               "\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\nConnection: close\r\n\r\n" + body);
    }
    // The page's poll until it brings a request.
    JsonValue PollOne(const std::string& answers = "[]")
    {
        for (int i = 0; i < 100; ++i) {
            const Reply reply = Post("poll", R"({"page":"p1","answers":)" + answers + "}");
            const std::optional<JsonValue> requests = ParseJson(reply.body);
            if (requests && requests->IsArray() && !requests->Items().empty())
                return requests->Items()[0];
        }
        return {};
    }

    int port_ = 0;
};

TEST_F(DevHostSiteTest, ServesThePageFilesAsCarriedAndRefusesStrangers)
{
    const std::string page = FileText("page.html");
    const Reply index = Get("");
    EXPECT_EQ(index.status, 200);
    EXPECT_EQ(index.body, PageWithHostScript(page));
    EXPECT_NE(index.body, page) << "the host script is added";
    EXPECT_EQ(Get("index.html").body, index.body);
    const Reply css = Get("css/main.css");
    EXPECT_EQ(css.status, 200);
    EXPECT_EQ(css.body, FileText("page.css")) << "the same bytes as the resource";
    EXPECT_EQ(Get("~host/external.js").body, FileText("host.js"));

    EXPECT_EQ(Get("css/missing.css").status, 404);
    EXPECT_EQ(Get("css/../index.html").status, 404);
    EXPECT_EQ(Get("", "evil.example:" + std::to_string(port_)).status, 403);
    EXPECT_EQ(Send(port_, "GET /" + std::string(32, '0') + "/ HTTP/1.1\r\nHost: " + Host() +
                              "\r\nConnection: close\r\n\r\n")
                  .status,
              403);
    EXPECT_EQ(Post("callc", R"({"args":["echo",1]})", "http://evil.example").status, 403);
    EXPECT_EQ(Post("callc", R"({"args":["echo",1]})", {}, std::string(32, 'f')).status, 403);
    EXPECT_EQ(Post("callc", "{not json").status, 400);
    EXPECT_EQ(Post("nothing", "{}").status, 404);
    EXPECT_EQ(Get("~host/callc").status, 405);
    EXPECT_EQ(Send(port_, "POST /" + std::string(kToken) + "/~host/callc HTTP/1.1\r\nHost: " + Host() +
                              "\r\nContent-Length: 999999999\r\n\r\n")
                  .status,
              413);
    EXPECT_EQ(Send(port_, "garbage\r\n\r\n").status, 400);
}

TEST_F(DevHostSiteTest, CommandsReachTheHandlerAndThePageAnswersNativeCode)
{
    EXPECT_EQ(Post("callc", R"({"args":["echo",7]})").body, R"({"done":true,"result":7})");
    EXPECT_EQ(Post("callc", R"({"args":["echo","网"]})").body, R"({"done":true,"result":"网"})");

    // A page function called while the synchronous command runs comes back as its step.
    const Reply step = Post("callc", R"({"args":["ask_page"]})");
    EXPECT_EQ(step.body, R"({"op":{"args":[0,"name","网银"],"name":"setItemInfo","op":"call"}})");
    EXPECT_EQ(Post("callc", R"({"args":["echo",1]})").status, 409) << "one synchronous command at a time";
    EXPECT_EQ(Post("step", R"({"ok":true,"result":"fine"})").body,
              R"({"done":true,"result":"page said fine"})");
    EXPECT_EQ(Post("step", R"({"ok":true})").status, 409) << "no step waits";

    // An asynchronous command: its worker's page call and then its callback arrive by the poll,
    // each answered with the next poll.
    EXPECT_EQ(Post("asyncalld", R"({"args":["worker"],"callback":"p1:0"})").body, "{}");
    const JsonValue progress = PollOne();
    EXPECT_EQ(progress.TextOf("name"), "setProgress");
    const std::string progressId = WriteJson(*progress.Find("id"));
    const JsonValue callback = PollOne(R"([{"id":)" + progressId + R"(,"ok":true}])");
    EXPECT_EQ(callback.TextOf("op"), "callback");
    EXPECT_EQ(callback.TextOf("callback"), "p1:0");
    EXPECT_EQ(WriteJson(*callback.Find("args")), "[42]") << "the worker had the page's answer";
    // The callback's answer lets the worker end.
    Post("poll", R"({"page":"p1","answers":[{"id":)" + WriteJson(*callback.Find("id")) + R"(,"ok":true}]})");
}

} // namespace
