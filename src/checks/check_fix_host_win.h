#pragma once
// `host` entries: no line of the system hosts file redirects the entry's host name. The check
// loads the file once per run; the repair loads it afresh, so lines written since the check are
// kept, removes the redirecting lines from that text and writes the file back in one step.

#include "checks/check_fix.h"

#include <string>

namespace Velmora::Assistant {

// The Windows folder's system32\drivers\etc\hosts (the folder as the system tells it, not as the
// environment says); empty when the system cannot tell.
std::wstring HostsFilePath();

class CheckFixHost : public ICheckFix {
public:
    // Loads the file; -2 when it cannot be read (the text of an earlier load is kept). A missing
    // file loads as an empty one: it redirects nothing.
    std::int32_t BeginCheck() override;
    // -2 when the name is redirected (or nothing has been loaded), else 2.
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // Loads the file again, as the check does; -2 when it cannot be read (nothing is repaired).
    std::int32_t BeginFix() override;
    // Removes every line of the name from the loaded text, adjacent ones included. Refuses (-2)
    // while nothing has been loaded in this process: a repair works only on a text it has read.
    std::int32_t FixEntry(ConfigEntry& entry) override;
    // Writes the text back when a repair changed it: a temporary file beside the hosts file,
    // flushed, then moved over it, with the file's attributes and access list. A read-only file,
    // or one whose access list cannot be read, is not replaced. -2 when nothing was loaded or the
    // write failed (the file is then as it was).
    std::int32_t EndFix() override;

    const std::string& HostsText() const { return hostsText_; }
    bool HadCrLf() const { return hadCrLf_; }

private:
    std::int32_t Load();

    std::string hostsText_;
    bool hadCrLf_ = false;
    bool loaded_ = false;
    bool changed_ = false; // the text differs from the file since the last load or write
};

} // namespace Velmora::Assistant
