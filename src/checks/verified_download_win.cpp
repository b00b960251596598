#include "checks/verified_download_win.h"

#include "net/download_files_win.h"
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
                           const DownloadAcceptFn& accept)
{
    // A download left by an earlier attempt must not pass for this one (an HTTP error writes none).
    const std::wstring download = PartialDownloadPath(target);
    RemoveDownload(download);

    Network::DownloadProgressFn progress;
    if (notify.function)
        progress = [function = notify.function](const Network::DownloadProgress& report) {
            function(report);
        };
    HRESULT status = Network::ProcessAgent().DownloadFile(url, download.c_str(), progress, notify.userValue);

    // A transfer cut short without a declared length looks finished: only `accept` can tell.
    if (SUCCEEDED(status) && (!Network::FileExists(download.c_str()) || !accept(download)))
        status = E_FAIL;
    if (SUCCEEDED(status))
        status = Network::ReplaceFile(download.c_str(), target.c_str());
    if (FAILED(status))
        RemoveDownload(download);
    return status;
}

} // namespace Velmora::Assistant
