// Version texts, the browser's path and its launch against the private prefix's real registry and
// system files.

#include "common/text_win.h"
#include "common/variant_win.h"
#include "sysinfo/os_version_win.h"
#include "ui/assistant_commands_win.h"
#include "ui/command_handler_win.h"
#include "win/app/win_test_support.h"
#include "win/checks/registry_test_support.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <functional>

using namespace Velmora;
using namespace Velmora::System;
using namespace Velmora::Assistant::Testing;
using namespace VelmoraTest;

namespace {

constexpr wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kIe[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
constexpr wchar_t kAppPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";

// Puts one HKLM value back as it was at the end of the test.
class SavedValue {
public:
    SavedValue(const wchar_t* path, const wchar_t* name)
        : path_(path), name_(name ? name : L""), saved_(GetRaw(HKEY_LOCAL_MACHINE, path, name))
    {
    }
    ~SavedValue()
    {
        if (saved_.type != REG_NONE)
            SetRaw(HKEY_LOCAL_MACHINE, path_, Name(), saved_.type, saved_.data);
        else
            Remove();
    }
    void Set(const std::wstring& text, DWORD type = REG_SZ)
    {
        ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, path_, Name(), type, TextBytes(text)));
    }
    void Remove()
    {
        ScopedRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_SET_VALUE, key.Receive()) ==
            ERROR_SUCCESS)
            RegDeleteValueW(key.Get(), Name());
    }

private:
    const wchar_t* Name() const { return name_.empty() ? nullptr : name_.c_str(); }
    std::wstring path_, name_;
    RawValue saved_;
};

// Points %ProgramFiles% elsewhere for the test's duration.
class ProgramFilesOverride {
public:
    explicit ProgramFilesOverride(const std::wstring& folder)
    {
        wchar_t old[MAX_PATH] = {};
        GetEnvironmentVariableW(L"ProgramFiles", old, MAX_PATH);
        saved_ = old;
        SetEnvironmentVariableW(L"ProgramFiles", folder.c_str());
    }
    ~ProgramFilesOverride() { SetEnvironmentVariableW(L"ProgramFiles", saved_.c_str()); }

private:
    std::wstring saved_;
};

BOOL SetShellWindowFor(HWND window)
{
    using SetShellWindowFn = BOOL(WINAPI*)(HWND);
    const auto set = reinterpret_cast<SetShellWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
    return set != nullptr && set(window);
}

// get_version through the command handler with the program's own services.
std::wstring Answer(const UI::ScopedVariant& a1)
{
    UI::CommandServices services;
    services.versionText = UI::ProgramCommandServices().versionText;
    UI::CommandDispatcher dispatcher(services);
    UI::ScopedVariant name = UI::ScopedVariant::String(L"get_version"), a2 = UI::ScopedVariant::String(L"无"),
                      e, result;
    dispatcher.Handle(nullptr, name.Get(), a1.Get(), a2.Get(), e.Get(), e.Get(), result.Ptr());
    if (result.Type() == VT_EMPTY)
        return L"<empty>";
    return result.Type() == VT_BSTR ? std::wstring(UI::StringOf(result.Get())) : L"<not a string>";
}

std::wstring Answer(const wchar_t* which)
{
    return Answer(UI::ScopedVariant::String(which));
}

TEST(OsVersion, ThePrefixTextFromKernel32AndTheVersionApi)
{
    const OsVersionFacts facts = GatherOsVersionFacts();
    ASSERT_TRUE(facts.versionRead);
    ASSERT_TRUE(facts.kernelVersionRead);
    // Wine's version API says Windows 7 SP1 while its kernel32 carries a Windows 10 version, so
    // the text takes the shape of Windows 10: no product row, only service pack, build and bits.
    EXPECT_EQ(6u, facts.major);
    EXPECT_EQ(1u, facts.minor);
    EXPECT_EQ("Service Pack 1", facts.servicePack);
    EXPECT_EQ(kArchitectureX64, facts.architecture);
    ASSERT_TRUE(facts.productInfo.has_value());
    EXPECT_EQ(L"Microsoft  SP1 (build 18362) 64位", GetOsVersionText());
}

TEST(OsVersion, ProductNameDecidesWindows10)
{
    SavedValue productName(kCurrentVersion, L"ProductName");
    const std::wstring text = GetOsVersionText();
    struct Case {
        const wchar_t* name;
        DWORD type;
        bool windows10;
    } cases[] = {
        {L"Windows 10 Pro", REG_SZ, true},
        {L"MICROSOFT WINDOWS 10 ENTERPRISE", REG_SZ, true},
        {L"Windows 7 Ultimate", REG_SZ, false},
        {L"Windows 10", REG_EXPAND_SZ, false}, // only a plain string counts
        {L"Windows 1 0", REG_SZ, false},
    };
    for (const Case& c : cases) {
        productName.Set(c.name, c.type);
        EXPECT_EQ(c.windows10, IsWindows10ByProductName()) << c.name;
        EXPECT_EQ(c.windows10 ? L"Windows 10" : text, Answer(L"sysversion")) << c.name;
    }
    productName.Remove();
    EXPECT_FALSE(IsWindows10ByProductName());
    EXPECT_EQ(text, Answer(L"sysversion"));
}

TEST(OsVersion, IeVersionPrefersSvcVersion)
{
    SavedValue svcVersion(kIe, L"svcVersion"), version(kIe, L"Version");
    svcVersion.Set(L"11.0.9600.20139");
    version.Set(L"9.11.9600.20139");
    EXPECT_EQ(L"11.0.9600.20139", GetIeVersion());
    EXPECT_EQ(L"11.0.9600.20139", Answer(L"ieversion"));
    svcVersion.Remove();
    EXPECT_EQ(L"9.11.9600.20139", GetIeVersion());
    version.Remove();
    EXPECT_EQ(L"", GetIeVersion());
    EXPECT_EQ(L"", Answer(L"ieversion")) << "a string, even when empty";
    EXPECT_EQ(L"<empty>", Answer(L"osversion"));
    EXPECT_EQ(L"<empty>", Answer(L"SysVersion"));
    EXPECT_EQ(L"<empty>", Answer(UI::ScopedVariant::Int(11)));
}

TEST(OsVersion, IePathFallsBackToProgramFilesThenToTheRegisteredText)
{
    TempFolder folder(L"velmora-ie-");
    const std::wstring missing = folder / L"gone\\iexplore.exe";
    const std::wstring present = folder / L"iexplore.exe";
    HANDLE file = CreateFileW(present.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    wchar_t programFiles[MAX_PATH] = {};
    ASSERT_HRESULT_SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles));
    const std::wstring systemIe = std::wstring(programFiles) + L"\\Internet Explorer\\iexplore.exe";
    ASSERT_TRUE(FileExists(systemIe)) << "the prefix has no browser at " << WideToUtf8(systemIe);

    SavedValue appPath(kAppPath, nullptr);
    appPath.Set(present);
    EXPECT_EQ(present, GetIePath());
    appPath.Set(missing);
    EXPECT_EQ(systemIe, GetIePath());
    appPath.Set(folder.Path()); // a folder is no program
    EXPECT_EQ(systemIe, GetIePath());

    // The program-files folder is the system's: the environment the elevated program inherited
    // cannot point it at a browser of someone else's choosing.
    const std::wstring planted = folder / L"Internet Explorer\\iexplore.exe";
    ASSERT_TRUE(CreateDirectoryW((folder / L"Internet Explorer").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(present.c_str(), planted.c_str(), FALSE));
    ProgramFilesOverride elsewhere(folder.Path());
    appPath.Set(missing);
    EXPECT_EQ(systemIe, GetIePath());
    appPath.Remove();
    EXPECT_EQ(systemIe, GetIePath());
}

TEST(OsVersion, LaunchIeStartsTheBrowserAsTheShellUserWithoutWaiting)
{
    const std::wstring probe = WindowsPath(CHILD_PROBE_EXE);
    TempFolder folder(L"velmora-launch-");
    const std::wstring report = folder / L"launched.txt";
    SavedValue appPath(kAppPath, nullptr);
    appPath.Set(probe);
    // The URL follows the quoted path unchanged: here it carries the probe's exit code, its report
    // file and how long it stays.
    const std::wstring url = L"0 " + Quoted(report) + L" 10000";

    ASSERT_EQ(GetShellWindow(), nullptr) << "this test sets the shell window itself";
    EXPECT_EQ(E_FAIL, LaunchIe(url)) << "no desktop shell: nothing may start elevated instead";
    Sleep(300);
    EXPECT_FALSE(FileExists(report));

    HWND shell = CreateWindowExW(0, L"STATIC", L"velmora test shell", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(shell, nullptr);
    ASSERT_TRUE(SetShellWindowFor(shell)) << GetLastError();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(S_OK, LaunchIe(url));
    EXPECT_LT(GetTickCount64() - start, 8000u) << "the launch must not wait for the browser";
    EXPECT_TRUE(WaitForFile(report));
    const std::string started = ReadFileBytes(report);
    EXPECT_EQ(0u, started.rfind("flags=0 ", 0)) << "shown normally: " << started;
    DestroyWindow(shell);
}

} // namespace
