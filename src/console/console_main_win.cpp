// Entry of VelmoraCheck.exe, the assistant's check from the command line.
#include "app/library_search_win.h"
#include "console/console_run_win.h"

#include <windows.h>

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    // Before any library is loaded on demand.
    Velmora::RestrictLibrarySearch();
    Velmora::CompanionLibraries companions;
    companions.Load();
    std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    Velmora::Console::ConsoleOutput out;
    return Velmora::Console::RunConsoleCheck(args, out);
}
