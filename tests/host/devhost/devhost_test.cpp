#include "devhost/devhost_options.h"
#include "devhost/http_message.h"
#include "devhost/json_value.h"
#include "devhost/page_channel.h"
#include "devhost/request_rules.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace Velmora::DevHost;
using namespace std::chrono_literals;

namespace {

TEST(DevHostJson, ReadsExactlyWhatJsonAllowsAndWritesItBack)
{
    struct Case {
        std::string text;
        const char* written; // nullptr: not JSON
    };
    const std::vector<Case> cases = {
        {R"( {"b":[1,-2.5,1e3,true,false,null],"a":"x"} )", R"({"a":"x","b":[1,-2.5,1000,true,false,null]})"},
        {R"("\u00e9\ud83d\ude00\n\"\\\/")", "\"\xC3\xA9\xF0\x9F\x98\x80\\u000a\\\"\\\\/\""},
        {R"({"k":1,"k":2})", R"({"k":2})"}, // the later duplicate wins
        {"[]", "[]"},
        {"\"\xE7\xBD\x91\"", "\"\xE7\xBD\x91\""},
        {"0.1", "0.10000000000000001"},
        {"-0", "-0"},
        {"", nullptr},
        {"[1,]", nullptr},
        {"{\"a\" 1}", nullptr},
        {"01", nullptr},
        {"1.", nullptr},
        {".5", nullptr},
        {"+1", nullptr},
        {"1 2", nullptr},
        {"tru", nullptr},
        {"\"\t\"", nullptr},      // a raw control character
        {R"("\ud83d")", nullptr}, // a lone high surrogate
        {R"("\ude00")", nullptr}, // a lone low surrogate
        {R"("\x")", nullptr},
        {"\"\xC0\xAF\"", nullptr},     // an overlong sequence
        {"\"\xED\xA0\x80\"", nullptr}, // a surrogate in UTF-8
        {"\"\xE7\xBD\"", nullptr},     // cut short
        {"{\"a\":1", nullptr},
        {"'a'", nullptr},
        {"NaN", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<JsonValue> value = ParseJson(c.text);
        if (!c.written) {
            EXPECT_FALSE(value) << c.text;
            continue;
        }
        ASSERT_TRUE(value) << c.text;
        EXPECT_EQ(WriteJson(*value), c.written) << c.text;
    }
    std::string deep(kMaxJsonDepth, '[');
    deep += std::string(kMaxJsonDepth, ']');
    EXPECT_TRUE(ParseJson(deep));
    EXPECT_FALSE(ParseJson("[" + deep + "]")) << "nesting beyond the bound";
    EXPECT_FALSE(ParseJson(std::string(100000, '['))) << "no stack exhaustion";
}

HttpRequest Parsed(const std::string& text, ParseOutcome expected, std::size_t* consumed = nullptr)
{
    HttpRequest request;
    std::size_t used = 0;
    EXPECT_EQ(ParseHttpRequest(text, &request, &used), expected) << text;
    if (consumed)
        *consumed = used;
    return request;
}

TEST(DevHostHttp, ReadsRequestsInTurnAndRefusesAmbiguousOrOversizedOnes)
{
    std::size_t consumed = 0;
    const std::string two = "POST /t/~host/callc HTTP/1.1\r\nHost: 127.0.0.1:80\r\nContent-Length: 5\r\n"
                            "Content-Type: application/json\r\n\r\n[1,2]GET / HTTP/1.0\r\n\r\n";
    const HttpRequest first = Parsed(two, ParseOutcome::Complete, &consumed);
    EXPECT_EQ(first.method, "POST");
    EXPECT_EQ(first.target, "/t/~host/callc");
    EXPECT_EQ(first.Header("host"), "127.0.0.1:80");
    EXPECT_EQ(first.Header("content-type"), "application/json");
    EXPECT_EQ(first.body, "[1,2]");
    EXPECT_TRUE(first.keepAlive);
    const HttpRequest second = Parsed(two.substr(consumed), ParseOutcome::Complete);
    EXPECT_EQ(second.method, "GET");
    EXPECT_FALSE(second.keepAlive) << "HTTP/1.0 closes unless asked otherwise";
    EXPECT_FALSE(Parsed("GET / HTTP/1.1\r\nConnection: close\r\n\r\n", ParseOutcome::Complete).keepAlive);

    const struct {
        std::string text;
        ParseOutcome outcome;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: a", ParseOutcome::Incomplete},
        {"POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nab", ParseOutcome::Incomplete},
        {"GET / HTTP/2\r\n\r\n", ParseOutcome::Bad},
        {"GET  HTTP/1.1\r\n\r\n", ParseOutcome::Bad},
        {"GET http://x/ HTTP/1.1\r\n\r\n", ParseOutcome::Bad},
        {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", ParseOutcome::Bad},
        {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", ParseOutcome::Bad},
        {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", ParseOutcome::Bad},
        {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", ParseOutcome::Bad},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", ParseOutcome::Bad},
        {"POST / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n", ParseOutcome::Bad},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", ParseOutcome::Unsupported},
        {"POST / HTTP/1.1\r\nContent-Length: " + std::to_string(kMaxRequestBody + 1) + "\r\n\r\n",
         ParseOutcome::TooLarge},
        {"GET / HTTP/1.1\r\nX: " + std::string(kMaxRequestHead, 'a'), ParseOutcome::TooLarge},
    };
    for (const auto& c : cases)
        Parsed(c.text, c.outcome);

    HttpResponse response;
    response.contentType = "text/plain";
    response.body = "abc";
    EXPECT_EQ(
        SerializeResponse(response, false),
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\nCache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\nabc");
}

TEST(DevHostRules, AdmitsOnlyThisLoopbackHostWithItsTokenAndNamesThePageFiles)
{
    const AccessRule rule{"0123abcd", 8123};
    const struct {
        std::string host, origin, target;
        int status;
        const char* path;
    } cases[] = {
        {"127.0.0.1:8123", "", "/0123abcd/", 0, ""},
        {"localhost:8123", "http://localhost:8123", "/0123abcd/js/main.js?x=1", 0, "js/main.js"},
        {"LOCALHOST:8123", "http://127.0.0.1:8123", "/0123abcd/~host/poll", 0, "~host/poll"},
        {"127.0.0.1:8123", "", "/0123abcd", 403, ""},
        {"127.0.0.1:8123", "", "/0123abce/", 403, ""},
        {"127.0.0.1:8123", "", "/0123abcdx/", 403, ""},
        {"127.0.0.1:8123", "", "/", 403, ""},
        {"127.0.0.1:8124", "", "/0123abcd/", 403, ""},
        {"evil.example:8123", "", "/0123abcd/", 403, ""}, // DNS rebinding
        {"127.0.0.1.evil:8123", "", "/0123abcd/", 403, ""},
        {"", "", "/0123abcd/", 403, ""},
        {"127.0.0.1:8123", "http://evil.example", "/0123abcd/~host/callc", 403, ""},
        {"127.0.0.1:8123", "null", "/0123abcd/~host/callc", 403, ""},
        {"127.0.0.1:8123", "https://127.0.0.1:8123", "/0123abcd/", 403, ""},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        request.target = c.target;
        if (!c.host.empty())
            request.headers["host"] = c.host;
        if (!c.origin.empty())
            request.headers["origin"] = c.origin;
        const Admission admission = AdmitRequest(request, rule);
        EXPECT_EQ(admission.status, c.status) << c.host << " " << c.origin << " " << c.target;
        if (c.status == 0) {
            EXPECT_EQ(admission.path, c.path) << c.target;
        }
    }
    HttpRequest any;
    any.target = "//";
    any.headers["host"] = "127.0.0.1:0";
    EXPECT_EQ(AdmitRequest(any, AccessRule{"", 0}).status, 403) << "no token, no admission";

    const struct {
        std::string path;
        int typeId, nameId;
        const char *type, *name, *contentType;
    } files[] = {
        {"", 23, 200, "", "", "text/html; charset=utf-8"},
        {"index.html", 23, 200, "", "", "text/html; charset=utf-8"},
        {"css/main.css", 0, 0, "CSS", "MAIN.CSS", "text/css; charset=utf-8"},
        {"js/jquery.min.js", 0, 0, "JS", "JQUERY.MIN.JS", "text/javascript; charset=utf-8"},
        {"images/True.png", 0, 0, "IMAGES", "TRUE.PNG", "image/png"},
    };
    for (const auto& f : files) {
        const std::optional<ResourceName> resource = PageResourceFor(f.path);
        ASSERT_TRUE(resource) << f.path;
        EXPECT_EQ(resource->typeId, f.typeId) << f.path;
        EXPECT_EQ(resource->nameId, f.nameId) << f.path;
        EXPECT_EQ(resource->type, f.type) << f.path;
        EXPECT_EQ(resource->name, f.name) << f.path;
        EXPECT_EQ(resource->contentType, f.contentType) << f.path;
    }
    for (const char* outside : {"js/../index.html", "js/..", "js/", "js/a/b.js", "fonts/a.ttf", "main.css",
                                "js/.hidden", "js/a%2e.js", "js/a\\b.js", "js/a b.js", "~host"})
        EXPECT_FALSE(PageResourceFor(outside)) << outside;

    const std::string tag = "<script type=\"text/javascript\" src=\"~host/external.js\"></script>";
    EXPECT_EQ(PageWithHostScript("<!DOCTYPE html><html><HEAD lang=x><meta>"),
              "<!DOCTYPE html><html><HEAD lang=x>" + tag + "<meta>");
    EXPECT_EQ(PageWithHostScript("<header></header><head><title>"),
              "<header></header><head>" + tag + "<title>");
    EXPECT_EQ(PageWithHostScript("<p>no head"), tag + "<p>no head");

    const unsigned char bytes[16] = {0x00, 0x01, 0xAB, 0xFF, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x9C};
    EXPECT_EQ(TokenFromBytes(bytes), "0001abff10000000000000000000009c");
}

TEST(DevHostOptions, ReadsPortAndDocumentAndRefusesTheRest)
{
    const struct {
        std::vector<std::wstring> args;
        int port;
        const wchar_t* config;
        bool help, error;
    } cases[] = {
        {{}, 0, L"", false, false},
        {{L"--port", L"8123", L"--config", L"https://b/x.xml"}, 8123, L"https://b/x.xml", false, false},
        {{L"--help"}, 0, L"", true, false},
        {{L"--port", L"65536"}, 0, L"", false, true},
        {{L"--port", L"-1"}, 0, L"", false, true},
        {{L"--port", L"80a"}, 0, L"", false, true},
        {{L"--port"}, 0, L"", false, true},
        {{L"--config", L""}, 0, L"", false, true},
        {{L"/fix"}, 0, L"", false, true},
    };
    for (const auto& c : cases) {
        const DevHostOptions options = ParseDevHostArguments(c.args);
        EXPECT_EQ(!options.error.empty(), c.error) << c.args.size();
        if (c.error)
            continue;
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.config, c.config);
        EXPECT_EQ(options.help, c.help);
    }
}

JsonValue Answer(double id, bool ok, JsonValue result = {})
{
    return JsonValue::Object(
        {{"id", JsonValue::Number(id)}, {"ok", JsonValue::Bool(ok)}, {"result", result}});
}

JsonValue Call(const char* name)
{
    return JsonValue::Object({{"op", JsonValue::String("call")}, {"name", JsonValue::String(name)}});
}

// Polls as the page does until `count` requests have been taken (answers none).
std::vector<JsonValue> Take(PageChannel& channel, const std::string& page, std::size_t count)
{
    std::vector<JsonValue> taken;
    while (taken.size() < count) {
        const JsonValue polled = channel.Poll(page, JsonValue::Array());
        for (const JsonValue& r : polled.Items())
            taken.push_back(r);
    }
    return taken;
}

TEST(DevHostChannel, WorkersWaitForThePageAndGetItsAnswersThroughThePoll)
{
    PageChannel channel(ChannelTimes{100ms, 5s});
    EXPECT_TRUE(channel.Poll("p1", JsonValue::Array()).Items().empty())
        << "nothing asked: the poll times out";

    auto first = std::async(std::launch::async, [&] { return channel.Perform(Call("setProgress")); });
    auto second = std::async(std::launch::async, [&] { return channel.Perform(Call("setItemInfo")); });
    const std::vector<JsonValue> taken = Take(channel, "p1", 2);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout) << "no answer before the page gives one";
    const JsonValue* id0 = taken[0].Find("id");
    const JsonValue* id1 = taken[1].Find("id");
    ASSERT_TRUE(id0 && id1);
    const bool firstIsProgress = taken[0].TextOf("name") == "setProgress";
    // An answer for a request this page was not given, and one from another page, change nothing.
    channel.Poll("p1", JsonValue::Array({Answer(999, true)}));
    EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout);
    channel.Poll("p1", JsonValue::Array({Answer(id0->NumberValue(), true, JsonValue::Number(7)),
                                         Answer(id1->NumberValue(), false)}));
    const PageAnswer progress = first.get(), info = second.get();
    EXPECT_EQ(progress.ok, firstIsProgress);
    EXPECT_EQ(info.ok, !firstIsProgress);
    EXPECT_EQ((firstIsProgress ? progress : info).result.NumberValue(), 7);

    // A page that reloads drops what the old one was given: its worker goes on without an answer.
    auto orphan = std::async(std::launch::async, [&] { return channel.Perform(Call("onkeyPlugined")); });
    const JsonValue given = Take(channel, "p1", 1)[0];
    channel.Poll("p2", JsonValue::Array({Answer(given.Find("id")->NumberValue(), true)}));
    EXPECT_FALSE(orphan.get().ok);
}

TEST(DevHostChannel, APageThatIsGoneOrAClosedChannelReleasesEveryWaiter)
{
    {
        PageChannel channel(ChannelTimes{50ms, 300ms});
        channel.Poll("p", JsonValue::Array());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(channel.Perform(Call("setProgress")).ok) << "nobody polls any more";
        EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms)
            << "a page that polled recently is waited for";
    }
    PageChannel channel(ChannelTimes{10s, 10s});
    auto waiting = std::async(std::launch::async, [&] { return channel.Perform(Call("setProgress")); });
    auto poll = std::async(std::launch::async, [&] {
        // Takes the request, then waits in a second poll that only the close ends.
        channel.Poll("p", JsonValue::Array());
        return channel.Poll("p", JsonValue::Array());
    });
    std::this_thread::sleep_for(100ms);
    channel.Close();
    EXPECT_FALSE(waiting.get().ok);
    EXPECT_TRUE(poll.get().Items().empty());
    EXPECT_FALSE(channel.Perform(Call("x")).ok);
    EXPECT_FALSE(channel.BeginCall([] { return JsonValue(); }));
}

TEST(DevHostChannel, ASynchronousCallHandsItsPageRequestsOutAsStepsInOrder)
{
    PageChannel channel(ChannelTimes{50ms, 5s});
    std::atomic<bool> onPageThread{false}, answered{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<JsonValue> seen;
    std::optional<JsonValue> step = channel.BeginCall([&] {
        onPageThread = channel.OnPageThread();
        const PageAnswer a = channel.Perform(Call("setItemInfo"));
        const PageAnswer b = channel.Perform(Call("isAnyKeyConnect"));
        answered = true;
        released.wait();
        return JsonValue::Array({a.result, JsonValue::Bool(b.ok)});
    });
    ASSERT_TRUE(step);
    ASSERT_TRUE(step->Find("op"));
    EXPECT_EQ(step->Find("op")->TextOf("name"), "setItemInfo");
    // Another call while this one runs is refused, and so is an answer nobody waits for.
    EXPECT_FALSE(channel.BeginCall([] { return JsonValue(); }));

    step = channel.ContinueCall(
        JsonValue::Object({{"ok", JsonValue::Bool(true)}, {"result", JsonValue::String("first")}}));
    ASSERT_TRUE(step && step->Find("op"));
    EXPECT_EQ(step->Find("op")->TextOf("name"), "isAnyKeyConnect");
    auto last = std::async(std::launch::async, [&] {
        return channel.ContinueCall(JsonValue::Object({{"ok", JsonValue::Bool(false)}}));
    });
    while (!answered)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(last.wait_for(50ms), std::future_status::timeout) << "the call has not ended yet";
    EXPECT_FALSE(channel.ContinueCall(JsonValue::Object())) << "no step waits for an answer";
    release.set_value();
    step = last.get();
    ASSERT_TRUE(step && step->Find("done"));
    EXPECT_EQ(WriteJson(*step->Find("result")), R"(["first",false])");
    EXPECT_TRUE(onPageThread);

    // The next call may begin, and a worker's request meanwhile still goes through the poll.
    auto worker = std::async(std::launch::async, [&] { return channel.Perform(Call("setProgress")); });
    step = channel.BeginCall([] { return JsonValue::Number(1); });
    ASSERT_TRUE(step && step->Find("done"));
    const JsonValue given = Take(channel, "p", 1)[0];
    channel.Poll("p", JsonValue::Array({Answer(given.Find("id")->NumberValue(), true)}));
    EXPECT_TRUE(worker.get().ok);
}

TEST(DevHostChannel, ACallWhosePageStopsAnsweringRunsToItsEndWithoutIt)
{
    PageChannel channel(ChannelTimes{50ms, 200ms});
    std::atomic<int> failed{0};
    std::optional<JsonValue> step = channel.BeginCall([&] {
        failed += channel.Perform(Call("a")).ok ? 0 : 1;
        failed += channel.Perform(Call("b")).ok ? 0 : 1; // at once: the page is gone
        return JsonValue();
    });
    ASSERT_TRUE(step && step->Find("op"));
    // Nobody answers; the call ends by itself and the next one is taken.
    for (int i = 0; i < 500 && failed < 2; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(failed, 2);
    std::optional<JsonValue> next;
    for (int i = 0; i < 500 && !next; ++i) {
        next = channel.BeginCall([] { return JsonValue::Bool(true); });
        if (!next)
            std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(next && next->Find("done"));
}

} // namespace
