#pragma once
// Owners of WinHTTP handles. Each wrapper holds exactly one handle (null when closed), closes it on
// destruction or reset, and every operation answers 0 or the thread's last Win32 error.

#include "common/last_error_win.h"
#include "common/scoped_handle_win.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <vector>

namespace Velmora::Network {

struct WinHttpHandleTraits {
    using Handle = HINTERNET;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::WinHttpCloseHandle(h); }
};
using ScopedWinHttpHandle = ScopedGeneric<WinHttpHandleTraits>;

class CWinHttp {
public:
    CWinHttp() = default;
    CWinHttp(const CWinHttp&) = delete;
    CWinHttp& operator=(const CWinHttp&) = delete;
    virtual ~CWinHttp() = default;

    HINTERNET Handle() const { return handle_.Get(); }
    bool IsOpen() const { return handle_.IsValid(); }
    void Close() { handle_.Reset(); }

    DWORD QueryOption(DWORD option, void* buffer, DWORD* length) const;
    DWORD SetOption(DWORD option, const void* buffer, DWORD length);
    DWORD QueryHeaders(DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* length, DWORD* index) const;
    DWORD QueryDataAvailable(DWORD* available);
    DWORD ReadData(void* buffer, DWORD toRead, DWORD* read);

protected:
    // Takes ownership of `handle`; a null handle reports the last error.
    DWORD Adopt(HINTERNET handle);

private:
    ScopedWinHttpHandle handle_;
};

class CWinHttpSession : public CWinHttp {
public:
    DWORD Open(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy, const wchar_t* bypass,
               DWORD flags);
    DWORD GetProxyForUrl(const wchar_t* url, WINHTTP_AUTOPROXY_OPTIONS* options, WINHTTP_PROXY_INFO* info);
    bool IsAsync() const { return async_; }

private:
    bool async_ = false;
};

class CWinHttpConnect : public CWinHttp {
public:
    DWORD Connect(const CWinHttpSession& session, const wchar_t* host, INTERNET_PORT port);
};

class CWinHttpRequest : public CWinHttp {
public:
    DWORD Open(const CWinHttpConnect& connection, const wchar_t* verb, const wchar_t* objectName,
               const wchar_t* version, const wchar_t* referrer, const wchar_t** acceptTypes, DWORD flags);
    DWORD Send(const wchar_t* headers, DWORD headersLength, const void* body, DWORD bodyLength,
               DWORD totalLength);
    DWORD Receive();
};

// The numeric status code of a received response; 0 when it cannot be read.
DWORD QueryStatusCode(const CWinHttp& request);

// The declared body length of a received response; false when it has none.
bool QueryContentLength(const CWinHttp& request, std::uint64_t* length);

// Reads the body chunk by chunk into `sink(const char*, DWORD) -> bool` until the server has sent
// everything (a read of 0 bytes) or `sink` answers false. A broken transfer gives its error: a body
// cut short by the network is never taken for a whole one.
template <typename Sink> HRESULT ReadResponseBody(CWinHttp& request, Sink&& sink)
{
    // Each read takes what has arrived (at most 64 KB), after asking how much that is: a read of a
    // larger amount may wait until its buffer is full, which on a slow line would hold back the
    // progress, and the caller's answer to it, for minutes. The one buffer is reused, so memory
    // stays flat however large the body is.
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD available = 0;
        if (const DWORD error = request.QueryDataAvailable(&available))
            return ResultHresult(error);
        if (available == 0)
            return S_OK;
        DWORD read = 0;
        const DWORD wanted = available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
        if (const DWORD error = request.ReadData(buffer.data(), wanted, &read))
            return ResultHresult(error);
        if (read == 0)
            return S_OK;
        if (!sink(buffer.data(), read))
            return S_OK;
    }
}

} // namespace Velmora::Network
