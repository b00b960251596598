#include "net/download_progress.h"
#include "net/simple_http.h"

#include <gtest/gtest.h>

#include <string>

using namespace Velmora::Network;

namespace {

struct SplitCase {
    const wchar_t* url;
    bool ok;
    const wchar_t* host;
    int port;
    bool secure;
    const wchar_t* path;
};

TEST(SplitRequestUrlTest, SplitsHttpAndHttpsUrls)
{
    const SplitCase cases[] = {
        {L"https://bank.example:8443/a", true, L"bank.example", 8443, true, L"/a"},
        {L"HTTPS://Bank.Example/pay?x=1&y=2", true, L"Bank.Example", 443, true, L"/pay?x=1&y=2"},
        {L"http://10.0.0.1/", true, L"10.0.0.1", 80, false, L"/"},
        {L"http://h:8080/p/q", true, L"h", 8080, false, L"/p/q"},
        // A ':' after the first '/' belongs to the path, not to a port.
        {L"http://h/time?t=12:30", true, L"h", 80, false, L"/time?t=12:30"},
        {L"https://bank.example", false, L"", 0, false, L""},
        {L"https://bank.example:8443", false, L"", 0, false, L""},
        {L"http://h:/x", false, L"", 0, false, L""},
        {L"http://h:80a/x", false, L"", 0, false, L""},
        {L"http://h:70000/x", false, L"", 0, false, L""},
        {L"http://h:0/x", false, L"", 0, false, L""},
        {L"http:///x", false, L"", 0, false, L""},
        {L"ftp://h/x", false, L"", 0, false, L""},
        {L"https:/", false, L"", 0, false, L""},
        {L"http://", false, L"", 0, false, L""},
        {L"", false, L"", 0, false, L""},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(std::wstring(c.url).size()) << " chars");
        SimpleHttpRequest request;
        // Leftovers of an earlier split must not survive a failed one.
        request.host = L"stale";
        request.path = L"/stale";
        request.port = 1;
        request.secure = true;
        EXPECT_EQ(SplitRequestUrl(request, c.url), c.ok);
        EXPECT_EQ(request.host, c.host);
        EXPECT_EQ(request.port, c.port);
        EXPECT_EQ(request.secure, c.secure);
        EXPECT_EQ(request.path, c.path);
    }
}

TEST(SplitRequestUrlTest, NeverReadsPastTheGivenLength)
{
    // The view ends right after "https://h"; the text beyond it must not be taken as the path.
    const std::wstring text = L"https://h/path-outside-the-view";
    SimpleHttpRequest request;
    EXPECT_FALSE(SplitRequestUrl(request, std::wstring_view(text.data(), 9)));
    EXPECT_TRUE(SplitRequestUrl(request, std::wstring_view(text.data(), 11)));
    EXPECT_EQ(request.path, L"/p");
}

TEST(ExtractResponseCookieTest, TakesTheFirstCookieUpToItsSemicolon)
{
    EXPECT_EQ(
        ExtractResponseCookie(L"HTTP/1.1 200 OK\r\nSet-Cookie: sid=42; Path=/\r\nSet-Cookie: b=2; x\r\n\r\n"),
        L" sid=42");
    EXPECT_EQ(ExtractResponseCookie(L"HTTP/1.1 200 OK\r\nCookie:a=1;\r\n"), L"a=1");
    // No ';' on the cookie's own line: nothing, even if a later line has one.
    EXPECT_EQ(ExtractResponseCookie(
                  L"HTTP/1.1 200 OK\r\nSet-Cookie: sid=42\r\nContent-Type: text/html; charset=x\r\n"),
              L"");
    EXPECT_EQ(ExtractResponseCookie(L"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=x\r\n"), L"");
    EXPECT_EQ(ExtractResponseCookie(L"Set-Cookie:"), L"");
}

TEST(DownloadProgressTest, PercentIsExactWithoutOverflowAndOnlyForProgressReports)
{
    // 50 MB of 100 MB: bytes * 100 does not fit 32 bits.
    DownloadProgress p =
        MakeDownloadProgress(DownloadReport::Progress, 50'000'000, 100'000'000, L"u", L"f", 9);
    EXPECT_TRUE(p.percentValid);
    EXPECT_EQ(p.percent, 50u);
    EXPECT_EQ(p.received, 50'000'000u);
    EXPECT_EQ(p.total, 100'000'000u);
    EXPECT_EQ(p.userValue, 9u);
    EXPECT_STREQ(p.url, L"u");
    EXPECT_STREQ(p.filePath, L"f");

    p = MakeDownloadProgress(DownloadReport::Finished, 4'000'000'000u, 4'000'000'000u, nullptr, nullptr, 0);
    EXPECT_EQ(p.percent, 100u);
    p = MakeDownloadProgress(DownloadReport::Progress, 199, 200, nullptr, nullptr, 0);
    EXPECT_EQ(p.percent, 99u); // integer division, never rounded up to a false 100

    // No length sent: total 1, so the percent is bytes * 100, saturating at the 32-bit limit.
    p = MakeDownloadProgress(DownloadReport::Progress, 5000, 1, nullptr, nullptr, 0);
    EXPECT_EQ(p.percent, 500000u);
    p = MakeDownloadProgress(DownloadReport::Progress, 100'000'000, 1, nullptr, nullptr, 0);
    EXPECT_EQ(p.percent, 0xFFFFFFFFu);

    p = MakeDownloadProgress(DownloadReport::HttpError, 404, 0, nullptr, nullptr, 3);
    EXPECT_FALSE(p.percentValid);
    EXPECT_EQ(p.received, 0u);
    EXPECT_EQ(p.total, 0u);
    p = MakeDownloadProgress(DownloadReport::Failed, 0x80004005u, 777, nullptr, nullptr, 3);
    EXPECT_FALSE(p.percentValid);
    EXPECT_EQ(p.received, 0u);
    EXPECT_EQ(p.total, 777u);
}

TEST(DownloadFileNameTest, TakesTheLastSegmentAndRefusesEscapes)
{
    std::wstring_view name;
    ASSERT_TRUE(DownloadFileName(L"https://bank.example/ctl/v2/setup.exe", &name));
    EXPECT_EQ(name, L"setup.exe");
    ASSERT_TRUE(DownloadFileName(L"plain.msi", &name));
    EXPECT_EQ(name, L"plain.msi");
    ASSERT_TRUE(DownloadFileName(L"https://bank.example/dir/", &name));
    EXPECT_EQ(name, L"");
    ASSERT_TRUE(DownloadFileName(L"https://bank.example/..\\..\\evil.exe", &name));
    EXPECT_EQ(name, L"evil.exe");
    EXPECT_FALSE(DownloadFileName(L"https://bank.example/a/..", &name));
    EXPECT_FALSE(DownloadFileName(L".", &name));
    EXPECT_FALSE(DownloadFileName(L"https://bank.example/setup.exe:payload", &name));
    EXPECT_FALSE(DownloadFileName(L"C:evil.exe", &name));
}

} // namespace
