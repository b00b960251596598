#pragma once
// Lets a 32-bit process under WOW64 reach the 64-bit side of the system for one entry: file-system
// redirection is switched off while the guard lives, and registry code asks Is64BitView() to open
// keys in the 64-bit view. On a native system (or a 64-bit process) the guard does nothing.
// Guards are never nested: the previous redirection state is kept in one process-wide variable.

#include "checks/check_config.h"
#include "common/system_folders_win.h"

#include <string>

namespace Velmora::Assistant {

using Velmora::RunsUnderWow64;

// Under WOW64 a path in the system folder as a 32-bit process reaches it with redirection on:
// through the folder's Sysnative alias. Other paths, and every path elsewhere, are unchanged.
std::wstring NativeSystemAlias(const std::wstring& path);

class ScopedRedirection {
public:
    // Active when the entry's `bit` is exactly "64" and the process runs under WOW64.
    explicit ScopedRedirection(const ConfigEntry& entry);
    // Active whenever the process runs under WOW64 (for system files such as hosts).
    ScopedRedirection();
    // As the form without an entry when `active` holds; otherwise does nothing.
    explicit ScopedRedirection(bool active);
    ~ScopedRedirection();
    ScopedRedirection(const ScopedRedirection&) = delete;
    ScopedRedirection& operator=(const ScopedRedirection&) = delete;

    bool Is64BitView() const { return active_; }
    // Whether a guard for the entry switches redirection off.
    static bool Reaches64BitSide(const ConfigEntry& entry);

private:
    void Disable();

    bool active_ = false;
};

} // namespace Velmora::Assistant
