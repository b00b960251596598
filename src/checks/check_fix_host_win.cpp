#include "checks/check_fix_host_win.h"

#include "checks/hosts_matcher.h"
#include "checks/scoped_redirection_win.h"
#include "common/scoped_handle_win.h"
#include "common/system_folders_win.h"
#include "net/download_files_win.h"

#include <windows.h>

#include <utility>
#include <vector>

namespace Velmora::Assistant {
namespace {

// Removes the temporary file unless it has taken the hosts file's place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    ~TemporaryFile()
    {
        if (path_.empty())
            return;
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::wstring& Path() const { return path_; }
    void Keep() { path_.clear(); }

private:
    std::wstring path_;
};

// The file's access list with its inheritance state, as a self-relative security descriptor.
bool ReadAccessList(const std::wstring& path, std::vector<BYTE>* descriptor)
{
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0)
        return false;
    descriptor->assign(needed, 0);
    return GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor->data(), needed, &needed) !=
           FALSE;
}

// Either the old or the new file is in place at every moment: the new content is written and
// flushed beside the file, then moved over it in one step. The new file takes the old one's
// attributes and access list, so a permission a protection tool set survives the repair.
bool ReplaceFileContent(const std::wstring& path, const std::string& bytes)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    std::vector<BYTE> accessList;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        attributes = FILE_ATTRIBUTE_NORMAL; // gone since the load: it is created again
    else if (!ReadAccessList(path, &accessList))
        return false; // its protection could not be carried over
    // Someone protected the file; Windows refuses to replace it as well.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    attributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;

    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return false;
    const std::wstring folder = path.substr(0, slash);
    wchar_t name[MAX_PATH] = {};
    if (!GetTempFileNameW(folder.c_str(), L"hst", 0, name))
        return false;
    TemporaryFile temporary(name);

    // The attributes are set after writing: creating over the existing temporary file may ignore them.
    if (FAILED(Network::WriteWholeFile(temporary.Path().c_str(), bytes)) ||
        !SetFileAttributesW(temporary.Path().c_str(), attributes))
        return false;
    if (!accessList.empty() &&
        !SetFileSecurityW(temporary.Path().c_str(), DACL_SECURITY_INFORMATION, accessList.data()))
        return false;
    {
        ScopedHandle file(CreateFileW(temporary.Path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        if (!file || !FlushFileBuffers(file.Get()))
            return false;
    }
    if (!MoveFileExW(temporary.Path().c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    temporary.Keep();
    return true;
}

} // namespace

std::wstring HostsFilePath()
{
    const std::wstring windows = WindowsFolder();
    return windows.empty() ? std::wstring() : windows + L"\\system32\\drivers\\etc\\hosts";
}

std::int32_t CheckFixHost::Load()
{
    const std::wstring path = HostsFilePath();
    if (path.empty())
        return kResultFailed;
    std::string bytes;
    {
        const ScopedRedirection guard;
        const HRESULT read = Network::ReadWholeFile(path.c_str(), &bytes);
        // No file redirects nothing: it loads as an empty one.
        if (FAILED(read) && read != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) &&
            read != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
            return kResultFailed;
    }
    hostsText_ = LoadHostsText(bytes, &hadCrLf_);
    loaded_ = true;
    changed_ = false;
    return kResultPassed;
}

std::int32_t CheckFixHost::BeginCheck()
{
    return Load();
}

std::int32_t CheckFixHost::CheckEntry(ConfigEntry& entry)
{
    if (!loaded_ || IsHostRedirected(hostsText_, entry.Text))
        return kResultFailed;
    return kResultPassed;
}

std::int32_t CheckFixHost::BeginFix()
{
    return Load();
}

std::int32_t CheckFixHost::FixEntry(ConfigEntry& entry)
{
    if (!loaded_)
        return kResultFailed;
    // A pass takes a redirect's closing line feed with it, so of two adjacent redirects only the
    // first goes; passes are repeated until none is left (each halves a run of adjacent ones).
    while (RemoveHostRedirects(hostsText_, entry.Text))
        changed_ = true;
    return kResultPassed;
}

std::int32_t CheckFixHost::EndFix()
{
    if (!loaded_)
        return kResultFailed;
    if (!changed_)
        return kResultPassed;
    const std::wstring path = HostsFilePath();
    if (path.empty())
        return kResultFailed;
    const ScopedRedirection guard;
    if (!ReplaceFileContent(path, HostsTextToFile(hostsText_, hadCrLf_)))
        return kResultFailed;
    changed_ = false;
    return kResultPassed;
}

} // namespace Velmora::Assistant
