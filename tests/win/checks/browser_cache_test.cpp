#include "checks/browser_cache_win.h"

#include "common/scoped_handle_win.h"
#include "ui/com_class_win.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

// ---- TLS state: Schannel's cache call is a stub under Wine, so the whole table is recorded.

struct TlsCalls {
    BOOL emptyResult = TRUE;
    std::vector<std::wstring> emptied; // "(all)" for no target name
    std::vector<DWORD> options;
    std::vector<DWORD> increments;
} g_tls;

BOOL WINAPI RecordEmpty(LPWSTR target, DWORD)
{
    g_tls.emptied.push_back(target ? target : L"(all)");
    return g_tls.emptyResult;
}
BOOL WINAPI RecordOption(HINTERNET handle, DWORD option, LPVOID, DWORD)
{
    g_tls.options.push_back(handle ? 0xFFFFFFFF : option);
    return TRUE;
}
BOOL WINAPI RecordIncrement(DWORD index, LPDWORD)
{
    g_tls.increments.push_back(index);
    return TRUE;
}

TEST(ClearTlsState, EndsTheSessionOnlyAfterTheCacheWasEmptied)
{
    struct Case {
        const char* what;
        bool haveEmpty, emptySucceeds, haveIncrement;
        bool result;
        std::vector<DWORD> options, increments;
    } cases[] = {
        {"everything there", true, true, true, true, {42}, {14}},
        {"no header counter", true, true, false, true, {42}, {}},
        {"the cache refuses", true, false, true, false, {}, {}},
        {"no cache function", false, true, true, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_tls = {};
        g_tls.emptyResult = c.emptySucceeds;
        const TlsCleanupApi api{c.haveEmpty ? RecordEmpty : nullptr, RecordOption,
                                c.haveIncrement ? RecordIncrement : nullptr};
        EXPECT_EQ(ClearTlsState(nullptr, api), c.result);
        EXPECT_EQ(g_tls.emptied,
                  c.haveEmpty ? std::vector<std::wstring>{L"(all)"} : std::vector<std::wstring>{});
        EXPECT_EQ(g_tls.options, c.options);
        EXPECT_EQ(g_tls.increments, c.increments);
    }
    g_tls = {};
    const TlsCleanupApi api{RecordEmpty, RecordOption, RecordIncrement};
    EXPECT_TRUE(ClearTlsState(L"bank.example.com", api));
    EXPECT_EQ(g_tls.emptied, std::vector<std::wstring>{L"bank.example.com"});
}

// ---- URL cache: the real cache of the prefix. Wine has no cache groups and no filtered ("Ex")
// enumeration, so those are written as Windows behaves, the filter over the real plain enumeration.

struct GroupCalls {
    std::vector<GROUPID> groups;
    std::size_t next = 0;
    std::vector<std::pair<GROUPID, DWORD>> deleted;
} g_groups;
const HANDLE kGroupFind = reinterpret_cast<HANDLE>(0x6A00);

HANDLE WINAPI FirstGroup(DWORD, DWORD, LPVOID, DWORD, GROUPID* group, LPVOID)
{
    g_groups.next = 0;
    if (g_groups.groups.empty()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return nullptr;
    }
    *group = g_groups.groups[g_groups.next++];
    return kGroupFind;
}
BOOL WINAPI NextGroup(HANDLE, GROUPID* group, LPVOID)
{
    if (g_groups.next == g_groups.groups.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    *group = g_groups.groups[g_groups.next++];
    return TRUE;
}
BOOL WINAPI DeleteGroup(GROUPID group, DWORD flags, LPVOID)
{
    g_groups.deleted.emplace_back(group, flags);
    return TRUE;
}

DWORD g_filter = 0;
std::vector<DWORD> g_offeredSizes; // buffer sizes the enumeration was given

// Steps the real enumeration on to the next entry that the filter selects.
BOOL NextSelected(HANDLE find, LPINTERNET_CACHE_ENTRY_INFOW entry, LPDWORD size, DWORD capacity, BOOL found)
{
    while (found && !(entry->CacheEntryType & g_filter)) {
        *size = capacity;
        found = FindNextUrlCacheEntryW(find, entry, size);
    }
    return found;
}
HANDLE WINAPI FirstEntryEx(LPCWSTR pattern, DWORD, DWORD filter, GROUPID, LPINTERNET_CACHE_ENTRY_INFOW entry,
                           LPDWORD size, LPVOID, LPDWORD, LPVOID)
{
    g_filter = filter;
    g_offeredSizes.push_back(*size);
    const DWORD capacity = *size;
    HANDLE find = FindFirstUrlCacheEntryW(pattern, entry, size);
    if (find && !NextSelected(find, entry, size, capacity, TRUE)) {
        const DWORD error = GetLastError();
        FindCloseUrlCache(find);
        SetLastError(error);
        return nullptr;
    }
    return find;
}
BOOL WINAPI NextEntryEx(HANDLE find, LPINTERNET_CACHE_ENTRY_INFOW entry, LPDWORD size, LPVOID, LPDWORD,
                        LPVOID)
{
    g_offeredSizes.push_back(*size);
    const DWORD capacity = *size;
    return NextSelected(find, entry, size, capacity, FindNextUrlCacheEntryW(find, entry, size));
}
BOOL WINAPI CloseFind(HANDLE find)
{
    return find == kGroupFind ? TRUE : FindCloseUrlCache(find);
}

const UrlCacheApi kApi{FirstGroup,           NextGroup, DeleteGroup, FirstEntryEx, NextEntryEx,
                       DeleteUrlCacheEntryW, CloseFind};

VELMORA_COM_CLASSES_BEGIN
// ClearHistory as Windows does it: the history entries of the URL cache go.
class FakeHistory final : public IUrlHistoryStg2 {
public:
    int cleared = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE AddUrl(LPCOLESTR, LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteUrl(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryUrl(LPCOLESTR, DWORD, LPSTATURL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(LPCOLESTR, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumUrls(IEnumSTATURL**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddUrlAndNotify(LPCOLESTR, LPCOLESTR, DWORD, BOOL, IOleCommandTarget*,
                                              IUnknown*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearHistory() override
    {
        ++cleared;
        std::vector<std::wstring> visited;
        std::vector<std::uint64_t> buffer(1024);
        auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
        DWORD size = static_cast<DWORD>(buffer.size() * 8);
        HANDLE find = FindFirstUrlCacheEntryW(L"Visited:", entry, &size);
        for (BOOL found = find != nullptr; found; found = FindNextUrlCacheEntryW(find, entry, &size)) {
            visited.push_back(entry->lpszSourceUrlName);
            size = static_cast<DWORD>(buffer.size() * 8);
        }
        if (find)
            FindCloseUrlCache(find);
        for (const std::wstring& url : visited)
            DeleteUrlCacheEntryW(url.c_str());
        return S_OK;
    }
};
VELMORA_COM_CLASSES_END

const std::wstring kLongUrl = L"http://velmora.test/long?" + std::wstring(3000, L'x');
const std::map<std::wstring, DWORD> kEntries = {
    {L"http://velmora.test/normal", NORMAL_CACHE_ENTRY},
    {L"http://velmora.test/sticky", NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY},
    {kLongUrl, NORMAL_CACHE_ENTRY},
    {L"Cookie:user@velmora.test/", COOKIE_CACHE_ENTRY},
    {L"Visited: user@http://velmora.test/", URLHISTORY_CACHE_ENTRY},
};

// A cache entry as the browser leaves one: sticky entries need their local file.
bool AddToCache(const std::wstring& url, DWORD type)
{
    DeleteUrlCacheEntryW(url.c_str());
    wchar_t file[MAX_PATH] = L"";
    const bool withFile = !(type & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY));
    if (withFile) {
        if (!CreateUrlCacheEntryW(url.c_str(), 1, L"htm", file, 0))
            return false;
        ScopedHandle handle(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!handle || !WriteFile(handle.Get(), "x", 1, &written, nullptr))
            return false;
    }
    FILETIME never{};
    return CommitUrlCacheEntryW(url.c_str(), withFile ? file : nullptr, never, never, type, nullptr, 0,
                                nullptr, nullptr);
}

bool InCache(const std::wstring& url)
{
    DWORD size = 0;
    return GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size) || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

std::set<std::wstring> Remaining()
{
    std::set<std::wstring> left;
    for (const auto& [url, type] : kEntries)
        if (InCache(url))
            left.insert(url == kLongUrl ? L"long" : url);
    return left;
}

TEST(ClearUrlCache, EachOptionBitClearsItsKindOfEntryFromTheRealCache)
{
    const std::wstring normal = L"http://velmora.test/normal", sticky = L"http://velmora.test/sticky",
                       cookie = L"Cookie:user@velmora.test/", visited = L"Visited: user@http://velmora.test/";
    struct Case {
        DWORD flags;
        std::set<std::wstring> left;
        bool history, groups;
    } cases[] = {
        {0, {normal, sticky, L"long", cookie, visited}, false, false},
        {1, {normal, sticky, L"long", cookie}, true, false},
        {2, {cookie, visited}, false, true},
        {4, {normal, L"long", visited}, false, true}, // sticky entries go with every kind
        {3, {cookie}, true, true},
        {7, {}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        for (const auto& [url, type] : kEntries)
            ASSERT_TRUE(AddToCache(url, type)) << GetLastError();
        ASSERT_EQ(Remaining().size(), kEntries.size());
        g_groups = {};
        g_groups.groups = {7, 9};
        g_offeredSizes.clear();
        FakeHistory history;

        EXPECT_EQ(ClearUrlCache(c.flags, &history, kApi), 0u);
        EXPECT_EQ(Remaining(), c.left);
        EXPECT_EQ(history.cleared, c.history ? 1 : 0);
        using Deleted = std::vector<std::pair<GROUPID, DWORD>>;
        EXPECT_EQ(g_groups.deleted, (c.groups ? Deleted{{7, 2}, {9, 2}} : Deleted{}));
        if (c.groups) {
            ASSERT_FALSE(g_offeredSizes.empty());
            EXPECT_EQ(g_offeredSizes.front(), 2048u);
            EXPECT_EQ(g_filter, 0x1000Cu | (c.flags & 2 ? 1u : 0u) | (c.flags & 4 ? 0x100000u : 0u));
        }
    }
    for (const auto& [url, type] : kEntries)
        DeleteUrlCacheEntryW(url.c_str());
}

} // namespace
} // namespace Velmora::Assistant
