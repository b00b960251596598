#pragma once
// Cleanup behind the built-in `cache` check: the TLS session cache, browsing history, temporary
// files and cookies. The WinINet and Schannel calls come through tables so that a platform without
// some of them can stand in; the forms without a table use the system's own.

#include <urlhist.h>
#include <windows.h>
#include <wininet.h>

namespace Velmora::Assistant {

struct TlsCleanupApi {
    BOOL(WINAPI* sslEmptyCache)(LPWSTR targetName, DWORD flags); // null: the system has none
    BOOL(WINAPI* internetSetOption)(HINTERNET, DWORD option, LPVOID buffer, DWORD length);
    BOOL(WINAPI* incrementUrlCacheHeaderData)(DWORD index, LPDWORD data); // null when missing
};

struct UrlCacheApi {
    HANDLE(WINAPI* findFirstGroup)
    (DWORD flags, DWORD filter, LPVOID condition, DWORD conditionSize, GROUPID* group, LPVOID reserved);
    BOOL(WINAPI* findNextGroup)(HANDLE find, GROUPID* group, LPVOID reserved);
    BOOL(WINAPI* deleteGroup)(GROUPID group, DWORD flags, LPVOID reserved);
    HANDLE(WINAPI* findFirstEntry)
    (LPCWSTR pattern, DWORD flags, DWORD filter, GROUPID group, LPINTERNET_CACHE_ENTRY_INFOW entry,
     LPDWORD entrySize, LPVOID groupAttributes, LPDWORD groupAttributesSize, LPVOID reserved);
    BOOL(WINAPI* findNextEntry)
    (HANDLE find, LPINTERNET_CACHE_ENTRY_INFOW entry, LPDWORD entrySize, LPVOID groupAttributes,
     LPDWORD groupAttributesSize, LPVOID reserved);
    BOOL(WINAPI* deleteEntry)(LPCWSTR url);
    BOOL(WINAPI* findClose)(HANDLE find);
};

// Option bits of ClearUrlCache.
inline constexpr DWORD kClearHistory = 1;
inline constexpr DWORD kClearTemporaryFiles = 2;
inline constexpr DWORD kClearCookies = 4;

// Empties Schannel's session cache for `targetName` (null: every entry) and ends the browser's
// session so that new connections negotiate afresh. False when the cache cannot be emptied.
bool ClearTlsState(const wchar_t* targetName, const TlsCleanupApi& api);
bool ClearTlsState(const wchar_t* targetName);

// Clears what `flags` selects. History goes through `history` (null: the system's own); temporary
// files and cookies go with every cache group, then entry by entry. Failures are silent: always 0.
DWORD ClearUrlCache(DWORD flags, IUrlHistoryStg2* history, const UrlCacheApi& api);
DWORD ClearUrlCache(DWORD flags);

// The system's WinINet functions.
const UrlCacheApi& SystemUrlCacheApi();

} // namespace Velmora::Assistant
