#include "app/shell_services_win.h"

#include "app/assistant_app_win.h"
#include "app/autostart_win.h"
#include "app/log_file_win.h"
#include "app/module_paths_win.h"
#include "app/settings_store_win.h"

namespace Velmora {

void FillShellServices(UI::CommandServices& services)
{
    services.readInt = [](const std::wstring& key, int defaultValue) {
        return ProgramSettings().ReadInt(kSettingsSection, key, defaultValue);
    };
    services.readString = [](const std::wstring& key, const std::wstring& defaultValue) {
        return ProgramSettings().ReadString(kSettingsSection, key, defaultValue);
    };
    services.writeInt = [](const std::wstring& key, int value) {
        return ProgramSettings().WriteInt(kSettingsSection, key, value);
    };
    services.writeString = [](const std::wstring& key, const std::wstring& value) {
        return ProgramSettings().WriteString(kSettingsSection, key, value);
    };
    services.quitApplication = [] { QuitApplication(); };
    services.postQuit = [] { EndMainLoop(); };
    services.restartApplication = [] { RestartApplication(); };
    services.setAutostart = [](bool on) { SetAutostart(ExecutablePath().c_str(), nullptr, on); };
    services.appendLog = [](const std::string& utf8Line) { ProgramLog().Write(utf8Line); };
}

} // namespace Velmora
