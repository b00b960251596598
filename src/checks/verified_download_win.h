#pragma once
// Downloads that replace a file only with bytes that were completely received and accepted: the
// transfer goes to "<target>.download" beside the target and is moved over it at the end, so a cut
// or refused download never leaves anything under the target's name.

#include "checks/check_config.h"
#include "checks/download_notify.h"

#include <windows.h>

#include <functional>
#include <string>

namespace Velmora::Assistant {

// Judges the finished download, at the path it is given, before it takes the target's place.
using DownloadAcceptFn = std::function<bool(const std::wstring& downloaded)>;

// The name a download of `target` is received under until it is complete.
std::wstring PartialDownloadPath(const std::wstring& target);

// Downloads `url` with progress routed as `notify` says. Returns what ReplaceFile returned for the
// move (0 done, 1 scheduled for the next restart), or a failure: the transfer's, or E_FAIL when no
// file arrived (an HTTP error) or `accept` refused it. On failure the partial file is removed and
// `target` is as it was; a partial file left by an earlier attempt is removed before the transfer.
// With `entry`, `target` lies where that entry's ScopedRedirection reaches (the 64-bit side for a
// bit="64" entry under WOW64): the files are handled there, and `accept` runs there too.
HRESULT DownloadAndReplace(const std::wstring& url, const std::wstring& target, const DownloadNotify& notify,
                           const DownloadAcceptFn& accept, const ConfigEntry* entry = nullptr);

} // namespace Velmora::Assistant
