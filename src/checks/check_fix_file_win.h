#pragma once
// `file` entries: a file (environment variables allowed in its path) is present in the wanted
// version or digest; the repair downloads it from `remote` and moves it into place, also over a
// file that is in use.

#include "checks/check_fix.h"

namespace Velmora::Assistant {

class CheckFixFile : public ICheckFix {
public:
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // -1 without `remote`. Downloads to "<path>.download" with the progress routing of the entry's
    // DownloadNotify, and replaces the file only with a download that finished and meets the entry's
    // `version`, `md5` and `sha1`; otherwise the file is left as it was (-2).
    std::int32_t FixEntry(ConfigEntry& entry) override;
};

} // namespace Velmora::Assistant
