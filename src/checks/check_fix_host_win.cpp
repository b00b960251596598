#include "checks/check_fix_host_win.h"

#include "checks/hosts_matcher.h"
#include "checks/scoped_redirection_win.h"
#include "common/file_write_win.h"
#include "common/system_folders_win.h"
#include "net/download_files_win.h"

#include <windows.h>

#include <vector>

namespace Velmora::Assistant {
namespace {

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

// Either the old or the new file is in place at every moment. The new file takes the old one's
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

    FileReplacement how;
    how.attributes = attributes;
    how.prepare = [&accessList](const std::wstring& newFile) {
        return accessList.empty() ||
               SetFileSecurityW(newFile.c_str(), DACL_SECURITY_INFORMATION, accessList.data()) != FALSE;
    };
    return SUCCEEDED(ReplaceWholeFile(path, bytes, how));
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
