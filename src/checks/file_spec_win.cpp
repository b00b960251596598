#include "checks/file_spec_win.h"

#include "checks/check_fix.h"
#include "checks/digest.h"
#include "checks/version_spec.h"
#include "common/scoped_handle_win.h"
#include "sysinfo/file_version_win.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace Velmora::Assistant {
namespace {

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// `file`: a path, or a handle open for reading.
template <typename File>
bool DigestDiffers(const ConfigEntry& entry, const char* attribute, const File& file, int kind)
{
    const std::string& wanted = entry.Attributes.Get(attribute);
    return !wanted.empty() && FileDigestHex(file, kind) != AsciiLower(wanted);
}

template <typename File> bool DigestsMatch(const ConfigEntry& entry, const File& file)
{
    return !DigestDiffers(entry, "md5", file, kDigestMd5) &&
           !DigestDiffers(entry, "sha1", file, kDigestSha1) &&
           !DigestDiffers(entry, "sha256", file, kDigestSha256);
}

} // namespace

std::string FileDigestHex(const std::wstring& path, int kind)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return {};
    return FileDigestHex(file.Get(), kind);
}

std::string FileDigestHex(HANDLE file, int kind)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return {};
    return StreamDigestHex(
        [file](void* buffer, std::size_t capacity) -> std::int64_t {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, INT_MAX));
            if (!ReadFile(file, buffer, want, &got, nullptr))
                return -1;
            return got;
        },
        kind);
}

bool FileDigestsMatch(const ConfigEntry& entry, const std::wstring& path)
{
    return DigestsMatch(entry, path);
}

bool FileDigestsMatch(const ConfigEntry& entry, HANDLE file)
{
    return DigestsMatch(entry, file);
}

std::int32_t CheckFileSpec(const ConfigEntry& entry, const std::wstring& path)
{
    if (!IsFile(path))
        return kResultFailed;

    const std::string& version = entry.Attributes.Get("version");
    if (!version.empty()) {
        VS_FIXEDFILEINFO info = {};
        if (!ReadFileVersion(path, &info))
            return kResultMismatch;
        if (!VersionSatisfies(ParseVersionSpec(version), info.dwFileVersionMS, info.dwFileVersionLS))
            return kResultMismatch;
    }
    if (!FileDigestsMatch(entry, path))
        return kResultMismatch;
    return kResultPassed;
}

} // namespace Velmora::Assistant
