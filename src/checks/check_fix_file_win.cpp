#include "checks/check_fix_file_win.h"

#include "checks/download_notify.h"
#include "checks/file_spec_win.h"
#include "checks/scoped_redirection_win.h"
#include "checks/verified_download_win.h"
#include "common/text_win.h"
#include "net/download_files_win.h"

namespace Velmora::Assistant {
namespace {

std::wstring EntryPath(const ConfigEntry& entry)
{
    return Network::ExpandPath(Utf8ToWide(entry.Text));
}

} // namespace

std::int32_t CheckFixFile::CheckEntry(ConfigEntry& entry)
{
    const std::wstring path = EntryPath(entry);
    if (path.empty())
        return kResultFailed;
    const ScopedRedirection guard(entry);
    return CheckFileSpec(entry, path);
}

std::int32_t CheckFixFile::FixEntry(ConfigEntry& entry)
{
    const std::string remote = ResolveRemoteUrl(TheCheckConfig(), entry.Attributes.Get("remote"));
    if (remote.empty())
        return kResultNotFixable;
    const std::wstring path = EntryPath(entry);
    if (path.empty())
        return kResultFailed;

    // Only a whole download that is what the entry asks for goes over the file.
    const HRESULT replaced = DownloadAndReplace(
        Utf8ToWide(remote), path, GetDownloadNotify(entry),
        [&entry](const std::wstring& download) { return CheckFileSpec(entry, download) == kResultPassed; },
        &entry);
    if (FAILED(replaced))
        return kResultFailed;
    return kResultPassed;
}

} // namespace Velmora::Assistant
