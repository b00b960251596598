#include "checks/verified_download_win.h"

#include "checks/scoped_redirection_win.h"
#include "net/download_files_win.h"
#include "net/download_progress.h"
#include "net/http_agent_win.h"

namespace Velmora::Assistant {
namespace {

void RemoveDownload(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

} // namespace

std::wstring PartialDownloadPath(const std::wstring& target)
{
    return target + L".download";
}

HRESULT DownloadAndReplace(const std::wstring& url, const std::wstring& target, const DownloadNotify& notify,
                           const DownloadAcceptFn& accept, const ConfigEntry* entry)
{
    const bool otherSide = entry && ScopedRedirection::Reaches64BitSide(*entry);
    // A download left by an earlier attempt must not pass for this one (an HTTP error writes none).
    const std::wstring download = PartialDownloadPath(target);
    {
        const ScopedRedirection guard(otherSide);
        RemoveDownload(download);
    }

    Network::DownloadProgressFn progress;
    if (notify.function)
        progress = [function = notify.function](const Network::DownloadProgress& report) {
            function(report);
        };
    // The transfer runs with redirection on: the system libraries that load during it are found
    // only through redirection. It reaches the 64-bit system folder through its alias instead.
    const std::wstring received = otherSide ? NativeSystemAlias(download) : download;
    HRESULT status = Network::ProcessAgent().DownloadFile(url, received.c_str(), progress, notify.userValue);

    // Only file operations from here on.
    const ScopedRedirection guard(otherSide);
    // A transfer cut short without a declared length looks finished: only `accept` can tell.
    if (SUCCEEDED(status) && !Network::FileExists(download.c_str())) {
        status = E_FAIL; // an HTTP error, already reported
    } else if (SUCCEEDED(status) && !accept(download)) {
        status = E_FAIL;
        // The transfer's last report said it was complete: the file's refusal is reported as a
        // failed transfer is, or the page would show the download as done.
        if (progress)
            progress(Network::MakeDownloadProgress(Network::DownloadReport::Failed,
                                                   static_cast<std::uint32_t>(status), 0, url.c_str(),
                                                   received.c_str(), notify.userValue));
    }
    if (SUCCEEDED(status))
        status = Network::ReplaceFile(download.c_str(), target.c_str());
    if (FAILED(status))
        RemoveDownload(download);
    return status;
}

} // namespace Velmora::Assistant
