#pragma once
// File helpers of the checks tests under Wine.

#include "common/scoped_handle_win.h"
#include "common/text_win.h"

#include <windows.h>

#include <string>

namespace Velmora::Assistant::Testing {

inline std::wstring Fixture(const char* name)
{
    std::wstring path = Utf8ToWide(std::string(VELMORA_FIXTURES) + "/checks/" + name);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

inline std::wstring TempFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes,
                       DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

inline std::string ReadBytes(const std::wstring& path)
{
    ScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

inline void RemoveFile(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

} // namespace Velmora::Assistant::Testing
