#include "devhost/request_rules.h"

#include "checks/check_config.h"

#include <algorithm>
#include <cctype>

namespace Velmora::DevHost {
namespace {

using Assistant::AsciiLower;

bool SameText(const std::string& a, const std::string& b)
{
    // The token is compared without an early exit, so that timing does not tell how much matched.
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

// Exactly the address the host listens on: a name (localhost) could stand for another address,
// such as IPv6's loopback, where something else may listen.
std::string OwnAuthority(int port)
{
    return "127.0.0.1:" + std::to_string(port);
}

bool PageNameCharacter(unsigned char c)
{
    return std::isalnum(c) || c == '.' || c == '_' || c == '-';
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string ContentTypeOf(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : AsciiLower(name.substr(dot + 1));
    if (extension == "html" || extension == "htm")
        return "text/html; charset=utf-8";
    if (extension == "css")
        return "text/css; charset=utf-8";
    if (extension == "js")
        return "text/javascript; charset=utf-8";
    if (extension == "png")
        return "image/png";
    if (extension == "gif")
        return "image/gif";
    if (extension == "jpg" || extension == "jpeg")
        return "image/jpeg";
    return "application/octet-stream";
}

} // namespace

Admission AdmitRequest(const HttpRequest& request, const AccessRule& rule)
{
    Admission refused{403, {}};
    if (rule.token.empty() || request.Header("host") != OwnAuthority(rule.port))
        return refused;
    if (request.headers.count("origin") &&
        AsciiLower(request.Header("origin")) != "http://" + OwnAuthority(rule.port))
        return refused;
    std::string target = request.target;
    target = target.substr(0, target.find_first_of("?#"));
    const std::string prefix = "/" + rule.token + "/";
    if (target.size() < prefix.size() || !SameText(target.substr(0, prefix.size()), prefix))
        return refused;
    return {0, target.substr(prefix.size())};
}

int HeadRefusal(const HttpRequest& head)
{
    if (head.headers.count("transfer-encoding"))
        return 501;
    if (!head.headers.count("content-length"))
        return 0;
    std::string_view length = head.headers.at("content-length");
    if (length.empty() ||
        !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 400;
    // Compared as text first, so that no length is too long to read as a number.
    length.remove_prefix(std::min(length.find_first_not_of('0'), length.size()));
    const std::string largest = std::to_string(kMaxRequestBody);
    if (length.size() > largest.size() || (length.size() == largest.size() && length > largest))
        return 413;
    return 0;
}

std::optional<ResourceName> PageResourceFor(const std::string& path)
{
    ResourceName resource;
    if (path.empty() || AsciiLower(path) == "index.html") {
        resource.typeId = 23;
        resource.nameId = 200;
        resource.contentType = ContentTypeOf("index.html");
        return resource;
    }
    const std::size_t slash = path.find('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const std::string folder = AsciiLower(path.substr(0, slash));
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name.front() == '.' || name.find("..") != std::string::npos ||
        !std::all_of(name.begin(), name.end(),
                     [](char c) { return PageNameCharacter(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    if (folder == "css")
        resource.type = "CSS";
    else if (folder == "js")
        resource.type = "JS";
    else if (folder == "images")
        resource.type = "IMAGES";
    else
        return std::nullopt;
    resource.name = Upper(name);
    resource.contentType = ContentTypeOf(name);
    return resource;
}

std::string PageWithHostScript(const std::string& html)
{
    static const std::string tag = "<script type=\"text/javascript\" src=\"~host/external.js\"></script>";
    const std::string lower = AsciiLower(html);
    std::size_t at = lower.find("<head");
    // <head> itself, not <header>.
    while (at != std::string::npos && at + 5 < lower.size() && lower[at + 5] != '>' &&
           !std::isspace(static_cast<unsigned char>(lower[at + 5])))
        at = lower.find("<head", at + 5);
    if (at != std::string::npos) {
        const std::size_t end = lower.find('>', at);
        at = end == std::string::npos ? std::string::npos : end + 1;
    }
    if (at == std::string::npos)
        return tag + html;
    return html.substr(0, at) + tag + html.substr(at);
}

std::string TokenFromBytes(const unsigned char (&random16)[16])
{
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : random16) {
        token += digits[byte >> 4];
        token += digits[byte & 0x0F];
    }
    return token;
}

} // namespace Velmora::DevHost
