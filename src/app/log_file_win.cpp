#include "app/log_file_win.h"

#include "app/log_line.h"
#include "app/module_paths_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace Velmora {
namespace {

constexpr DWORD kTurnOffsetHigh = 0x40000000;

} // namespace

bool LogFile::EnsureOpen()
{
    if (file_)
        return true;
    const std::wstring path = path_.empty() ? ExecutableFolder() + L"\\Log.log" : path_;
    // Append-only access: every write lands at the current end of the file, so nothing already
    // there is ever overwritten or truncated. Read access only makes the file lockable.
    file_.Reset(CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    return file_.IsValid();
}

bool LogFile::Write(std::string_view text)
{
    std::lock_guard guard(lock_);
    if (!EnsureOpen())
        return false;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    const LogTime time{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                       now.wMinute, now.wSecond, now.wMilliseconds};
    // One write per line, so that lines of concurrent writers never interleave.
    const std::string line = FormatLogLine(GetCurrentProcessId(), time, timestamps_, text);
    if (line.size() > MAXDWORD)
        return false;
    // Another process may append to the same log (an old copy during a restart). Not every file
    // system makes appends atomic between processes, so writers take turns through a lock on one
    // byte far beyond any real end of the file.
    OVERLAPPED turn = {};
    turn.OffsetHigh = kTurnOffsetHigh;
    const bool locked = LockFileEx(file_.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != FALSE;
    DWORD written = 0;
    const bool ok = WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                    written == line.size() && FlushFileBuffers(file_.Get());
    if (locked)
        UnlockFileEx(file_.Get(), 0, 1, 0, &turn);
    return ok;
}

void LogFile::SetPath(std::wstring path)
{
    std::lock_guard guard(lock_);
    file_.Reset();
    path_ = std::move(path);
}

void LogFile::SetTimestamps(bool on)
{
    std::lock_guard guard(lock_);
    timestamps_ = on;
}

LogFile& ProgramLog()
{
    static LogFile log;
    return log;
}

void DebugTrace(const char* format, ...)
{
    char buffer[3072];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    OutputDebugStringA(buffer);
}

} // namespace Velmora
