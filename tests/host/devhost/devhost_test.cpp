#include "devhost/devhost_options.h"
#include "devhost/page_channel.h"
#include "devhost/request_rules.h"
#include "devhost/wire_json.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
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
        {R"( {"b":[1,-2.5,1e3,true,false,null],"a":"x"} )",
         R"({"a":"x","b":[1,-2.5,1000.0,true,false,null]})"},
        {R"("\u00e9\ud83d\ude00\n\"\\\/")", "\"\xC3\xA9\xF0\x9F\x98\x80\\n\\\"\\\\/\""},
        {R"({"k":1,"k":2})", R"({"k":2})"}, // the later duplicate wins
        {"[]", "[]"},
        {"\"\xE7\xBD\x91\"", "\"\xE7\xBD\x91\""},
        {"0.1", "0.1"},
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
        const std::optional<Json> value = ParseWireJson(c.text);
        if (!c.written) {
            EXPECT_FALSE(value) << c.text;
            continue;
        }
        ASSERT_TRUE(value) << c.text;
        EXPECT_EQ(WireJsonText(*value), c.written) << c.text;
    }
    std::string deep(kMaxJsonDepth, '[');
    deep += std::string(kMaxJsonDepth, ']');
    EXPECT_TRUE(ParseWireJson(deep));
    EXPECT_FALSE(ParseWireJson("[" + deep + "]")) << "nesting beyond the bound";
    EXPECT_FALSE(ParseWireJson("{\"a\":" + deep + "}")) << "objects count as levels too";
    EXPECT_FALSE(ParseWireJson(std::string(100000, '['))) << "no stack exhaustion";
    // Native text that is not UTF-8 still makes JSON the page can read.
    EXPECT_EQ(WireJsonText(Json{{"t", "a\xFF"}}), "{\"t\":\"a\xEF\xBF\xBD\"}");
    EXPECT_EQ(WireJsonText(Json(std::nan(""))), "null");
}

TEST(DevHostRules, RefusesABodyTheHostDoesNotReadOnItsHeadAlone)
{
    const std::string largest = std::to_string(kMaxRequestBody);
    const struct {
        const char* name;
        std::string value;
        int status;
    } cases[] = {
        {"", "", 0},
        {"content-length", "0", 0},
        {"content-length", largest, 0},
        {"content-length", "000000000000000000000005", 0},
        {"content-length", std::to_string(kMaxRequestBody + 1), 413},
        {"content-length", "9999999999", 413},           // overflows 32 bits
        {"content-length", "99999999999999999999", 413}, // overflows 64 bits
        {"content-length", "", 400},
        {"content-length", "-1", 400},
        {"content-length", "+5", 400},
        {"content-length", "1 2", 400},
        {"content-length", "5, 5", 400}, // given twice
        {"content-length", "0x10", 400},
        {"transfer-encoding", "chunked", 501},
    };
    for (const auto& c : cases) {
        HttpRequest head;
        head.method = "POST";
        if (*c.name)
            head.headers[c.name] = c.value;
        EXPECT_EQ(HeadRefusal(head), c.status) << c.name << ": " << c.value;
    }
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
        {"127.0.0.1:8123", "", "/0123abcd/js/main.js?x=1", 0, "js/main.js"},
        {"127.0.0.1:8123", "http://127.0.0.1:8123", "/0123abcd/~host/poll", 0, "~host/poll"},
        // Only the address it listens on: localhost may name another one (IPv6's loopback).
        {"localhost:8123", "", "/0123abcd/", 403, ""},
        {"127.0.0.1:8123", "http://localhost:8123", "/0123abcd/~host/poll", 403, ""},
        {"[::1]:8123", "", "/0123abcd/", 403, ""},
        {"127.0.0.1:8123, 127.0.0.1:8123", "", "/0123abcd/", 403, ""}, // Host given twice
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

Json Answer(const Json& id, bool ok, Json result = {})
{
    return Json{{"id", id}, {"ok", ok}, {"result", std::move(result)}};
}

Json Call(const char* name)
{
    return Json{{"op", "call"}, {"name", name}};
}

// Polls as the page does until `count` requests have been taken (answers none).
std::vector<Json> Take(PageChannel& channel, const std::string& page, std::size_t count)
{
    std::vector<Json> taken;
    while (taken.size() < count) {
        for (const Json& r : channel.Poll(page, Json::array()))
            taken.push_back(r);
    }
    return taken;
}

TEST(DevHostChannel, WorkersWaitForThePageAndGetItsAnswersThroughThePoll)
{
    PageChannel channel(ChannelTimes{100ms, 5s});
    EXPECT_TRUE(channel.Poll("p1", Json::array()).empty()) << "nothing asked: the poll times out";

    auto first = std::async(std::launch::async, [&] { return channel.Perform(Call("setProgress")); });
    auto second = std::async(std::launch::async, [&] { return channel.Perform(Call("setItemInfo")); });
    const std::vector<Json> taken = Take(channel, "p1", 2);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout) << "no answer before the page gives one";
    const Json* id0 = Member(taken[0], "id");
    const Json* id1 = Member(taken[1], "id");
    ASSERT_TRUE(id0 && id1);
    const bool firstIsProgress = TextOf(taken[0], "name") == "setProgress";
    // An answer for a request this page was not given, one whose id is no integer, and one from
    // another page, change nothing.
    channel.Poll("p1", Json::array({Answer(999, true), Answer(WireJsonText(*id0), true), Answer(0.5, true)}));
    EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout);
    channel.Poll("p1", Json::array({Answer(*id0, true, 7), Answer(*id1, false)}));
    const PageAnswer progress = first.get(), info = second.get();
    EXPECT_EQ(progress.ok, firstIsProgress);
    EXPECT_EQ(info.ok, !firstIsProgress);
    EXPECT_EQ((firstIsProgress ? progress : info).result, Json(7));

    // A page that reloads drops what the old one was given: its worker goes on without an answer.
    auto orphan = std::async(std::launch::async, [&] { return channel.Perform(Call("onkeyPlugined")); });
    const Json given = Take(channel, "p1", 1)[0];
    channel.Poll("p2", Json::array({Answer(given["id"], true)}));
    EXPECT_FALSE(orphan.get().ok);
}

TEST(DevHostChannel, APageThatIsGoneOrAClosedChannelReleasesEveryWaiter)
{
    {
        PageChannel channel(ChannelTimes{50ms, 300ms});
        channel.Poll("p", Json::array());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(channel.Perform(Call("setProgress")).ok) << "nobody polls any more";
        EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms)
            << "a page that polled recently is waited for";
    }
    PageChannel channel(ChannelTimes{10s, 10s});
    auto waiting = std::async(std::launch::async, [&] { return channel.Perform(Call("setProgress")); });
    auto poll = std::async(std::launch::async, [&] {
        // Takes the request, then waits in a second poll that only the close ends.
        channel.Poll("p", Json::array());
        return channel.Poll("p", Json::array());
    });
    std::this_thread::sleep_for(100ms);
    channel.Close();
    EXPECT_FALSE(waiting.get().ok);
    EXPECT_TRUE(poll.get().empty());
    EXPECT_FALSE(channel.Perform(Call("x")).ok);
    EXPECT_FALSE(channel.BeginCall([] { return Json(); }));
}

TEST(DevHostChannel, ASynchronousCallHandsItsPageRequestsOutAsStepsInOrder)
{
    PageChannel channel(ChannelTimes{50ms, 5s});
    std::atomic<bool> onPageThread{false}, answered{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::optional<Json> step = channel.BeginCall([&] {
        onPageThread = channel.OnPageThread();
        const PageAnswer a = channel.Perform(Call("setItemInfo"));
        const PageAnswer b = channel.Perform(Call("isAnyKeyConnect"));
        answered = true;
        released.wait();
        return Json::array({a.result, b.ok});
    });
    ASSERT_TRUE(step);
    ASSERT_TRUE(Member(*step, "op"));
    EXPECT_EQ(TextOf((*step)["op"], "name"), "setItemInfo");
    // Another call while this one runs is refused, and so is an answer nobody waits for.
    EXPECT_FALSE(channel.BeginCall([] { return Json(); }));

    step = channel.ContinueCall(Json{{"ok", true}, {"result", "first"}});
    ASSERT_TRUE(step && Member(*step, "op"));
    EXPECT_EQ(TextOf((*step)["op"], "name"), "isAnyKeyConnect");
    auto last = std::async(std::launch::async, [&] { return channel.ContinueCall(Json{{"ok", false}}); });
    while (!answered)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(last.wait_for(50ms), std::future_status::timeout) << "the call has not ended yet";
    EXPECT_FALSE(channel.ContinueCall(Json::object())) << "no step waits for an answer";
    release.set_value();
    step = last.get();
    ASSERT_TRUE(step && Member(*step, "done"));
    EXPECT_EQ(WireJsonText((*step)["result"]), R"(["first",false])");
    EXPECT_TRUE(onPageThread);

    // The next call may begin, and a worker's request meanwhile still goes through the poll.
    auto worker = std::async(std::launch::async, [&] { return channel.Perform(Call("setProgress")); });
    step = channel.BeginCall([] { return Json(1); });
    ASSERT_TRUE(step && Member(*step, "done"));
    const Json given = Take(channel, "p", 1)[0];
    channel.Poll("p", Json::array({Answer(given["id"], true)}));
    EXPECT_TRUE(worker.get().ok);
}

TEST(DevHostChannel, ACallWhosePageStopsAnsweringRunsToItsEndWithoutIt)
{
    PageChannel channel(ChannelTimes{50ms, 200ms});
    std::atomic<int> failed{0};
    std::optional<Json> step = channel.BeginCall([&] {
        failed += channel.Perform(Call("a")).ok ? 0 : 1;
        failed += channel.Perform(Call("b")).ok ? 0 : 1; // at once: the page is gone
        return Json();
    });
    ASSERT_TRUE(step && Member(*step, "op"));
    // Nobody answers; the call ends by itself and the next one is taken.
    for (int i = 0; i < 500 && failed < 2; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(failed, 2);
    std::optional<Json> next;
    for (int i = 0; i < 500 && !next; ++i) {
        next = channel.BeginCall([] { return Json(true); });
        if (!next)
            std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(next && Member(*next, "done"));
}

} // namespace
