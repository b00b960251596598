#include "net/http_agent_win.h"

#include "common/last_error_win.h"
#include "common/option_table.h"
#include "common/text_win.h"

#include <atomic>

namespace Velmora::Network {

namespace {

std::atomic<bool> g_transfersAborted{false};

constexpr DWORD kIgnoreCertErrorFlags =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() &&
           ::CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                                  static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

bool IsAbsoluteUrl(std::wstring_view url)
{
    return StartsWithNoCase(url, L"http://") || StartsWithNoCase(url, L"https://");
}

bool SameHost(const std::wstring& a, const std::wstring& b)
{
    // Host names are case-insensitive, so "Bank.example" reuses a connection to "bank.example".
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

CWinHttpAgent::CWinHttpAgent(const wchar_t* userAgent)
{
    // The user's browser proxy settings. A static proxy is given to the session when it is opened
    // (the same as setting WINHTTP_OPTION_PROXY on it afterwards, and honoured by every WinHTTP we
    // run on); an auto-configuration script is kept and resolved per request.
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    const bool haveConfig = ::WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;
    const ScopedGlobal autoConfig(haveConfig ? config.lpszAutoConfigUrl : nullptr);
    const ScopedGlobal proxy(haveConfig ? config.lpszProxy : nullptr);
    const ScopedGlobal bypass(haveConfig ? config.lpszProxyBypass : nullptr);
    if (haveConfig && config.lpszAutoConfigUrl && *config.lpszAutoConfigUrl)
        autoConfigUrl_ = config.lpszAutoConfigUrl;

    DWORD error = 0;
    if (haveConfig && config.lpszProxy && *config.lpszProxy) {
        error = session_.Open(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, config.lpszProxy,
                              config.lpszProxyBypass ? config.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0);
    } else {
        error = session_.Open(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    }
    openStatus_ = ResultHresult(error);
}

CWinHttpAgent::~CWinHttpAgent() = default;

void CWinHttpAgent::OnSessionOpened(CWinHttpSession&) {}
void CWinHttpAgent::OnConnected(CWinHttpConnect&) {}
void CWinHttpAgent::OnBeforeSend(CWinHttpRequest&) {}
bool CWinHttpAgent::OnResponse(CWinHttpRequest&, DWORD)
{
    return true;
}

void CWinHttpAgent::EnsureSessionHooked()
{
    // Run here rather than in the constructor so that a derived class's override is the one called.
    if (sessionHooked_ || FAILED(openStatus_))
        return;
    sessionHooked_ = true;
    OnSessionOpened(session_);
}

HRESULT CWinHttpAgent::PrepareObjectName(std::wstring_view url, std::wstring* objectName)
{
    if (!IsAbsoluteUrl(url)) {
        *objectName = basePath_;
        objectName->append(url);
        return S_OK;
    }
    const std::wstring text(url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts))
        return LastErrorHresult();
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    // The query and fragment (extra information) are not requested: only the path is.
    const std::wstring path(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);

    if (!(connection_.IsOpen() && parts.nPort == port_ && SameHost(host, host_))) {
        connection_.Close();
        basePath_.clear();
        if (const DWORD error = connection_.Connect(session_, host.c_str(), parts.nPort)) {
            host_.clear();
            port_ = 0;
            return ResultHresult(error);
        }
        OnConnected(connection_);
        host_ = host;
        port_ = parts.nPort;
    }
    basePath_ = path;
    requestFlags_ = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    *objectName = path;
    return S_OK;
}

HRESULT CWinHttpAgent::Exchange(const std::wstring& objectName, CWinHttpRequest* request, DWORD* status,
                                bool* accepted)
{
    *status = 0;
    *accepted = false;
    if (const DWORD error = request->Open(connection_, nullptr, objectName.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, requestFlags_))
        return ResultHresult(error);

    if (!autoConfigUrl_.empty()) {
        std::wstring fullUrl = (requestFlags_ & WINHTTP_FLAG_SECURE) ? L"https://" : L"http://";
        fullUrl += host_;
        fullUrl += L':';
        fullUrl += std::to_wstring(port_);
        fullUrl += objectName;
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = autoConfigUrl_.c_str();
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info = {};
        if (session_.GetProxyForUrl(fullUrl.c_str(), &options, &info) == 0) {
            const ScopedGlobal proxy(info.lpszProxy);
            const ScopedGlobal bypass(info.lpszProxyBypass);
            request->SetOption(WINHTTP_OPTION_PROXY, &info, sizeof(info));
        }
    }

    OnBeforeSend(*request);
    if (const DWORD error = request->Send(WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0))
        return ResultHresult(error);
    if (const DWORD error = request->Receive())
        return ResultHresult(error);
    *status = QueryStatusCode(*request);
    *accepted = OnResponse(*request, *status);
    return S_OK;
}

HRESULT CWinHttpAgent::FetchText(std::wstring_view url, std::string_view query, std::string* body)
{
    body->clear();
    if (g_transfersAborted)
        return E_ABORT;
    EnsureSessionHooked();
    if (FAILED(openStatus_))
        return openStatus_;
    std::wstring objectName;
    if (const HRESULT hr = PrepareObjectName(url, &objectName); FAILED(hr))
        return hr;
    if (!query.empty()) {
        objectName += L'?';
        objectName += Utf8ToWide(query);
    }
    CWinHttpRequest request;
    DWORD status = 0;
    bool accepted = false;
    if (const HRESULT hr = Exchange(objectName, &request, &status, &accepted); FAILED(hr))
        return hr;
    if (!accepted || status >= 400)
        return S_OK;

    std::uint64_t declared = 0;
    const bool hasLength = QueryContentLength(request, &declared);
    const HRESULT hr = ReadResponseBody(request, [&](const char* data, DWORD size) {
        body->append(data, size);
        return true;
    });
    if (FAILED(hr) || (hasLength && body->size() != declared)) {
        // Half a document must not pass for the whole one.
        body->clear();
        return FAILED(hr) ? hr : E_FAIL;
    }
    return S_OK;
}

HRESULT CWinHttpAgent::DownloadFile(std::wstring_view url, const wchar_t* filePath,
                                    const DownloadProgressFn& progress, std::uint32_t userValue)
{
    const std::wstring urlText(url);
    return Download(url, filePath, [&](DownloadReport kind, std::uint32_t first, std::uint32_t second) {
        if (progress)
            progress(MakeDownloadProgress(kind, first, second, urlText.c_str(), filePath, userValue));
        return true;
    });
}

HRESULT CWinHttpAgent::Download(std::wstring_view url, const wchar_t* filePath, const ReportFn& report)
{
    const auto fail = [&](HRESULT hr, std::uint32_t total) {
        report(DownloadReport::Failed, static_cast<std::uint32_t>(hr), total);
        return hr;
    };
    if (g_transfersAborted)
        return fail(E_ABORT, 0);
    EnsureSessionHooked();
    if (FAILED(openStatus_))
        return fail(openStatus_, 0);
    std::wstring objectName;
    if (const HRESULT hr = PrepareObjectName(url, &objectName); FAILED(hr))
        return fail(hr, 0);
    CWinHttpRequest request;
    DWORD status = 0;
    bool accepted = false;
    if (const HRESULT hr = Exchange(objectName, &request, &status, &accepted); FAILED(hr))
        return fail(hr, 0);
    if (!accepted)
        return S_OK;
    if (status >= 400) {
        report(DownloadReport::HttpError, status, 0);
        return S_OK;
    }

    std::uint64_t declared = 0;
    const bool hasLength = QueryContentLength(request, &declared) && declared > 0;
    const std::uint32_t total = hasLength ? ClampToUint32(declared) : 1;

    ScopedHandle file(
        ::CreateFileW(filePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return fail(LastErrorHresult(), total);

    std::uint64_t received = 0;
    HRESULT writeStatus = S_OK;
    bool stopped = false;
    HRESULT hr = ReadResponseBody(request, [&](const char* data, DWORD size) {
        DWORD written = 0;
        if (!::WriteFile(file.Get(), data, size, &written, nullptr) || written != size) {
            writeStatus = LastErrorHresult();
            if (SUCCEEDED(writeStatus))
                writeStatus = E_FAIL;
            return false;
        }
        received += size;
        if (g_transfersAborted || !report(DownloadReport::Progress, ClampToUint32(received), total)) {
            stopped = true;
            return false;
        }
        return true;
    });
    file.Reset();

    if (FAILED(writeStatus))
        hr = writeStatus;
    else if (SUCCEEDED(hr) && stopped)
        hr = E_ABORT;
    else if (SUCCEEDED(hr) && hasLength && received != declared)
        hr = E_FAIL;
    if (FAILED(hr))
        return fail(hr, total);
    report(DownloadReport::Finished, ClampToUint32(received), total);
    return hr;
}

AssistantHttp::AssistantHttp() : CWinHttpAgent(L"Mozilla/5.0") {}

void AssistantHttp::OnBeforeSend(CWinHttpRequest& request)
{
    IgnoreCertErrors = Options().Get(kOptionIgnoreCertErrors) != 0;
    if (!IgnoreCertErrors)
        return;
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (request.QueryOption(WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size) != 0)
        return;
    flags |= kIgnoreCertErrorFlags;
    request.SetOption(WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
}

void AbortTransfers()
{
    g_transfersAborted = true;
}

AssistantHttp& ProcessAgent()
{
    static AssistantHttp agent;
    return agent;
}

} // namespace Velmora::Network
