#pragma once
// HTTP/1.1 as the developer host speaks it: requests read from what a connection has received so
// far, responses written whole. Only what a browser sends to it is accepted: a body is given by
// Content-Length (no chunked uploads), and heads and bodies have an upper size.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace Velmora::DevHost {

inline constexpr std::size_t kMaxRequestHead = 16 * 1024;
inline constexpr std::size_t kMaxRequestBody = 8 * 1024 * 1024;

struct HttpRequest {
    std::string method;
    std::string target;                         // as sent: path and query
    std::map<std::string, std::string> headers; // names in lower case; a repeated one keeps the last
    std::string body;
    bool keepAlive = true;

    // Header `name` (lower case), empty when absent.
    std::string Header(const std::string& name) const;
};

enum class ParseOutcome {
    Complete,   // `request` and `consumed` are set
    Incomplete, // more bytes are needed
    Bad,        // 400: not a request this host reads
    TooLarge,   // 413/431: head or body above the limits
    Unsupported // 501: a transfer coding other than none
};

ParseOutcome ParseHttpRequest(std::string_view received, HttpRequest* request, std::size_t* consumed);

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::map<std::string, std::string> headers; // further headers, as given
};

// The status line, headers (Content-Length, Cache-Control: no-store, the connection's fate) and body.
std::string SerializeResponse(const HttpResponse& response, bool keepAlive);

// The reason phrase of the statuses the host answers.
const char* ReasonPhrase(int status);

} // namespace Velmora::DevHost
