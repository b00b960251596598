// Entry of VelmoraAssistant.exe.
#include "app/assistant_app_win.h"
#include "app/library_search_win.h"

#include <windows.h>

namespace {

Velmora::CompanionLibraries g_companions;
Velmora::CAssistantApp g_app;

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before any library is loaded on demand.
    Velmora::RestrictLibrarySearch();
    g_companions.Load();
    g_app.InitInstance();
    return g_app.ExitCode();
}
