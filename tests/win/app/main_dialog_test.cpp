#include "app/assistant_app_win.h"
#include "app/module_paths_win.h"
#include "app/settings_store_win.h"
#include "common/option_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Velmora;

// The whole start-up in this process, whose resources carry a main page: the dialog is shown, and
// closing it runs the quit command, ends the loop and passes through the exit steps.
TEST(MainDialog, StartUpShowsTheDialogAndClosingItEndsTheProgram)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, ProgramSettings().ProfileKey().c_str()); // CloseType absent
    std::atomic<HWND> seen{nullptr};
    std::atomic<bool> visible{false};
    std::thread closer([&] {
        for (int attempt = 0; attempt < 400; ++attempt) {
            if (HWND window = FindWindowW(nullptr, L"网银助手 测试窗口")) {
                seen = window;
                visible = IsWindowVisible(window) != FALSE;
                PostMessageW(window, WM_CLOSE, 0, 0);
                return;
            }
            Sleep(50);
        }
        QuitApplication(); // never shown: end the run so that the failure is reported
    });

    CAssistantApp app;
    EXPECT_FALSE(app.InitInstance());
    closer.join();

    ASSERT_NE(seen.load(), nullptr) << "no main dialog was shown";
    EXPECT_TRUE(visible);
    EXPECT_EQ(app.ExitCode(), kExitNormal);
    EXPECT_FALSE(IsWindow(seen)) << "the dialog is destroyed on the way out";
    EXPECT_EQ(MainDialog(), nullptr);
    EXPECT_FALSE(IsAppRunning());
    EXPECT_EQ(Options().Get(kOptionDownloadBesideExe), 1);
    EXPECT_EQ(Options().Get(kOptionCacheCheckConfig), 1);
    wchar_t appPath[MAX_PATH] = {};
    GetEnvironmentVariableW(L"AppPath", appPath, MAX_PATH);
    EXPECT_EQ(std::wstring(appPath), ExecutableFolder());
    Mutex next;
    EXPECT_EQ(next.Create(kSingleInstanceName, true), S_OK) << "the single-instance object was not released";

    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}
