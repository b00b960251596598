#include "net/simple_http_win.h"

#include "common/text_win.h"
#include "test_servers.h"

#include <gtest/gtest.h>

using namespace Velmora::Network;
using namespace NetTest;

namespace {

class SimpleHttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TheServers().httpPort == 0)
            GTEST_SKIP() << "test servers not running (net_servers fixture)";
        token = UniqueToken();
    }
    SimpleHttpRequest For(const std::wstring& url)
    {
        SimpleHttpRequest request;
        EXPECT_TRUE(SplitRequestUrl(request, url));
        return request;
    }
    std::string token;
};

TEST_F(SimpleHttpTest, PostSendsCredentialsHeadersAndBodyExactly)
{
    SimpleHttpRequest request = For(HttpUrl("/auth/" + token + "?k=v"));
    request.method = L"POST";
    request.userName = L"alice";
    request.password = L"s3cret";
    request.contentType = L"application/x-www-form-urlencoded";
    request.cookie = L" sid=42";
    request.body = "a=1&b=2";
    request.acceptTypes = {L"text/plain", L"application/json"};
    SimpleHttpResponse response;
    ASSERT_TRUE(RunSimpleHttpRequest(request, &response));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "Basic YWxpY2U6czNjcmV0"); // base64 of "alice:s3cret"

    const auto requests = RequestsWith(token);
    ASSERT_FALSE(requests.empty());
    const RecordedRequest& sent = requests.back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.query, "k=v"); // this client sends the whole path, query included
    EXPECT_EQ(sent.body, "a=1&b=2");
    EXPECT_EQ(sent.Header("User-Agent"), "Aurn");
    EXPECT_EQ(sent.Header("Content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(sent.Header("Cookie"), "sid=42");
    EXPECT_EQ(sent.Header("Accept"), "text/plain, application/json");
}

TEST_F(SimpleHttpTest, CredentialsNeedBothNameAndPassword)
{
    SimpleHttpRequest request = For(HttpUrl("/auth/" + token));
    request.method = L"GET";
    request.userName = L"alice";
    SimpleHttpResponse response;
    ASSERT_TRUE(RunSimpleHttpRequest(request, &response));
    EXPECT_EQ(response.status, 401);
    for (const auto& sent : RequestsWith(token))
        EXPECT_FALSE(sent.HasHeader("Authorization"));
}

TEST_F(SimpleHttpTest, ResponseCookieAndErrorStatusesAreReturned)
{
    SimpleHttpRequest request = For(HttpUrl("/cookie/SESSION%3Dabc%3B%20Path%3D%2F/" + token));
    request.method = L"GET";
    SimpleHttpResponse response;
    ASSERT_TRUE(RunSimpleHttpRequest(request, &response));
    EXPECT_EQ(response.cookie, L" SESSION=abc");
    EXPECT_EQ(response.body, "ok");

    request = For(HttpsUrl("/status/500/" + token));
    request.method = L"POST";
    ASSERT_TRUE(RunSimpleHttpRequest(request, &response));
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.body, "status 500");
    EXPECT_EQ(response.cookie, L"");
}

TEST_F(SimpleHttpTest, FailuresAnswerFalseWithAnEmptyResponse)
{
    SimpleHttpResponse response;
    SimpleHttpRequest refused = For(L"http://127.0.0.1:1/x");
    EXPECT_FALSE(RunSimpleHttpRequest(refused, &response));
    EXPECT_EQ(response.status, -1);

    SimpleHttpRequest broken = For(HttpUrl("/short/100/10/" + token));
    EXPECT_FALSE(RunSimpleHttpRequest(broken, &response));
    EXPECT_EQ(response.status, -1);
    EXPECT_EQ(response.body, "");

    // A header value cannot carry a second header line.
    SimpleHttpRequest injected = For(HttpUrl("/echo/" + token + "/inj"));
    injected.cookie = L"a=1\r\nX-Evil: 1";
    EXPECT_FALSE(RunSimpleHttpRequest(injected, &response));
    EXPECT_TRUE(RequestsWith(token + "/inj").empty());
}

TEST_F(SimpleHttpTest, HttpPostTextDecodesTheBodyWhateverTheStatus)
{
    // The server answers UTF-8; the caller gets wide text.
    EXPECT_EQ(HttpPostText(HttpUrl("/text/%E4%B8%AD%E6%96%87/" + token + "/p")), L"\u4e2d\u6587");
    EXPECT_EQ(HttpPostText(HttpUrl("/status/404/" + token)), L"status 404");
    EXPECT_EQ(HttpPostText(L"ftp://127.0.0.1/x"), L"");
    const auto requests = RequestsWith(token + "/p");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
}

} // namespace
