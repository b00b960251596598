#include "checks/config_loader_win.h"

#include "checks/digest.h"
#include "common/file_write_win.h"
#include "common/last_error_win.h"
#include "common/option_table.h"
#include "common/protected_folder_win.h"
#include "common/scoped_handle_win.h"
#include "common/system_folders_win.h"
#include "common/text_win.h"
#include "net/download_files_win.h"
#include "net/http_agent_win.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

namespace Velmora::Assistant {
namespace {

bool IsHttpSource(const std::wstring& source)
{
    return source.size() >= 4 && CompareStringOrdinal(source.c_str(), 4, L"http", 4, TRUE) == CSTR_EQUAL;
}

// The elevated program runs the installers that the cached document names, and the cache folder
// belongs to the customer's own account: only Administrators and SYSTEM may change the copy.
constexpr wchar_t kCacheSecurity[] = L"O:BAG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

bool IsAdministratorsOrSystem(PSID sid)
{
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// A failed write leaves the previous copy intact. The new file is created with its final security,
// so no other account ever holds a handle that could write it.
HRESULT WriteCacheFile(const std::wstring& path, const std::string& bytes)
{
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kCacheSecurity, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return LastErrorHresult();
    const ScopedLocal held(static_cast<HLOCAL>(descriptor));
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};

    FileReplacement how;
    how.attributes = attributes;
    how.security = &security;
    how.prepare = [&path](const std::wstring&) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); // a read-only old copy must not stay
        return true;
    };
    const HRESULT status = ReplaceWholeFile(path, bytes, how);
    if (FAILED(status))
        return status;
    // A file that already existed keeps its own attributes through the move; make sure of them.
    SetFileAttributesW(path.c_str(), attributes);
    return S_OK;
}

// The cached copy, read through the handle whose security was judged; a copy that `trust` does not
// accept is ignored.
HRESULT ReadCacheFile(const std::wstring& path, const CacheTrust& trust, std::string* bytes)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return LastErrorHresult();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        GetSecurityInfo(file.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, nullptr, &descriptor);
    const ScopedLocal held(static_cast<HLOCAL>(descriptor));
    if (error != ERROR_SUCCESS || !trust || !trust(descriptor)) {
        OutputDebugStringW(
            (L"check configuration cache ignored, another account could have written it: " + path + L"\n")
                .c_str());
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    return Network::ReadWholeFile(file.Get(), bytes);
}

std::string BaseOf(const std::string& url)
{
    const std::size_t slash = url.rfind('/');
    return slash == std::string::npos ? std::string() : url.substr(0, slash + 1);
}

} // namespace

bool OnlyTheseCanChange(PSECURITY_DESCRIPTOR descriptor, const std::function<bool(PSID)>& privileged)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner ||
        !privileged(owner))
        return false;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl)
        return false; // no DACL at all: anyone may write
    constexpr ACCESS_MASK kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                     GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) // conditional or object entries: not written by us
            return false;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kChanges) && !privileged(&allowed->SidStart))
            return false;
    }
    return true;
}

bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor)
{
    return OnlyTheseCanChange(descriptor, IsAdministratorsOrSystem);
}

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
    const std::wstring programData = KnownFolder(FOLDERID_ProgramData);
    if (programData.empty())
        return {};
    std::wstring folder = programData;
    for (const wchar_t* level : {L"\\Velmora", L"\\Assistant"}) {
        folder += level;
        if (!MakeProtectedFolder(folder))
            return {};
    }
    return folder + L'\\' + Utf8ToWide(DigestHex(WideToUtf8(url), kDigestMd5)) + L".mdc";
}

HRESULT LoadCheckConfig(CheckConfig& config, const wchar_t* source, const ConfigFetch& fetch,
                        const CacheTrust& trust)
{
    config.Clear();
    if (IS_INTRESOURCE(source))
        return E_NOTIMPL;
    const std::wstring name(source);

    std::string bytes;
    if (!IsHttpSource(name)) {
        if (const HRESULT status = Network::ReadWholeFile(name.c_str(), &bytes); FAILED(status))
            return status;
        if (!ParseCheckConfig(config, bytes)) {
            config.Clear();
            return E_FAIL;
        }
        config.FromCache = false;
        return kConfigLoaded;
    }

    // The document's own `base` attribute, parsed after it, wins over the folder of its URL.
    const auto parse = [&](const std::string& text) {
        config.Clear();
        config.RootAttributes.Set("base", BaseOf(WideToUtf8(name)));
        if (ParseCheckConfig(config, text))
            return true;
        config.Clear();
        return false;
    };
    HRESULT status = fetch ? fetch(name, &bytes) : E_NOTIMPL;
    const std::wstring cachePath =
        Options().Get(kOptionCacheCheckConfig) ? ConfigCachePath(name) : std::wstring();
    // An error page arrives as an empty body, and a maintenance or captive-portal page as one that
    // does not parse: neither is a document, and neither replaces the copy kept from the last good
    // download, which serves instead.
    bool fromCache = false;
    if (SUCCEEDED(status) && !bytes.empty() && parse(bytes)) {
        if (!cachePath.empty())
            WriteCacheFile(cachePath, bytes);
    } else {
        std::string cached;
        if (cachePath.empty() || FAILED(ReadCacheFile(cachePath, trust, &cached)) || !parse(cached))
            return FAILED(status) ? status : E_FAIL;
        fromCache = true;
    }
    config.SourceUrl = WideToUtf8(name);
    config.FromCache = fromCache;
    return fromCache ? kConfigFromCache : kConfigLoaded;
}

} // namespace Velmora::Assistant
