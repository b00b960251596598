#pragma once
// Installing and uninstalling components: the `install` entries (installers downloaded from the
// bank's server, verified, run and awaited) and the `uninstall` entries (a command line, or the
// uninstall command a component registered), and the install of a whole component.

#include "checks/check_fix.h"
#include "checks/download_notify.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace Velmora::Assistant {

// Installs a component: the installers, then the detect entries re-checked and `file` ones
// repaired (a ConfigItem's Detect/Installers, or the configuration's AppInfoDetect/AppInfoInstaller).
// Download progress of both goes to `progress` (may be null) with `userValue`. 2 when every detect
// entry that has a handler passes or, being a `file`, was repaired; otherwise the code of the first
// entry that does not (its check, or the file's repair). The installers' own results are not
// looked at: detection decides.
std::int32_t InstallItem(std::vector<ConfigEntry>& detect, std::vector<ConfigEntry>& installers,
                         DownloadNotifyFn progress, std::int32_t userValue);

// 2 when `path` is a file whose digests are those the installer entry gives (`md5`, `sha1`,
// `sha256`, any letter case), -2 otherwise. An entry without digests accepts any existing file.
std::int32_t VerifyDownload(const ConfigEntry& entry, const wchar_t* path);

class ItemInstall final : public ICheckFix {
public:
    // Always 2: whether a component is needed is decided by its detect entries.
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // Runs the installer the entry names: a file in the download folder that already has the
    // entry's digests is used as it is, anything else is downloaded again and takes the file's
    // place only when complete and verified. The file is then held open, shared for reading only,
    // and checked again through that handle until its run has ended. Then `command` runs with the
    // quoted path in place of its first "%1" or %1, or the file itself with `parameter` (a program,
    // or a package through the system's msiexec; any other file is refused); either is awaited.
    // -2 when there is no verified file to run (or no file name in the URL, or a file of another
    // type), else 2 whatever the installer did.
    std::int32_t FixEntry(ConfigEntry& entry) override;

    // Called with the installer's path once its bytes have been checked, just before it starts (a
    // test stands there for someone trying to swap the file).
    void SetBeforeRun(std::function<void(const std::wstring& path)> hook) { beforeRun_ = std::move(hook); }

private:
    std::function<void(const std::wstring& path)> beforeRun_;
};

class ItemUninstall final : public ICheckFix {
public:
    // Always 2.
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // `type` "cmd": the text, environment variables expanded, is the command line; "regid": the
    // "UninstallString" the component registered under its uninstall key, machine-wide or else for
    // the current user. Runs it and waits: 2 whatever its exit code, -2 when there is no command.
    // A `bit` "64" entry under WOW64 reads the 64-bit registry view and runs without file-system
    // redirection.
    std::int32_t FixEntry(ConfigEntry& entry) override;
};

} // namespace Velmora::Assistant
