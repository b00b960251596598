#include "devhost/http_message.h"

#include <algorithm>
#include <cctype>

namespace Velmora::DevHost {
namespace {

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool TokenCharacter(unsigned char c)
{
    return std::isalnum(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return TokenCharacter(static_cast<unsigned char>(c)); });
}

} // namespace

std::string HttpRequest::Header(const std::string& name) const
{
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

ParseOutcome ParseHttpRequest(std::string_view received, HttpRequest* request, std::size_t* consumed)
{
    const std::size_t headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string_view::npos)
        return received.size() > kMaxRequestHead ? ParseOutcome::TooLarge : ParseOutcome::Incomplete;
    if (headEnd > kMaxRequestHead)
        return ParseOutcome::TooLarge;

    HttpRequest parsed;
    std::string_view head = received.substr(0, headEnd);
    const std::size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t space1 = requestLine.find(' ');
    const std::size_t space2 = requestLine.rfind(' ');
    if (space1 == std::string_view::npos || space2 == space1)
        return ParseOutcome::Bad;
    parsed.method = std::string(requestLine.substr(0, space1));
    parsed.target = std::string(requestLine.substr(space1 + 1, space2 - space1 - 1));
    const std::string_view version = requestLine.substr(space2 + 1);
    if (!IsToken(parsed.method) || parsed.target.empty() || parsed.target.front() != '/' ||
        parsed.target.find(' ') != std::string::npos || (version != "HTTP/1.1" && version != "HTTP/1.0"))
        return ParseOutcome::Bad;
    parsed.keepAlive = version == "HTTP/1.1";

    std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
            return ParseOutcome::Bad;
        const std::string_view value = Trim(line.substr(colon + 1));
        if (std::any_of(value.begin(), value.end(),
                        [](char c) { return c == '\r' || c == '\n' || c == '\0'; }))
            return ParseOutcome::Bad;
        std::string name = Lower(line.substr(0, colon));
        // Two lengths or two hosts make the request ambiguous.
        if ((name == "content-length" || name == "host") && parsed.headers.count(name))
            return ParseOutcome::Bad;
        parsed.headers[std::move(name)] = std::string(value);
    }

    const std::string connection = Lower(parsed.Header("connection"));
    if (connection == "close")
        parsed.keepAlive = false;
    else if (connection == "keep-alive")
        parsed.keepAlive = true;
    if (parsed.headers.count("transfer-encoding"))
        return ParseOutcome::Unsupported;

    std::size_t length = 0;
    const std::string lengthText = parsed.Header("content-length");
    if (parsed.headers.count("content-length")) {
        if (lengthText.empty() || lengthText.size() > 10 ||
            !std::all_of(lengthText.begin(), lengthText.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return ParseOutcome::Bad;
        length = std::stoul(lengthText);
        if (length > kMaxRequestBody)
            return ParseOutcome::TooLarge;
    }
    const std::size_t bodyStart = headEnd + 4;
    if (received.size() - bodyStart < length)
        return ParseOutcome::Incomplete;
    parsed.body = std::string(received.substr(bodyStart, length));
    *consumed = bodyStart + length;
    *request = std::move(parsed);
    return ParseOutcome::Complete;
}

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 421:
        return "Misdirected Request";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

std::string SerializeResponse(const HttpResponse& response, bool keepAlive)
{
    std::string out =
        "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
    if (!response.contentType.empty())
        out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\n";
    out += "X-Content-Type-Options: nosniff\r\n";
    for (const auto& [name, value] : response.headers)
        out += name + ": " + value + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    out += response.body;
    return out;
}

} // namespace Velmora::DevHost
