#pragma once
// The one-shot request client's records and its text handling (portable; the exchange itself is in
// simple_http_win.h).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Network {

struct SimpleHttpRequest {
    std::wstring host;
    std::int32_t port = 0;
    bool secure = false;
    std::wstring path; // including any query
    std::wstring method;
    std::wstring userName;
    std::wstring password;
    std::wstring cookie;
    std::string body;
    std::wstring contentType;
    std::vector<std::wstring> acceptTypes;
};

struct SimpleHttpResponse {
    std::int32_t status = -1; // -1 until a response is read
    std::string body;
    std::wstring cookie;
};

// Fills host, port, secure and path of `request` from an absolute http or https URL. False (with
// those fields cleared) when the URL has another scheme, no '/' after the host, or a port that is
// not a number from 1 to 65535.
bool SplitRequestUrl(SimpleHttpRequest& request, std::wstring_view url);

// The cookie a response carries: in CRLF raw headers, the text after the first "Cookie:" (which
// also matches "Set-Cookie:") up to the next ';' on the same line, leading space kept so that
// "Cookie:" + value reads as a header again. Empty when there is none or no ';' follows.
std::wstring ExtractResponseCookie(std::wstring_view rawHeaders);

} // namespace Velmora::Network
