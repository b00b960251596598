#pragma once
// Small helpers shared by the Windows tests of the application shell and of process launching.

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace VelmoraTest {

// Search state of VisibleWindowOf.
struct WindowSearch {
    DWORD processId;
    HWND found;
};

inline BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// A visible top-level window of the process; none while it shows none.
inline HWND VisibleWindowOf(DWORD processId)
{
    WindowSearch search{processId, nullptr};
    EnumWindows(&FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A fresh folder under %TEMP%, removed with its content at the end of the test.
class TempFolder {
public:
    explicit TempFolder(const wchar_t* prefix)
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        for (unsigned attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
            std::wstring candidate = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) +
                                     L"-" + std::to_wstring(GetTickCount() + attempt);
            if (CreateDirectoryW(candidate.c_str(), nullptr))
                path_ = candidate;
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder()
    {
        if (path_.empty())
            return;
        std::wstring from = path_ + L'\0'; // double terminator for the shell
        SHFILEOPSTRUCTW op = {};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NO_UI;
        SHFileOperationW(&op);
    }
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

inline bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file as bytes; empty when it cannot be read (shared with writers).
inline std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

// Waits until a file exists and is not empty (a child writes it); false after `timeoutMs`.
inline bool WaitForFile(const std::wstring& path, DWORD timeoutMs = 20000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        if (!ReadFileBytes(path).empty())
            return true;
        Sleep(20);
    }
    return false;
}

inline std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// Build outputs are named with forward slashes under Z:; the programs under test expect backslashes.
inline std::wstring WindowsPath(const char* path)
{
    std::wstring wide(path, path + strlen(path));
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return wide;
}

} // namespace VelmoraTest
