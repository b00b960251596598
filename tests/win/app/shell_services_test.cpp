#include "app/assistant_app_win.h"
#include "app/log_file_win.h"
#include "app/module_paths_win.h"
#include "app/settings_store_win.h"
#include "app/shell_services_win.h"
#include "win/app/win_test_support.h"

#include <gtest/gtest.h>

using namespace Velmora;
using namespace VelmoraTest;

// The command handler reaches the program's own settings, log and Run entry through these.
TEST(ShellServices, ReachTheProgramsSettingsLogAndAutostart)
{
    UI::CommandServices services;
    FillShellServices(services);
    ASSERT_TRUE(services.readInt && services.readString && services.writeInt && services.writeString &&
                services.quitApplication && services.postQuit && services.restartApplication &&
                services.setAutostart && services.appendLog);

    RegDeleteTreeW(HKEY_CURRENT_USER, ProgramSettings().ProfileKey().c_str());
    EXPECT_EQ(services.readInt(L"CloseType", 0), 0);
    ASSERT_TRUE(services.writeInt(L"CloseType", 1));
    EXPECT_EQ(ProgramSettings().ReadInt(kSettingsSection, L"CloseType", 0), 1);
    ASSERT_TRUE(services.writeString(L"KeyType", L"XA"));
    EXPECT_EQ(services.readString(L"KeyType", L""), L"XA");
    RegDeleteTreeW(HKEY_CURRENT_USER, ProgramSettings().ProfileKey().c_str());

    TempFolder folder(L"velmora-services-");
    ProgramLog().SetPath(folder / L"Log.log");
    services.appendLog("from the page");
    EXPECT_NE(ReadFileBytes(folder / L"Log.log").find(": from the page\r\n"), std::string::npos);
    ProgramLog().SetPath(L"");

    const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    services.setAutostart(true);
    wchar_t value[MAX_PATH * 2] = {};
    DWORD bytes = sizeof value;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, run, L"app_win_tests", RRF_RT_REG_SZ, nullptr, value, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), ExecutablePath());
    services.setAutostart(false);
    bytes = sizeof value;
    EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, run, L"app_win_tests", RRF_RT_ANY, nullptr, value, &bytes),
              ERROR_SUCCESS);
}
