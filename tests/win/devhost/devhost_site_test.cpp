// Winsock's header must come before windows.h, which the others bring in.
#include "common/winsock_win.h"

#include "common/text_win.h"
#include "common/variant_win.h"
#include "devhost/devhost_site_win.h"
#include "devhost/loopback_server_win.h"
#include "devhost/remote_page_win.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace Velmora::DevHost;
using Velmora::UI::ScopedVariant;

namespace {

const Velmora::WinsockSession g_winsock; // for the test's clients

// A client's connection to 127.0.0.1:`port`; a read waits at most `wait`.
class Client {
public:
    Client(int port, std::chrono::milliseconds wait = std::chrono::seconds(30))
        : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        const DWORD timeout = static_cast<DWORD>(wait.count());
        ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                     sizeof timeout);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(port));
        connected_ =
            ::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }

    bool Connected() const { return connected_; }
    void Put(const std::string& bytes)
    {
        ::send(socket_.Get(), bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    // Everything until the host closes the connection (or the wait runs out).
    std::string ReadToEnd()
    {
        std::string received;
        char buffer[4096];
        for (int got; (got = ::recv(socket_.Get(), buffer, sizeof buffer, 0)) > 0;)
            received.append(buffer, static_cast<std::size_t>(got));
        return received;
    }
    // True when the host has closed the connection by now (without waiting).
    bool ClosedByHost()
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_.Get(), &readable);
        timeval now = {0, 0};
        char byte;
        return ::select(0, &readable, nullptr, nullptr, &now) == 1 &&
               ::recv(socket_.Get(), &byte, 1, MSG_PEEK) == 0;
    }

private:
    Velmora::ScopedSocket socket_;
    bool connected_ = false;
};

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
        {"-0.0", VT_R8, "-0.0"},
        {"1e3", VT_I4, "1000"},
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
        VariantFromWire(*ParseWireJson(c.wire), value.Ptr());
        EXPECT_EQ(value.Type(), c.type) << c.wire;
        EXPECT_EQ(WireJsonText(WireFromVariant(value.Get())), c.back) << c.wire;
    }
    ScopedVariant text;
    VariantFromWire(*ParseWireJson(R"("\u7f51\u0000x")"), text.Ptr());
    EXPECT_EQ(::SysStringLen(text.Get().bstrVal), 3u) << "an embedded NUL stays";
    EXPECT_EQ(WireJsonText(WireFromVariant(ScopedVariant::Unsigned(4294967295u).Get())), "4294967295");
    EXPECT_EQ(WireJsonText(WireFromVariant(ScopedVariant::Bool(false).Get())), "false");
}

struct Reply {
    int status = 0;
    std::string head; // status line and headers
    std::string body;
};

Reply ReplyOf(const std::string& received)
{
    Reply reply;
    if (received.rfind("HTTP/1.1 ", 0) == 0)
        reply.status = std::stoi(received.substr(9, 3));
    const std::size_t body = received.find("\r\n\r\n");
    reply.head = received.substr(0, body);
    if (body != std::string::npos)
        reply.body = received.substr(body + 4);
    return reply;
}

// One request on a connection of its own, read until the host closes it.
Reply Send(int port, const std::string& request)
{
    Client client(port);
    if (!client.Connected())
        return {};
    client.Put(request);
    return ReplyOf(client.ReadToEnd());
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
        ready_ = server_.Start(
                     0, [this](const HttpRequest& head) { return site_.Screen(head); },
                     [this](const HttpRequest& r) { return site_.Serve(r); }) == 0;
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
    Json PollOne(const std::string& answers = "[]")
    {
        for (int i = 0; i < 100; ++i) {
            const Reply reply = Post("poll", R"({"page":"p1","answers":)" + answers + "}");
            const std::optional<Json> requests = ParseWireJson(reply.body);
            if (requests && requests->is_array() && !requests->empty())
                return (*requests)[0];
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
    EXPECT_EQ(Get("", "localhost:" + std::to_string(port_)).status, 403) << "only the address it listens on";
    EXPECT_EQ(Send(port_, "garbage\r\n\r\n").status, 400);

    // Every answer, refusals included, keeps the token out of other sites' Referer.
    for (const Reply& reply : {index, css, Get("css/missing.css"), Get("", "evil.example")})
        EXPECT_NE(reply.head.find("\r\nReferrer-Policy: no-referrer"), std::string::npos) << reply.head;
}

TEST_F(DevHostSiteTest, ALengthItWillNotReadIsRefusedBeforeTheBodyAndTheHostGoesOn)
{
    const struct {
        std::string length;
        int status;
    } cases[] = {
        {"9999999999", 413},           // beyond 32 bits, where Windows' unsigned long ends
        {"99999999999999999999", 413}, // beyond 64 bits
        {"8388609", 413},
        {"1, 1", 400}, // given twice
        {"-1", 400},
    };
    for (const auto& c : cases) {
        // Sent with a token that is not the host's: the length is refused before the token is read
        // and before any body; the connection ends with the answer, although nothing says close.
        const std::string head = "POST /" + std::string(32, 'f') +
                                 "/~host/callc HTTP/1.1\r\nHost: " + Host() +
                                 "\r\nContent-Length: " + c.length + "\r\n\r\n";
        Client client(port_);
        ASSERT_TRUE(client.Connected());
        client.Put(head + "GET /" + kToken + "/ HTTP/1.1\r\nHost: " + Host() + "\r\n\r\n");
        const Reply reply = ReplyOf(client.ReadToEnd());
        EXPECT_EQ(reply.status, c.status) << c.length;
        EXPECT_EQ(reply.body.find("HTTP/1.1"), std::string::npos)
            << "what follows a refused head is not served";
        EXPECT_NE(reply.head.find("\r\nConnection: close"), std::string::npos) << reply.head;
    }
    EXPECT_EQ(Post("callc", R"({"args":["echo",3]})").body, R"({"done":true,"result":3})");
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
    const Json progress = PollOne();
    EXPECT_EQ(TextOf(progress, "name"), "setProgress");
    const std::string progressId = WireJsonText(progress["id"]);
    const Json callback = PollOne(R"([{"id":)" + progressId + R"(,"ok":true}])");
    EXPECT_EQ(TextOf(callback, "op"), "callback");
    EXPECT_EQ(TextOf(callback, "callback"), "p1:0");
    EXPECT_EQ(WireJsonText(callback["args"]), "[42]") << "the worker had the page's answer";
    // The callback's answer lets the worker end.
    Post("poll", R"({"page":"p1","answers":[{"id":)" + WireJsonText(callback["id"]) + R"(,"ok":true}]})");
}

// A server of its own with small limits: `workers` workers, one connection waiting, a second's idle
// and receive time.
class LimitedServer {
public:
    explicit LimitedServer(std::size_t workers)
    {
        ServerLimits limits;
        limits.workers = workers;
        limits.waiting = 1;
        limits.idle = std::chrono::seconds(1);
        limits.receive = std::chrono::seconds(1);
        limits.send = std::chrono::seconds(1);
        started_ = server_.Start(
                       0, nullptr,
                       [](const HttpRequest&) {
                           HttpResponse response;
                           response.contentType = "text/plain";
                           response.body = "served";
                           return response;
                       },
                       limits) == 0;
    }
    bool Started() const { return started_; }
    int Port() const { return server_.Port(); }

private:
    LoopbackServer server_;
    bool started_ = false;
};

TEST(DevHostServer, ASilentOrStalledClientIsLetGoAndOthersAreServedMeanwhile)
{
    LimitedServer server(3);
    ASSERT_TRUE(server.Started());
    Client silent(server.Port());
    Client stalled(server.Port());
    stalled.Put("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"); // a head that never ends
    EXPECT_EQ(Send(server.Port(), "GET / HTTP/1.1\r\nConnection: close\r\n\r\n").body, "served");
    EXPECT_EQ(silent.ReadToEnd(), "") << "closed without an answer";
    EXPECT_TRUE(stalled.ReadToEnd().find("HTTP/1.1 200") == std::string::npos);
    EXPECT_TRUE(silent.ClosedByHost());
    EXPECT_TRUE(stalled.ClosedByHost());
}

TEST(DevHostServer, MoreConnectionsThanTheWorkersWaitTheirTurn)
{
    LimitedServer server(2);
    ASSERT_TRUE(server.Started());
    // Both workers and the one waiting place taken by clients that say nothing.
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(std::make_unique<Client>(server.Port()));
        ASSERT_TRUE(idle.back()->Connected());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // all three accepted
    Client late(server.Port());
    ASSERT_TRUE(late.Connected()) << "the system queues the connection";
    late.Put("GET / HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(ReplyOf(late.ReadToEnd()).body, "served");
    // Served only once a worker was free: the first two silent clients had been let go by then.
    EXPECT_TRUE(idle[0]->ClosedByHost());
    EXPECT_TRUE(idle[1]->ClosedByHost());
}

} // namespace
