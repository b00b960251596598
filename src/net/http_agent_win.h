#pragma once
// The program's HTTP agent: one WinHTTP session for the whole run that honours the user's proxy
// settings and keeps one connection open between requests. Synchronous; one operation at a time
// (no lock of its own).
//
//   AssistantHttp& http = ProcessAgent();
//   std::string text;
//   HRESULT hr = http.FetchText(L"https://bank.example/cfg/check.xml", {}, &text);
//   hr = http.DownloadFile(L"setup.exe", path.c_str(), onProgress, 0); // relative: joined to
//                                                                       // "/cfg/check.xml"

#include "net/download_progress.h"
#include "net/winhttp_win.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Velmora::Network {

using DownloadProgressFn = std::function<void(const DownloadProgress&)>;

class CWinHttpAgent {
public:
    // Opens the session and reads the user's proxy settings. When the session cannot be opened the
    // object still exists: OpenStatus() tells why, and every operation answers that status.
    explicit CWinHttpAgent(const wchar_t* userAgent);
    CWinHttpAgent(const CWinHttpAgent&) = delete;
    CWinHttpAgent& operator=(const CWinHttpAgent&) = delete;
    virtual ~CWinHttpAgent();

    HRESULT OpenStatus() const { return openStatus_; }

    // GETs `url` (absolute, or relative to the last absolute URL's path) into `body`. A non-empty
    // UTF-8 `query` is appended after "?". HTTP status 400 and above: S_OK with an empty body.
    HRESULT FetchText(std::wstring_view url, std::string_view query, std::string* body);

    // GETs `url` into the file `filePath` (created or truncated), reporting progress. HTTP status
    // 400 and above: one HttpError report, S_OK, and no file. A body shorter than its declared
    // length, or a broken transfer, fails and leaves the partial file for the caller.
    HRESULT DownloadFile(std::wstring_view url, const wchar_t* filePath, const DownloadProgressFn& progress,
                         std::uint32_t userValue);

    const std::wstring& BasePath() const { return basePath_; }

protected:
    virtual void OnSessionOpened(CWinHttpSession& session);
    virtual void OnConnected(CWinHttpConnect& connection);
    virtual void OnBeforeSend(CWinHttpRequest& request);
    virtual bool OnResponse(CWinHttpRequest& request, DWORD status);

private:
    // Reporting target of one download; answers false to stop reading.
    using ReportFn = std::function<bool(DownloadReport, std::uint32_t, std::uint32_t)>;

    HRESULT PrepareObjectName(std::wstring_view url, std::wstring* objectName);
    // Opens, sends and receives; `accepted` is false when OnResponse declined the response.
    HRESULT Exchange(const std::wstring& objectName, CWinHttpRequest* request, DWORD* status, bool* accepted);
    HRESULT Download(std::wstring_view url, const wchar_t* filePath, const ReportFn& report);
    void EnsureSessionHooked();

    DWORD requestFlags_ = 0;
    std::wstring autoConfigUrl_;
    CWinHttpSession session_;
    CWinHttpConnect connection_;
    std::wstring host_;
    std::wstring basePath_;
    INTERNET_PORT port_ = 0;
    HRESULT openStatus_ = S_OK;
    bool sessionHooked_ = false;
};

class AssistantHttp : public CWinHttpAgent {
public:
    AssistantHttp();

    // Whether certificate errors are ignored; taken from option 1001 before each send.
    bool IgnoreCertErrors = false;

protected:
    void OnBeforeSend(CWinHttpRequest& request) override;
};

// For the program's exit: every download in progress stops at its next piece of data (E_ABORT),
// and no transfer starts from now on.
void AbortTransfers();

// The one agent of the process, created on first use (start-up calls this early) and destroyed at
// exit. Check OpenStatus() once at start-up; a failed session makes every operation fail with it.
AssistantHttp& ProcessAgent();

} // namespace Velmora::Network
