#pragma once
// A request as the developer host's site sees it, and its answer; the HTTP server reads and
// writes them on the wire.

#include <cstddef>
#include <map>
#include <string>

namespace Velmora::DevHost {

// The largest request body the host reads: larger ones are refused before any of it is read.
inline constexpr std::size_t kMaxRequestBody = 8 * 1024 * 1024;

struct HttpRequest {
    std::string method;
    std::string target;                         // as sent: path and query
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;                           // empty while only the head has been read

    // Header `name` (lower case), empty when absent.
    std::string Header(const std::string& name) const
    {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::map<std::string, std::string> headers; // further headers, as given
};

} // namespace Velmora::DevHost
