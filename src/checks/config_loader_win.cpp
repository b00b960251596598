#include "checks/config_loader_win.h"

#include "app/option_table.h"
#include "checks/digest.h"
#include "common/text_win.h"
#include "net/download_files_win.h"
#include "net/http_agent_win.h"

#include <shlobj.h>
#include <windows.h>

namespace Velmora::Assistant {
namespace {

bool IsHttpSource(const std::wstring& source)
{
    return source.size() >= 4 && CompareStringOrdinal(source.c_str(), 4, L"http", 4, TRUE) == CSTR_EQUAL;
}

HRESULT LastError()
{
    return HRESULT_FROM_WIN32(GetLastError());
}

// Writes beside the cache file and moves it into place, so that a failed write leaves the previous
// copy intact.
HRESULT WriteCacheFile(const std::wstring& path, const std::string& bytes)
{
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::wstring temporary = path + L".new";
    HRESULT status = Network::WriteWholeFile(temporary.c_str(), bytes, attributes);
    if (SUCCEEDED(status) &&
        !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        status = LastError();
    if (FAILED(status)) {
        DeleteFileW(temporary.c_str());
        return status;
    }
    // A file that already existed keeps its own attributes through the move; make sure of them.
    SetFileAttributesW(path.c_str(), attributes);
    return S_OK;
}

std::string BaseOf(const std::string& url)
{
    const std::size_t slash = url.rfind('/');
    return slash == std::string::npos ? std::string() : url.substr(0, slash + 1);
}

} // namespace

ConfigFetch FetchThrough(Network::CWinHttpAgent& agent)
{
    return [&agent](const std::wstring& url, std::string* body) { return agent.FetchText(url, {}, body); };
}

HRESULT LoadCheckConfig(const wchar_t* source)
{
    return LoadCheckConfig(TheCheckConfig(), source, FetchThrough(Network::ProcessAgent()));
}

std::wstring ConfigCachePath(const std::wstring& url)
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, folder)) ||
        folder[0] == L'\0')
        return {};
    std::wstring path(folder);
    if (path.back() != L'\\')
        path += L'\\';
    path += L"Content.IE5";
    // A fresh profile may not have the folder yet; caching should work from the first run on.
    CreateDirectoryW(path.c_str(), nullptr);
    return path + L'\\' + Utf8ToWide(DigestHex(WideToUtf8(url), kDigestMd5)) + L".mdc";
}

HRESULT LoadCheckConfig(CheckConfig& config, const wchar_t* source, const ConfigFetch& fetch)
{
    config.Clear();
    if (IS_INTRESOURCE(source))
        return E_NOTIMPL;
    const std::wstring name(source);

    std::string bytes;
    HRESULT status = S_OK;
    std::wstring cachePath;
    bool fromCache = false;
    if (!IsHttpSource(name)) {
        status = Network::ReadWholeFile(name.c_str(), &bytes);
    } else {
        status = fetch ? fetch(name, &bytes) : E_NOTIMPL;
        config.RootAttributes.Set("base", BaseOf(WideToUtf8(name)));
        if (Options().Get(kOptionCacheCheckConfig))
            cachePath = ConfigCachePath(name);
        // An error page arrives as an empty body: it is no document, and must not replace the copy
        // kept from the last good download.
        const bool downloaded = SUCCEEDED(status) && !bytes.empty();
        if (!downloaded && !cachePath.empty()) {
            std::string cached;
            if (SUCCEEDED(Network::ReadWholeFile(cachePath.c_str(), &cached))) {
                bytes = std::move(cached);
                status = S_OK;
                fromCache = true;
            }
        }
    }
    if (FAILED(status))
        return status;

    if (!ParseCheckConfig(config, bytes)) {
        config.Clear();
        return E_FAIL;
    }
    // Only a document that parses replaces the cached copy, so a broken answer cannot destroy the
    // last good one.
    if (!fromCache && !cachePath.empty())
        WriteCacheFile(cachePath, bytes);
    return fromCache ? kConfigFromCache : kConfigLoaded;
}

} // namespace Velmora::Assistant
