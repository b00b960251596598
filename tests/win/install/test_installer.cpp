// Stands in for a component's installer (and uninstaller) in the Windows tests:
//
//   test_installer.exe [/log:<file>] [/reg:<subkey> /name:<value> [/data:<text>] [/delete]]
//                      [/file:<path> [/from:<source>] [/data:<text>]] [/exit:<code>] [anything else]
//
//   /log:<file>     first appends its whole command line as it was handed over (GetCommandLineW,
//                   UTF-8) and "\r\n" to <file>, so a test sees every run and exactly its arguments.
//   /reg:<subkey>   with /name: sets the REG_SZ value <value> of HKEY_CURRENT_USER\<subkey> (the key
//                   is created when missing) to /data (default "1"); with /delete removes the value.
//   /file:<path>    writes <path>: a copy of <source> with /from, else the text of /data (default
//                   "installed"). With /reg as well, /data serves both.
//   /exit:<code>    the exit code (default 0). A step that fails exits with 100 + its number
//                   (log 1, registry 2, file 3) instead.
//
// Option names are matched case-insensitively; a value may be quoted as a whole argument
// ("/log:C:\a b\log.txt") or after the colon (/log:"C:\a b\log.txt"). Other arguments (/S, /quiet)
// are ignored, so the program accepts what real installers are handed.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

struct Options {
    std::wstring log, reg, name, data, file, from;
    bool remove = false;
    bool hasData = false;
    int exitCode = 0;
};

bool Take(const wchar_t* argument, const wchar_t* option, std::wstring* value)
{
    const size_t length = std::wcslen(option);
    if (_wcsnicmp(argument, option, length) != 0)
        return false;
    *value = argument + length;
    return true;
}

Options Parse(int argc, wchar_t** argv)
{
    Options options;
    std::wstring exitCode;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* a = argv[i];
        if (Take(a, L"/log:", &options.log) || Take(a, L"/reg:", &options.reg) ||
            Take(a, L"/name:", &options.name) || Take(a, L"/file:", &options.file) ||
            Take(a, L"/from:", &options.from))
            continue;
        if (Take(a, L"/data:", &options.data)) {
            options.hasData = true;
            continue;
        }
        if (Take(a, L"/exit:", &exitCode)) {
            options.exitCode = static_cast<int>(std::wcstol(exitCode.c_str(), nullptr, 10));
            continue;
        }
        if (_wcsicmp(a, L"/delete") == 0)
            options.remove = true;
    }
    return options;
}

std::string ToUtf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

bool WriteAll(const std::wstring& path, const std::string& bytes, DWORD disposition)
{
    HANDLE file = CreateFileW(path.c_str(), disposition == OPEN_ALWAYS ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool SetRegistry(const Options& options)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, options.reg.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS status;
    if (options.remove) {
        status = RegDeleteValueW(key, options.name.c_str());
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    } else {
        const std::wstring data = options.hasData ? options.data : L"1";
        status =
            RegSetValueExW(key, options.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool WriteTarget(const Options& options)
{
    if (!options.from.empty())
        return CopyFileW(options.from.c_str(), options.file.c_str(), FALSE) != FALSE;
    return WriteAll(options.file, ToUtf8(options.hasData ? options.data : L"installed"), CREATE_ALWAYS);
}

} // namespace

int wmain()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 100;
    const Options options = Parse(argc, argv);
    LocalFree(argv);

    if (!options.log.empty() && !WriteAll(options.log, ToUtf8(GetCommandLineW()) + "\r\n", OPEN_ALWAYS))
        return 101;
    if (!options.reg.empty() && !SetRegistry(options))
        return 102;
    if (!options.file.empty() && !WriteTarget(options))
        return 103;
    return options.exitCode;
}
