#pragma once
// How an install hands a download's progress function to the handlers that download for it: two
// attributes on the entry, "<downloadnotify>" (the function's address) and "<para>" (the caller's
// value), both as unsigned decimal 64-bit numbers. No attribute read from a document can have
// these names, so a check document can never set them. An entry without them downloads silently.

#include "checks/check_config.h"
#include "net/download_progress.h"

#include <cstdint>
#include <string_view>

namespace Velmora::Assistant {

inline constexpr std::string_view kDownloadNotifyAttribute = "<downloadnotify>";
inline constexpr std::string_view kDownloadParaAttribute = "<para>";

using DownloadNotifyFn = void (*)(const Network::DownloadProgress& progress);

struct DownloadNotify {
    DownloadNotifyFn function = nullptr; // null: no progress reports
    std::uint32_t userValue = 0;         // handed back in DownloadProgress::userValue
};

// Replaces what an earlier install left on the entry; a null function is written as "0". The user
// value is sign-extended, as the page's numbers may be negative.
void SetDownloadNotify(ConfigEntry& entry, DownloadNotifyFn function, std::int32_t userValue);

// Reads both back. Text that is not a plain decimal number, or an address that does not fit a
// pointer, counts as no function (or a user value of 0).
DownloadNotify GetDownloadNotify(const ConfigEntry& entry);

} // namespace Velmora::Assistant
