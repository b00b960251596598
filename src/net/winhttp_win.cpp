#include "net/winhttp_win.h"

namespace Velmora::Network {

namespace {

DWORD LastErrorUnless(BOOL ok)
{
    return ok ? 0 : LastErrorCode();
}

} // namespace

DWORD CWinHttp::Adopt(HINTERNET handle)
{
    if (!handle) {
        const DWORD error = LastErrorCode();
        handle_.Reset();
        return error;
    }
    handle_.Reset(handle);
    return 0;
}

DWORD CWinHttp::QueryOption(DWORD option, void* buffer, DWORD* length) const
{
    return LastErrorUnless(::WinHttpQueryOption(handle_.Get(), option, buffer, length));
}

DWORD CWinHttp::SetOption(DWORD option, const void* buffer, DWORD length)
{
    return LastErrorUnless(::WinHttpSetOption(handle_.Get(), option, const_cast<void*>(buffer), length));
}

DWORD CWinHttp::QueryHeaders(DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* length,
                             DWORD* index) const
{
    return LastErrorUnless(::WinHttpQueryHeaders(handle_.Get(), infoLevel, name, buffer, length, index));
}

DWORD CWinHttp::QueryDataAvailable(DWORD* available)
{
    return LastErrorUnless(::WinHttpQueryDataAvailable(handle_.Get(), available));
}

DWORD CWinHttp::ReadData(void* buffer, DWORD toRead, DWORD* read)
{
    return LastErrorUnless(::WinHttpReadData(handle_.Get(), buffer, toRead, read));
}

DWORD CWinHttpSession::Open(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy,
                            const wchar_t* bypass, DWORD flags)
{
    async_ = (flags & WINHTTP_FLAG_ASYNC) != 0;
    return Adopt(::WinHttpOpen(userAgent, accessType, proxy, bypass, flags));
}

DWORD CWinHttpSession::GetProxyForUrl(const wchar_t* url, WINHTTP_AUTOPROXY_OPTIONS* options,
                                      WINHTTP_PROXY_INFO* info)
{
    return LastErrorUnless(::WinHttpGetProxyForUrl(Handle(), url, options, info));
}

DWORD CWinHttpConnect::Connect(const CWinHttpSession& session, const wchar_t* host, INTERNET_PORT port)
{
    return Adopt(::WinHttpConnect(session.Handle(), host, port, 0));
}

DWORD CWinHttpRequest::Open(const CWinHttpConnect& connection, const wchar_t* verb, const wchar_t* objectName,
                            const wchar_t* version, const wchar_t* referrer, const wchar_t** acceptTypes,
                            DWORD flags)
{
    return Adopt(
        ::WinHttpOpenRequest(connection.Handle(), verb, objectName, version, referrer, acceptTypes, flags));
}

DWORD CWinHttpRequest::Send(const wchar_t* headers, DWORD headersLength, const void* body, DWORD bodyLength,
                            DWORD totalLength)
{
    return LastErrorUnless(::WinHttpSendRequest(Handle(), headers, headersLength, const_cast<void*>(body),
                                                bodyLength, totalLength, 0));
}

DWORD CWinHttpRequest::Receive()
{
    return LastErrorUnless(::WinHttpReceiveResponse(Handle(), nullptr));
}

DWORD QueryStatusCode(const CWinHttp& request)
{
    DWORD status = 0;
    DWORD length = sizeof(status);
    if (request.QueryHeaders(WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX) != 0)
        return 0;
    return status;
}

bool QueryContentLength(const CWinHttp& request, std::uint64_t* length)
{
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (request.QueryHeaders(WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX) != 0)
        return false;
    // Parsed as text: the numeric form of the query stops at 32 bits.
    const wchar_t* p = text;
    while (*p == L' ')
        ++p;
    if (*p < L'0' || *p > L'9')
        return false;
    std::uint64_t value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (value > (UINT64_MAX - 9) / 10)
            return false;
        value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
    }
    *length = value;
    return true;
}

} // namespace Velmora::Network
