#pragma once
// Raw registry reads and writes for the handler tests, independent of the code under test.

#include "common/scoped_handle_win.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Velmora::Assistant::Testing {

struct RawValue {
    DWORD type = REG_NONE; // REG_NONE: no such value (or key)
    std::string data;
    bool operator==(const RawValue&) const = default;
};

inline std::string DwordBytes(std::uint32_t value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

inline std::string TextBytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

inline bool SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
                   const std::string& data, REGSAM view = 0)
{
    ScopedRegKey key;
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.Receive(),
                           nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

inline RawValue GetRaw(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0)
{
    RawValue value;
    ScopedRegKey key;
    char data[8192];
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.Receive()) == ERROR_SUCCESS &&
        RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
            ERROR_SUCCESS)
        value = {type, std::string(data, size)};
    return value;
}

inline bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    ScopedRegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.Receive()) == ERROR_SUCCESS;
}

inline void DeleteTree(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    ScopedRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.Receive()) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(key.Get(), nullptr);
    key.Reset();
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

// Registry values and keys changed by a test, put back as they were, in reverse order.
class RegistryChanges {
public:
    RegistryChanges() = default;
    RegistryChanges(const RegistryChanges&) = delete;
    RegistryChanges& operator=(const RegistryChanges&) = delete;
    ~RegistryChanges() { Undo(); }

    bool Set(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const std::string& data,
             REGSAM view = 0)
    {
        Remember(root, key, name, view);
        return SetRaw(root, key, name, type, data, view);
    }

    void Remove(HKEY root, const std::wstring& key, const wchar_t* name)
    {
        Remember(root, key, name);
        ScopedRegKey open;
        if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, open.Receive()) == ERROR_SUCCESS)
            RegDeleteValueW(open.Get(), name);
    }

    void Undo()
    {
        for (auto value = values_.rbegin(); value != values_.rend(); ++value) {
            if (value->before.type != REG_NONE) {
                SetRaw(value->root, value->key, value->name.c_str(), value->before.type, value->before.data,
                       value->view);
            } else {
                ScopedRegKey open;
                if (RegOpenKeyExW(value->root, value->key.c_str(), 0, KEY_SET_VALUE | value->view,
                                  open.Receive()) == ERROR_SUCCESS)
                    RegDeleteValueW(open.Get(), value->name.c_str());
            }
        }
        for (auto key = createdKeys_.rbegin(); key != createdKeys_.rend(); ++key)
            DeleteTree(key->root, key->path, key->view);
        values_.clear();
        createdKeys_.clear();
    }

private:
    struct Saved {
        HKEY root;
        std::wstring key, name;
        RawValue before;
        REGSAM view;
    };
    struct CreatedKey {
        HKEY root;
        std::wstring path;
        REGSAM view;
    };

    void Remember(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view = 0)
    {
        values_.push_back({root, key, name, GetRaw(root, key, name, view), view});
        // The outermost key that does not exist yet goes again at the end.
        std::wstring missing;
        for (std::wstring path = key; !path.empty() && !KeyExists(root, path, view);) {
            missing = path;
            const std::size_t slash = path.rfind(L'\\');
            path = slash == std::wstring::npos ? L"" : path.substr(0, slash);
        }
        if (!missing.empty())
            createdKeys_.push_back({root, missing, view});
    }

    std::vector<Saved> values_;
    std::vector<CreatedKey> createdKeys_;
};

} // namespace Velmora::Assistant::Testing
