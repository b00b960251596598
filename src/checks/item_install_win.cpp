#include "checks/item_install_win.h"

#include "checks/file_spec_win.h"
#include "checks/installer_command.h"
#include "checks/registry_key_win.h"
#include "checks/scoped_redirection_win.h"
#include "checks/verified_download_win.h"
#include "common/process_win.h"
#include "common/system_folders_win.h"
#include "common/text_win.h"
#include "net/download_files_win.h"
#include "net/download_progress.h"

namespace Velmora::Assistant {
namespace {

constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

bool HasDigest(const ConfigEntry& entry)
{
    return !entry.Attributes.Get("md5").empty() || !entry.Attributes.Get("sha1").empty() ||
           !entry.Attributes.Get("sha256").empty();
}

// Where the installer of `url` is kept: the URL path's last segment in the download folder. Empty
// when that segment is no usable file name.
std::wstring InstallerPath(const std::wstring& url)
{
    const std::wstring_view urlPath = InstallerUrlPath(url);
    std::wstring_view fileName;
    if (!Network::DownloadFileName(urlPath, &fileName) || fileName.empty())
        return {};
    return Network::MakeDownloadPath(std::wstring(fileName).c_str());
}

// False when the component's uninstall key cannot be opened under `root`; otherwise `command` is
// its "UninstallString" (left empty when that is missing or no string). An expandable string names
// its program through variables (%ProgramFiles%, %SystemRoot%): it runs only once they are expanded.
bool ReadUninstallString(HKEY root, const std::wstring& subkey, bool is64BitView, std::wstring* command)
{
    ScopedRegKey key;
    if (OpenRegistryKey(root, subkey, KEY_READ | EntryKeyView(is64BitView), false, &key) != ERROR_SUCCESS)
        return false;
    RegistryValue value;
    if (ReadRegistryValue(key.Get(), L"UninstallString", &value) == ERROR_SUCCESS &&
        (value.type == REG_SZ || value.type == REG_EXPAND_SZ)) {
        *command = RegistryText(value);
        if (value.type == REG_EXPAND_SZ)
            *command = ExpandSystemPath(*command);
    }
    return true;
}

} // namespace

std::int32_t VerifyDownload(const ConfigEntry& entry, const wchar_t* path)
{
    if (!Network::FileExists(path))
        return kResultFailed;
    return FileDigestsMatch(entry, path) ? kResultPassed : kResultFailed;
}

std::int32_t InstallItem(std::vector<ConfigEntry>& detect, std::vector<ConfigEntry>& installers,
                         DownloadNotifyFn progress, std::int32_t userValue)
{
    if (ICheckFix* install = installers.empty() ? nullptr : HandlerForType("install")) {
        for (ConfigEntry& entry : installers) {
            if (install->CheckEntry(entry) != kResultPassed)
                continue;
            SetDownloadNotify(entry, progress, userValue);
            install->FixEntry(entry);
        }
    }
    for (ConfigEntry& entry : detect) {
        const std::string& type = entry.Attributes.Get("dtype");
        ICheckFix* handler = HandlerForType(type);
        if (!handler)
            continue;
        const std::int32_t checked = RunCheck(*handler, &entry, 1, true);
        if (checked == kResultPassed)
            continue;
        // Only a file can be put in place here, and an add-on switched off switched on again (the
        // control's repair does nothing else). Repairing any other detect entry would forge the
        // sign of an installed component (a registry marker written by us, not by its installer).
        if (type != "file" && !(type == "clsid" && checked == kResultDisabled))
            return checked;
        SetDownloadNotify(entry, progress, userValue);
        const std::int32_t repaired = RunFix(*handler, &entry, 1);
        if (repaired != kResultPassed)
            return repaired;
    }
    return kResultPassed;
}

std::int32_t ItemInstall::CheckEntry(ConfigEntry&)
{
    return kResultPassed;
}

std::int32_t ItemInstall::FixEntry(ConfigEntry& entry)
{
    const std::wstring url = Utf8ToWide(ResolveRemoteUrl(TheCheckConfig(), entry.Text));
    const std::wstring path = InstallerPath(url);
    if (path.empty())
        return kResultFailed;

    // Only a digest proves that a file kept from an earlier install is this installer; without one
    // it is fetched again.
    if (!HasDigest(entry) || VerifyDownload(entry, path.c_str()) != kResultPassed) {
        const HRESULT replaced =
            DownloadAndReplace(url, path, GetDownloadNotify(entry), [&entry](const std::wstring& download) {
                return VerifyDownload(entry, download.c_str()) == kResultPassed;
            });
        // A replacement left for the next restart means the verified bytes are not there yet.
        if (replaced != S_OK)
            return kResultFailed;
    }

    // The installer runs from the bytes that were verified: held open from the check to the end of
    // its run, shared for reading only, so nobody can write, replace or delete it meanwhile (the
    // download folder may be one the customer can write to).
    const ScopedHandle held(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held || !FileDigestsMatch(entry, held.Get()))
        return kResultFailed;

    const std::wstring command = Utf8ToWide(entry.Attributes.Get("command"));
    std::wstring commandLine;
    if (!command.empty()) {
        commandLine = InstallerCommandLine(command, L"\"" + path + L"\"");
    } else {
        const std::wstring msiexec = SystemFolder();
        commandLine = DirectInstallerCommandLine(path, Utf8ToWide(entry.Attributes.Get("parameter")),
                                                 msiexec.empty() ? msiexec : msiexec + L"\\msiexec.exe");
        if (commandLine.empty()) {
            ::OutputDebugStringW((L"Installer refused: neither a program nor a package: " + path).c_str());
            return kResultFailed;
        }
    }
    if (beforeRun_)
        beforeRun_(path);
    RunCommandLine(commandLine, false, true, false);
    return kResultPassed;
}

std::int32_t ItemUninstall::CheckEntry(ConfigEntry&)
{
    return kResultPassed;
}

std::int32_t ItemUninstall::FixEntry(ConfigEntry& entry)
{
    // Held for the whole run: a 64-bit uninstaller's path must resolve on the 64-bit side.
    const ScopedRedirection guard(entry);
    const std::string& type = entry.Attributes.Get("type");
    std::wstring command;
    if (type == "cmd") {
        command = Network::ExpandPath(Utf8ToWide(entry.Text));
    } else if (type == "regid" && !entry.Text.empty()) {
        const std::wstring subkey = kUninstallKey + Utf8ToWide(entry.Text);
        if (!ReadUninstallString(HKEY_LOCAL_MACHINE, subkey, guard.Is64BitView(), &command))
            ReadUninstallString(HKEY_CURRENT_USER, subkey, guard.Is64BitView(), &command);
    }
    if (command.empty())
        return kResultFailed;
    RunCommandLine(command, false, true, false);
    return kResultPassed;
}

} // namespace Velmora::Assistant
