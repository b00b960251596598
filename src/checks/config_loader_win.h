#pragma once
// Where the check configuration comes from: a local file, or an http(s) URL whose last good copy
// is kept in a per-machine folder only administrators can change, for the times the server cannot
// be reached.

#include "checks/check_config.h"

#include <windows.h>

#include <functional>
#include <string>

namespace Velmora::Network {
class CWinHttpAgent;
} // namespace Velmora::Network

namespace Velmora::Assistant {

// Downloads `url` into `body`. An answer with HTTP status 400 or above is a success with an empty
// body.
using ConfigFetch = std::function<HRESULT(const std::wstring& url, std::string* body)>;

// Status of a load: a freshly downloaded (or local) document was parsed.
constexpr HRESULT kConfigLoaded = 0;
// The download failed and the cached copy was parsed.
constexpr HRESULT kConfigFromCache = 1;

// Whether a cached copy may be used, judged from its file's owner and DACL. The elevated program
// runs the installers that the copy names, while the cache folder belongs to the customer's own
// account, so by default only a file that nobody but Administrators and SYSTEM owns or may change
// is used.
using CacheTrust = std::function<bool(PSECURITY_DESCRIPTOR descriptor)>;
bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor);
// The same rule with `privileged` telling which accounts count.
bool OnlyTheseCanChange(PSECURITY_DESCRIPTOR descriptor, const std::function<bool(PSID)>& privileged);

// Clears `config` and fills it from `source`: a path, or a URL starting with "http" fetched with
// `fetch`. Returns kConfigLoaded, kConfigFromCache, or a negative status: the fetch's or the file
// reader's own, E_NOTIMPL for a resource number in place of a string, E_FAIL when the text does not
// parse or has no `checkitems` root. The cached copy is written so that only Administrators and
// SYSTEM may change it, and read only when `trust` accepts it (a debug trace says when not).
HRESULT LoadCheckConfig(CheckConfig& config, const wchar_t* source, const ConfigFetch& fetch,
                        const CacheTrust& trust = OnlyAdministratorsCanChange);

// Downloads through `agent`, which must outlive the function.
ConfigFetch FetchThrough(Network::CWinHttpAgent& agent);

// The process's configuration, downloaded through the process's HTTP agent.
HRESULT LoadCheckConfig(const wchar_t* source);

// "<the machine's program data>\Velmora\Assistant\<md5 of the UTF-8 URL>.mdc", in folders only
// administrators can change (made or taken over on the way); empty when they cannot be had. A copy
// in the per-user Internet cache, where earlier versions kept it, is never read.
std::wstring ConfigCachePath(const std::wstring& url);

} // namespace Velmora::Assistant
