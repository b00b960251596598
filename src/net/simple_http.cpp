#include "net/simple_http.h"

#include <cwctype>

namespace Velmora::Network {

namespace {

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::towlower(text[i]) != std::towlower(prefix[i]))
            return false;
    }
    return true;
}

bool ParsePort(std::wstring_view digits, std::int32_t* port)
{
    if (digits.empty() || digits.size() > 5)
        return false;
    std::int32_t value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + (c - L'0');
    }
    if (value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

// `rest` is the URL after its scheme.
bool SplitAfterScheme(SimpleHttpRequest& request, std::wstring_view rest, std::int32_t defaultPort,
                      bool secure)
{
    const std::size_t slash = rest.find(L'/');
    if (slash == std::wstring_view::npos)
        return false;
    // Only a ':' inside the authority separates a port; one in the path is part of the path.
    const std::wstring_view authority = rest.substr(0, slash);
    const std::size_t colon = authority.find(L':');
    std::int32_t port = defaultPort;
    if (colon != std::wstring_view::npos && !ParsePort(authority.substr(colon + 1), &port))
        return false;
    const std::wstring_view host = authority.substr(0, colon);
    if (host.empty())
        return false;
    request.host.assign(host);
    request.path.assign(rest.substr(slash));
    request.port = port;
    request.secure = secure;
    return true;
}

} // namespace

bool SplitRequestUrl(SimpleHttpRequest& request, std::wstring_view url)
{
    request.host.clear();
    request.path.clear();
    request.port = 0;
    request.secure = false;
    constexpr std::wstring_view kHttps = L"https://";
    constexpr std::wstring_view kHttp = L"http://";
    if (StartsWithNoCase(url, kHttps))
        return SplitAfterScheme(request, url.substr(kHttps.size()), 443, true);
    if (StartsWithNoCase(url, kHttp))
        return SplitAfterScheme(request, url.substr(kHttp.size()), 80, false);
    return false;
}

std::wstring ExtractResponseCookie(std::wstring_view rawHeaders)
{
    constexpr std::wstring_view kCookie = L"Cookie:";
    const std::size_t at = rawHeaders.find(kCookie);
    if (at == std::wstring_view::npos)
        return {};
    const std::wstring_view rest = rawHeaders.substr(at + kCookie.size());
    const std::wstring_view line = rest.substr(0, rest.find_first_of(L"\r\n"));
    const std::size_t semicolon = line.find(L';');
    if (semicolon == std::wstring_view::npos)
        return {};
    return std::wstring(line.substr(0, semicolon));
}

} // namespace Velmora::Network
