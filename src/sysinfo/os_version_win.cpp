#include "sysinfo/os_version_win.h"

#include "common/process_win.h"
#include "common/registry_text_win.h"
#include "common/scoped_handle_win.h"
#include "common/system_folders_win.h"
#include "common/text_win.h"
#include "sysinfo/file_version_win.h"

#include <algorithm>
#include <cctype>

namespace Velmora::System {
namespace {

constexpr wchar_t kIeKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
constexpr wchar_t kIeAppPathKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";
constexpr wchar_t kIeDefaultPath[] = L"%ProgramFiles%\\Internet Explorer\\iexplore.exe";
constexpr wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr REGSAM kBrowserKeyAccess = KEY_READ | KEY_WRITE;
constexpr DWORD kProductNameBytes = 4132;
constexpr DWORD kIeVersionChars = 512;
constexpr DWORD kPathChars = 260;
constexpr int kServerR2Metric = 89;

// Optional system functions: the module as already loaded, else loaded now and kept for the process.
FARPROC OptionalFunction(const wchar_t* module, const char* name)
{
    HMODULE handle = ::GetModuleHandleW(module);
    if (!handle) {
        const std::wstring path = SystemLibraryPath(module);
        handle = path.empty() ? nullptr : ::LoadLibraryExW(path.c_str(), nullptr, 0);
    }
    return handle ? ::GetProcAddress(handle, name) : nullptr;
}

template <typename Fn> Fn OptionalKernelFunction(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(OptionalFunction(L"kernel32.dll", name)));
}

// A REG_SZ value that fits a buffer of `capacity` characters with its terminator; false for a
// missing, longer or non-string value.
bool ReadString(HKEY key, const wchar_t* name, std::size_t capacity, std::wstring* out)
{
    std::optional<std::wstring> value = ReadRegistryString(key, name, RegistryText::Plain, capacity - 1);
    if (!value)
        return false;
    *out = std::move(*value);
    return true;
}

bool ExistingFile(const std::wstring& path)
{
    // A path on an empty drive must not bring up the system's critical-error box.
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    ::SetErrorMode(previous);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

OsVersionFacts GatherOsVersionFacts()
{
    OsVersionFacts facts;
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info; // 284
    if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        facts.versionRead = true;
        facts.platformId = info.dwPlatformId;
        facts.major = info.dwMajorVersion;
        facts.minor = info.dwMinorVersion;
        facts.build = info.dwBuildNumber;
        facts.servicePack = WideToUtf8(info.szCSDVersion);
        facts.suiteMask = info.wSuiteMask;
        facts.productType = info.wProductType;
    }

    if (const std::wstring system = SystemFolder(); !system.empty()) {
        const std::wstring kernel32 = system + (system.back() == L'\\' ? L"" : L"\\") + L"kernel32.dll";
        VS_FIXEDFILEINFO version = {};
        if (ReadFileVersion(kernel32, &version)) {
            facts.kernelVersionRead = true;
            facts.kernelProductVersionMs = version.dwProductVersionMS;
            facts.kernelProductVersionLs = version.dwProductVersionLS;
        }
    }

    SYSTEM_INFO processor = {};
    using NativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    if (auto native = OptionalKernelFunction<NativeSystemInfoFn>("GetNativeSystemInfo"))
        native(&processor);
    else
        ::GetSystemInfo(&processor);
    facts.architecture = processor.wProcessorArchitecture;
    facts.serverR2 = ::GetSystemMetrics(kServerR2Metric);

    using ProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
    if (auto productInfo = OptionalKernelFunction<ProductInfoFn>("GetProductInfo")) {
        DWORD type = 0;
        // The edition is asked for the kernel's version, the one the text shows.
        productInfo(facts.kernelProductVersionMs >> 16, facts.kernelProductVersionMs & 0xFFFF, 0, 0, &type);
        facts.productInfo = type;
    }
    return facts;
}

std::wstring GetOsVersionText()
{
    return Utf8ToWide(BuildOsVersionText(GatherOsVersionFacts()));
}

bool IsWindows10ByProductName()
{
    ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return false;
    std::string name(kProductNameBytes, '\0');
    DWORD type = REG_NONE;
    DWORD bytes = kProductNameBytes;
    if (::RegQueryValueExA(key.Get(), "ProductName", nullptr, &type, reinterpret_cast<BYTE*>(name.data()),
                           &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    name.resize(std::min<size_t>(bytes, kProductNameBytes));
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return name.find("windows 10") != std::string::npos;
}

std::wstring GetIeVersion()
{
    ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIeKey, 0, kBrowserKeyAccess, key.Receive()) != ERROR_SUCCESS)
        return {};
    std::wstring version;
    if (ReadString(key.Get(), L"svcVersion", kIeVersionChars, &version) ||
        ReadString(key.Get(), L"Version", kIeVersionChars, &version))
        return version;
    return {};
}

std::wstring GetIePath()
{
    std::wstring registered;
    ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIeAppPathKey, 0, kBrowserKeyAccess, key.Receive()) ==
            ERROR_SUCCESS &&
        ReadString(key.Get(), nullptr, kPathChars, &registered) && ExistingFile(registered))
        return registered;
    const std::wstring expanded = ExpandSystemPath(kIeDefaultPath);
    if (!expanded.empty() && expanded.size() < kPathChars && ExistingFile(expanded))
        return expanded;
    return registered;
}

HRESULT LaunchIe(std::wstring_view url)
{
    const std::wstring path = GetIePath();
    if (path.empty())
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::wstring commandLine = L"\"" + path + L"\" ";
    commandLine.append(url);
    // The browser must not inherit this program's elevation.
    if (RunCommandLine(commandLine, false, false, true) == -1)
        return E_FAIL;
    return S_OK;
}

std::optional<std::wstring> VersionTextFor(std::wstring_view which)
{
    if (which == L"sysversion")
        return IsWindows10ByProductName() ? std::wstring(L"Windows 10") : GetOsVersionText();
    if (which == L"ieversion")
        return GetIeVersion();
    return std::nullopt;
}

} // namespace Velmora::System
