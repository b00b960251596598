#include "app/console_output_win.h"

#include "common/text_win.h"

#include <string>

namespace Velmora::Console {
namespace {

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != FALSE;
}

} // namespace

ConsoleOutput::ConsoleOutput()
    : out_(::GetStdHandle(STD_OUTPUT_HANDLE)), err_(::GetStdHandle(STD_ERROR_HANDLE)),
      outIsConsole_(IsConsole(out_)), errIsConsole_(IsConsole(err_))
{
}

void ConsoleOutput::Write(std::string_view utf8)
{
    std::lock_guard<std::mutex> guard(lock_);
    WriteTo(out_, outIsConsole_, utf8);
}

void ConsoleOutput::Error(std::string_view utf8)
{
    std::lock_guard<std::mutex> guard(lock_);
    WriteTo(err_, errIsConsole_, utf8);
}

void ConsoleOutput::WriteTo(HANDLE handle, bool console, std::string_view utf8)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty())
        return;
    if (console) {
        // Characters, whatever the console's code page.
        const std::wstring text = Utf8ToWide(utf8);
        DWORD written = 0;
        ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    while (!utf8.empty()) {
        DWORD written = 0;
        if (!::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
            written == 0)
            return;
        utf8.remove_prefix(written);
    }
}

} // namespace Velmora::Console
