#pragma once
// The program's append-only log ("Log.log" beside the executable), written on the page's request,
// and the debug trace that goes to the debugger output only.

#include "common/scoped_handle_win.h"

#include <mutex>
#include <string>
#include <string_view>

namespace Velmora {

class LogFile {
public:
    // Appends one line (header when timestamps are on, the text bytes, CRLF) and flushes it to
    // disk. False when the file cannot be opened or written.
    bool Write(std::string_view text);

    // An empty path means "Log.log" in the executable's folder. Closes a file already open.
    void SetPath(std::wstring path);
    void SetTimestamps(bool on);

private:
    bool EnsureOpen();

    std::mutex lock_;
    ScopedHandle file_;
    std::wstring path_;
    bool timestamps_ = true;
};

// The one log of the process.
LogFile& ProgramLog();

// printf-style; the text (at most 3071 bytes) goes to the debugger output.
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace Velmora
