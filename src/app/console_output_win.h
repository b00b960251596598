#pragma once
// Text output of the command-line programs (the unattended check, the developer host): to a console
// as characters, to a pipe or file as UTF-8.

#include <windows.h>

#include <mutex>
#include <string_view>

namespace Velmora::Console {

class ConsoleOutput {
public:
    ConsoleOutput();
    // UTF-8 text to standard output.
    void Write(std::string_view utf8);
    // UTF-8 text to standard error.
    void Error(std::string_view utf8);

private:
    static void WriteTo(HANDLE handle, bool console, std::string_view utf8);

    std::mutex lock_;
    HANDLE out_;
    HANDLE err_;
    bool outIsConsole_;
    bool errIsConsole_;
};

} // namespace Velmora::Console
