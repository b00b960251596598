#include "net/simple_http_win.h"

#include "common/text_win.h"
#include "net/winhttp_win.h"

#include <vector>

namespace Velmora::Network {

namespace {

bool HasLineBreak(const std::wstring& value)
{
    return value.find_first_of(L"\r\n") != std::wstring::npos;
}

bool AddHeader(CWinHttpRequest& request, const wchar_t* name, const std::wstring& value)
{
    const std::wstring header = name + value;
    return ::WinHttpAddRequestHeaders(request.Handle(), header.c_str(), static_cast<DWORD>(header.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE) != FALSE;
}

std::wstring QueryRawHeaders(const CWinHttpRequest& request)
{
    DWORD size = 0;
    if (request.QueryHeaders(WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                             WINHTTP_NO_OUTPUT_BUFFER, &size,
                             WINHTTP_NO_HEADER_INDEX) != ERROR_INSUFFICIENT_BUFFER)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (request.QueryHeaders(WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX) != 0)
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

bool Exchange(const SimpleHttpRequest& request, SimpleHttpResponse* response)
{
    if (request.port < 1 || request.port > 65535 || request.body.size() > MAXDWORD)
        return false;
    // A header value must not smuggle further header lines into the request.
    if (HasLineBreak(request.contentType) || HasLineBreak(request.cookie))
        return false;

    CWinHttpSession session;
    if (session.Open(L"Aurn", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                     0))
        return false;
    CWinHttpConnect connection;
    if (connection.Connect(session, request.host.c_str(), static_cast<INTERNET_PORT>(request.port)))
        return false;

    std::vector<const wchar_t*> acceptTypes;
    for (const std::wstring& type : request.acceptTypes)
        acceptTypes.push_back(type.c_str());
    acceptTypes.push_back(nullptr);
    CWinHttpRequest http;
    if (http.Open(connection, request.method.empty() ? nullptr : request.method.c_str(), request.path.c_str(),
                  nullptr, WINHTTP_NO_REFERER, acceptTypes.data(), request.secure ? WINHTTP_FLAG_SECURE : 0))
        return false;

    if (!request.userName.empty() && !request.password.empty() &&
        !::WinHttpSetCredentials(http.Handle(), WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                                 request.userName.c_str(), request.password.c_str(), nullptr))
        return false;
    if (!request.contentType.empty() && !AddHeader(http, L"Content-type:", request.contentType))
        return false;
    if (!request.cookie.empty() && !AddHeader(http, L"Cookie:", request.cookie))
        return false;

    const DWORD bodyLength = static_cast<DWORD>(request.body.size());
    if (http.Send(WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                  bodyLength ? request.body.data() : WINHTTP_NO_REQUEST_DATA, bodyLength, bodyLength))
        return false;
    if (http.Receive())
        return false;

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (http.QueryHeaders(WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                          &status, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    response->cookie = ExtractResponseCookie(QueryRawHeaders(http));

    std::uint64_t declared = 0;
    const bool hasLength = QueryContentLength(http, &declared);
    const HRESULT hr = ReadResponseBody(http, [&](const char* data, DWORD length) {
        response->body.append(data, length);
        return true;
    });
    if (FAILED(hr) || (hasLength && response->body.size() != declared))
        return false;
    response->status = static_cast<std::int32_t>(status);
    return true;
}

} // namespace

bool RunSimpleHttpRequest(const SimpleHttpRequest& request, SimpleHttpResponse* response)
{
    *response = SimpleHttpResponse{};
    if (Exchange(request, response))
        return true;
    // A failed exchange answers nothing, not half an answer.
    *response = SimpleHttpResponse{};
    return false;
}

std::wstring HttpPostText(std::wstring_view url)
{
    SimpleHttpRequest request;
    if (!SplitRequestUrl(request, url))
        return {};
    request.method = L"POST";
    SimpleHttpResponse response;
    if (!RunSimpleHttpRequest(request, &response))
        return {};
    return Utf8ToWide(response.body);
}

} // namespace Velmora::Network
