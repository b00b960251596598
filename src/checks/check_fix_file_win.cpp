#include "checks/check_fix_file_win.h"

#include "checks/download_notify.h"
#include "checks/file_spec_win.h"
#include "checks/scoped_redirection_win.h"
#include "common/text_win.h"
#include "net/download_files_win.h"
#include "net/http_agent_win.h"

namespace Velmora::Assistant {
namespace {

std::wstring EntryPath(const ConfigEntry& entry)
{
    return Network::ExpandPath(Utf8ToWide(entry.Text));
}

void RemoveDownload(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
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
    const ScopedRedirection guard(entry);
    const std::string remote = ResolveRemoteUrl(TheCheckConfig(), entry.Attributes.Get("remote"));
    if (remote.empty())
        return kResultNotFixable;
    const std::wstring path = EntryPath(entry);
    if (path.empty())
        return kResultFailed;

    // A download left by an earlier attempt must not pass for this one (an HTTP error writes none).
    const std::wstring download = path + L".download";
    RemoveDownload(download);

    const DownloadNotify notify = GetDownloadNotify(entry);
    Network::DownloadProgressFn progress;
    if (notify.function)
        progress = [function = notify.function](const Network::DownloadProgress& report) {
            function(report);
        };
    const HRESULT downloaded = Network::ProcessAgent().DownloadFile(Utf8ToWide(remote), download.c_str(),
                                                                    progress, notify.userValue);

    // Only a whole download that is what the entry asks for goes over the file: a transfer cut short
    // without a declared length looks finished, but not to its digest or version.
    if (FAILED(downloaded) || CheckFileSpec(entry, download) != kResultPassed ||
        Network::ReplaceFile(download.c_str(), path.c_str()) < 0) {
        RemoveDownload(download);
        return kResultFailed;
    }
    return kResultPassed;
}

} // namespace Velmora::Assistant
