#include "checks/browser_cache_win.h"

#include "common/com_ptr_win.h"
#include "common/scoped_handle_win.h"
#include "common/system_folders_win.h"

#include <shlguid.h>

#include <cstdint>
#include <vector>

namespace Velmora::Assistant {
namespace {

constexpr DWORD kTlsStateChanged = 14; // the cache header's counter of TLS state changes
constexpr DWORD kInitialEntrySize = 2048;
constexpr DWORD kAlwaysClearedEntries = SPARSE_CACHE_ENTRY | EDITED_CACHE_ENTRY | STICKY_CACHE_ENTRY;

// A find handle of the URL cache, closed through the table it came from.
class ScopedCacheFind {
public:
    ScopedCacheFind(HANDLE find, const UrlCacheApi& api) : find_(find), api_(api) {}
    ~ScopedCacheFind()
    {
        if (find_)
            api_.findClose(find_);
    }
    ScopedCacheFind(const ScopedCacheFind&) = delete;
    ScopedCacheFind& operator=(const ScopedCacheFind&) = delete;
    HANDLE Get() const { return find_; }

private:
    HANDLE find_;
    const UrlCacheApi& api_;
};

// An entry buffer that grows to what the cache asks for; kept 8-byte aligned for the record.
class EntryBuffer {
public:
    EntryBuffer() { Resize(kInitialEntrySize); }
    void Resize(DWORD bytes) { storage_.resize((bytes + 7) / 8); }
    DWORD Size() const { return static_cast<DWORD>(storage_.size() * 8); }
    INTERNET_CACHE_ENTRY_INFOW* Entry()
    {
        return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(storage_.data());
    }

private:
    std::vector<std::uint64_t> storage_;
};

void DeleteCacheGroups(const UrlCacheApi& api)
{
    GROUPID group = 0;
    ScopedCacheFind find(api.findFirstGroup(0, CACHEGROUP_SEARCH_ALL, nullptr, 0, &group, nullptr), api);
    if (!find.Get())
        return;
    do {
        api.deleteGroup(group, CACHEGROUP_FLAG_FLUSHURL_ONDELETE, nullptr);
    } while (api.findNextGroup(find.Get(), &group, nullptr));
}

void DeleteCacheEntries(DWORD filter, const UrlCacheApi& api)
{
    EntryBuffer buffer;
    HANDLE first = nullptr;
    for (;;) {
        DWORD size = buffer.Size();
        first = api.findFirstEntry(nullptr, 0, filter, 0, buffer.Entry(), &size, nullptr, nullptr, nullptr);
        if (first || GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.Size())
            break;
        buffer.Resize(size);
    }
    ScopedCacheFind find(first, api);
    if (!find.Get())
        return;
    for (;;) {
        api.deleteEntry(buffer.Entry()->lpszSourceUrlName);
        BOOL next = FALSE;
        for (;;) {
            DWORD size = buffer.Size();
            next = api.findNextEntry(find.Get(), buffer.Entry(), &size, nullptr, nullptr, nullptr);
            if (next || GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.Size())
                break;
            buffer.Resize(size);
        }
        if (!next)
            return; // normally the end of the enumeration
    }
}

} // namespace

bool ClearTlsState(const wchar_t* targetName, const TlsCleanupApi& api)
{
    if (!api.sslEmptyCache || !api.sslEmptyCache(const_cast<LPWSTR>(targetName), 0))
        return false;
    api.internetSetOption(nullptr, INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0);
    if (api.incrementUrlCacheHeaderData) {
        DWORD data = 0;
        api.incrementUrlCacheHeaderData(kTlsStateChanged, &data);
    }
    return true;
}

bool ClearTlsState(const wchar_t* targetName)
{
    // By its full path: a bare name would be looked for beside the program first.
    const std::wstring path = SystemLibraryPath(L"schannel.dll");
    const ScopedModule schannel(path.empty() ? nullptr : LoadLibraryExW(path.c_str(), nullptr, 0));
    if (!schannel)
        return false;
    TlsCleanupApi api{};
    api.sslEmptyCache = reinterpret_cast<decltype(api.sslEmptyCache)>(
        reinterpret_cast<void (*)()>(GetProcAddress(schannel.Get(), "SslEmptyCacheW")));
    api.internetSetOption = InternetSetOptionW;
    if (const HMODULE wininet = GetModuleHandleW(L"wininet"))
        api.incrementUrlCacheHeaderData = reinterpret_cast<decltype(api.incrementUrlCacheHeaderData)>(
            reinterpret_cast<void (*)()>(GetProcAddress(wininet, "IncrementUrlCacheHeaderData")));
    return ClearTlsState(targetName, api);
}

DWORD ClearUrlCache(DWORD flags, IUrlHistoryStg2* history, const UrlCacheApi& api)
{
    if (flags & kClearHistory) {
        ComPtr<IUrlHistoryStg2> own;
        if (!history && SUCCEEDED(CoCreateInstance(CLSID_CUrlHistory, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_IUrlHistoryStg2, own.ReceiveVoid())))
            history = own.Get();
        if (history)
            history->ClearHistory();
    }
    if (!(flags & (kClearTemporaryFiles | kClearCookies)))
        return 0;
    DeleteCacheGroups(api);
    DWORD filter = kAlwaysClearedEntries;
    if (flags & kClearTemporaryFiles)
        filter |= NORMAL_CACHE_ENTRY;
    if (flags & kClearCookies)
        filter |= COOKIE_CACHE_ENTRY;
    DeleteCacheEntries(filter, api);
    return 0;
}

DWORD ClearUrlCache(DWORD flags)
{
    return ClearUrlCache(flags, nullptr, SystemUrlCacheApi());
}

const UrlCacheApi& SystemUrlCacheApi()
{
    static const UrlCacheApi api{FindFirstUrlCacheGroup,    FindNextUrlCacheGroup,    DeleteUrlCacheGroup,
                                 FindFirstUrlCacheEntryExW, FindNextUrlCacheEntryExW, DeleteUrlCacheEntryW,
                                 FindCloseUrlCache};
    return api;
}

} // namespace Velmora::Assistant
