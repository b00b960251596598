// The program as a whole, run as real processes: start-up, single instance, restart, the hand-over
// to the tray companion, the library search, and the resources the executable carries.
#include "app/assistant_app_win.h"
#include "app/library_search_win.h"
#include "app/settings_store_win.h"
#include "checks/browser_cache_win.h"
#include "checks/scoped_redirection_win.h"
#include "common/text_win.h"
#include "sysinfo/file_version_win.h"
#include "win/app/win_test_support.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cwchar>
#include <regex>
#include <set>
#include <thread>
#include <vector>

using namespace Velmora;
using namespace VelmoraTest;

namespace {

const std::wstring kAssistant = WindowsPath(ASSISTANT_EXE);

// The copy's settings live where the program looks for them: its base name is VelmoraAssistant.
SettingsStore& CopySettings()
{
    static SettingsStore store(kCompanyKey, L"VelmoraAssistant");
    return store;
}

class CloseTypeSetting {
public:
    explicit CloseTypeSetting(int value) { CopySettings().WriteInt(kSettingsSection, kCloseTypeKey, value); }
    CloseTypeSetting() { Clear(); }
    ~CloseTypeSetting() { Clear(); }

private:
    static void Clear() { RegDeleteTreeW(HKEY_CURRENT_USER, CopySettings().ProfileKey().c_str()); }
};

// VelmoraAssistant.exe copied into a folder of its own, with the recording companion beside it.
class AssistantCopy {
public:
    AssistantCopy() : folder_(L"velmora-app-")
    {
        exe_ = folder_ / L"VelmoraAssistant.exe";
        copied_ =
            CopyFileW(kAssistant.c_str(), exe_.c_str(), FALSE) &&
            CopyFileW(WindowsPath(TRAY_RECORDER_EXE).c_str(), (folder_ / L"QXSysTray.exe").c_str(), FALSE);
    }
    bool Ready() const { return copied_; }
    const std::wstring& Exe() const { return exe_; }
    const TempFolder& Folder() const { return folder_; }
    std::wstring CompanionReport() const { return folder_ / L"companion.txt"; }

    // Runs the copy to its end; the exit code, or -1 when it did not start or end in time. A main
    // window it shows is closed the way a user would close it; `sawWindow` tells whether one came.
    int Run(DWORD* processId = nullptr, const wchar_t* currentFolder = nullptr,
            bool* sawWindow = nullptr) const
    {
        std::wstring line = Quoted(exe_);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(exe_.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, currentFolder,
                            &startup, &info))
            return -1;
        if (processId != nullptr)
            *processId = info.dwProcessId;
        WindowSearch search{info.dwProcessId, nullptr};
        bool ended = false;
        for (int tick = 0; tick < 300 && !ended; ++tick) {
            ended = WaitForSingleObject(info.hProcess, 100) == WAIT_OBJECT_0;
            if (ended)
                break;
            EnumWindows(&FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
            if (search.found != nullptr)
                PostMessageW(search.found, WM_CLOSE, 0, 0);
        }
        if (sawWindow != nullptr)
            *sawWindow = search.found != nullptr;
        DWORD code = static_cast<DWORD>(-1);
        if (ended)
            GetExitCodeProcess(info.hProcess, &code);
        else
            TerminateProcess(info.hProcess, code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return static_cast<int>(code);
    }

private:
    TempFolder folder_;
    std::wstring exe_;
    bool copied_ = false;
};

BOOL CALLBACK CloseIfStartedFrom(HWND window, LPARAM context)
{
    const auto* exe = reinterpret_cast<const std::wstring*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
    if (process == nullptr)
        return TRUE;
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    const bool ours =
        QueryFullProcessImageNameW(process, 0, image, &length) && lstrcmpiW(image, exe->c_str()) == 0;
    CloseHandle(process);
    if (ours && IsWindowVisible(window))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Closes the visible top-level windows of processes started from `exe`.
void CloseWindowsOf(const std::wstring& exe)
{
    EnumWindows(&CloseIfStartedFrom, reinterpret_cast<LPARAM>(&exe));
}

std::wstring ReadWideFile(const std::wstring& path)
{
    const std::string bytes = ReadFileBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// A copy that has just started its companion may still hold the instance for a moment.
bool WaitForInstanceFree()
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        Mutex probe;
        if (probe.Create(kSingleInstanceName, false) == S_OK)
            return true;
        Sleep(20);
    }
    return false;
}

// The companion is not awaited by the program; give a wrongly started one time to show up.
void ExpectNoCompanion(const AssistantCopy& copy)
{
    Sleep(1500);
    EXPECT_FALSE(FileExists(copy.CompanionReport())) << "the tray companion was started";
}

} // namespace

TEST(Startup, WithoutCloseTypeTheProgramEndsWithoutTheCompanion)
{
    const CloseTypeSetting none;
    AssistantCopy copy;
    ASSERT_TRUE(copy.Ready());
    EXPECT_EQ(copy.Run(), kExitNormal);
    ExpectNoCompanion(copy);

    const CloseTypeSetting quit(0);
    EXPECT_EQ(copy.Run(), kExitNormal);
    ExpectNoCompanion(copy);
}

TEST(Startup, CloseTypeOneHandsOverToTheCompanionWithTheResourceNumbers)
{
    const CloseTypeSetting tray(kCloseTypeToTray);
    AssistantCopy copy;
    ASSERT_TRUE(copy.Ready());
    DWORD processId = 0;
    ASSERT_EQ(copy.Run(&processId), kExitNormal);
    ASSERT_TRUE(WaitForFile(copy.CompanionReport())) << "the companion did not start";

    const std::wstring report = ReadWideFile(copy.CompanionReport());
    const size_t split = report.find(L'\n');
    ASSERT_NE(split, std::wstring::npos) << testing::PrintToString(report);
    EXPECT_EQ(report.substr(0, split),
              Quoted(copy.Folder() / L"QXSysTray.exe") + L" 103 102 199 " + std::to_wstring(processId));
    EXPECT_EQ(report.substr(split + 1), copy.Folder().Path()) << "AppPath is the executable's folder";
}

TEST(Startup, ASecondCopyEndsAtOnceWhileTheFirstHoldsTheInstance)
{
    const CloseTypeSetting tray(kCloseTypeToTray);
    AssistantCopy copy;
    ASSERT_TRUE(copy.Ready());
    {
        ASSERT_TRUE(WaitForInstanceFree());
        Mutex first;
        ASSERT_EQ(first.Create(kSingleInstanceName, true), S_OK);
        bool sawWindow = true;
        EXPECT_EQ(copy.Run(nullptr, nullptr, &sawWindow), kExitSecondInstance);
        EXPECT_FALSE(sawWindow) << "the second copy showed a window";
        ExpectNoCompanion(copy);
    }
    // Once the first copy is gone the next one runs through to the hand-over.
    EXPECT_EQ(copy.Run(), kExitNormal);
    EXPECT_TRUE(WaitForFile(copy.CompanionReport()));
}

TEST(Lifecycle, RestartReleasesTheInstanceBeforeTheNewCopyStarts)
{
    const CloseTypeSetting tray(kCloseTypeToTray);
    AssistantCopy copy;
    ASSERT_TRUE(copy.Ready());
    ASSERT_TRUE(WaitForInstanceFree());
    ASSERT_EQ(AcquireSingleInstance(), S_OK);

    RestartApplication(copy.Exe());
    EXPECT_FALSE(IsAppRunning());
    EXPECT_TRUE(IsRestartRequested()) << "a restarting program must not start the companion itself";
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the message loop is told to end";

    // The new copy got past the single-instance check: it reached its own exit hand-over (after
    // its main window, if it shows one, is closed).
    bool handedOver = false;
    for (int tick = 0; tick < 300 && !handedOver; ++tick) {
        CloseWindowsOf(copy.Exe());
        handedOver = WaitForFile(copy.CompanionReport(), 100);
    }
    ASSERT_TRUE(handedOver) << "the restarted copy did not run";
    const std::wstring report = ReadWideFile(copy.CompanionReport());
    EXPECT_EQ(report.find(L" " + std::to_wstring(GetCurrentProcessId()) + L"\n"), std::wstring::npos)
        << "the companion was started by this process instead of the new copy";
    EXPECT_TRUE(WaitForInstanceFree());
}

TEST(Lifecycle, QuitFromAnotherThreadEndsTheUiThreadsLoopAndReleasesTheInstance)
{
    ASSERT_TRUE(WaitForInstanceFree());
    ASSERT_EQ(AcquireSingleInstance(), S_OK);
    std::thread worker([] { QuitApplication(); });
    worker.join();

    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the quit message must reach the UI thread, not the calling one";
    Mutex next;
    EXPECT_EQ(next.Create(kSingleInstanceName, true), S_OK) << "the instance was not released";
}

// Puts a file into a folder of the prefix for one test and removes it (and the folders it made).
class PlacedFile {
public:
    PlacedFile(const std::wstring& from, const std::wstring& folder, const std::wstring& name)
    {
        std::wstring path;
        for (size_t next = 0; next != std::wstring::npos;) {
            next = folder.find(L'\\', next + 1);
            path = folder.substr(0, next);
            if (CreateDirectoryW(path.c_str(), nullptr))
                created_.insert(created_.begin(), path);
        }
        file_ = folder + L"\\" + name;
        placed_ = CopyFileW(from.c_str(), file_.c_str(), FALSE) != FALSE;
    }
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;
    ~PlacedFile()
    {
        DeleteFileW(file_.c_str());
        for (const std::wstring& folder : created_)
            RemoveDirectoryW(folder.c_str());
    }
    bool Placed() const { return placed_; }

private:
    std::wstring file_;
    std::vector<std::wstring> created_;
    bool placed_ = false;
};

// Set for this test program by CTest (and so for the programs it starts): without it Wine would
// take its built-in copies of the planted libraries whatever lies beside a program, and the planting
// tests would prove nothing.
bool NativeLibrariesFirst()
{
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        return true;
    wchar_t overrides[1024] = {};
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 1024);
    return std::wstring(overrides).find(L"winhttp,dnsapi,crypt32,schannel=n,b") != std::wstring::npos;
}

// The companion libraries come from the machine's common-files folder as the system tells it, and
// from nowhere else: not the current folder, not PATH, not beside the program (whose folder the
// customer may have chosen), not a common-files folder the environment names.
TEST(Startup, CompanionLibrariesComeOnlyFromTheSystemsCommonFiles)
{
    const CloseTypeSetting none;
    AssistantCopy copy;
    ASSERT_TRUE(copy.Ready());
    const std::wstring probe = WindowsPath(PROBE_LIBRARY);
    wchar_t common[MAX_PATH] = {};
    ASSERT_HRESULT_SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, common));
    const std::wstring planted = copy.Folder() / L"planted";
    const std::wstring markers = copy.Folder() / L"markers";
    ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(markers.c_str(), nullptr));
    const PlacedFile installed(probe, std::wstring(common) + L"\\Velmora\\Assistant", L"screenshield.dll");
    ASSERT_TRUE(installed.Placed());
    // The second library is missing from its folder but planted everywhere else.
    ASSERT_FALSE(FileExists(std::wstring(common) + L"\\Velmora\\AntiTrojan\\scanguard.dll"));
    ASSERT_TRUE(CopyFileW(probe.c_str(), (planted + L"\\scanguard.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(probe.c_str(), (copy.Folder() / L"scanguard.dll").c_str(), FALSE));
    const PlacedFile fakeCommon(probe, planted + L"\\Velmora\\AntiTrojan", L"scanguard.dll");
    ASSERT_TRUE(fakeCommon.Placed());

    std::wstring savedPath(32767, L'\0');
    savedPath.resize(
        GetEnvironmentVariableW(L"PATH", savedPath.data(), static_cast<DWORD>(savedPath.size())));
    std::wstring savedCommon(MAX_PATH, L'\0');
    savedCommon.resize(GetEnvironmentVariableW(L"CommonProgramFiles", savedCommon.data(), MAX_PATH));
    SetEnvironmentVariableW(L"PATH", (planted + L";" + savedPath).c_str());
    SetEnvironmentVariableW(L"CommonProgramFiles", planted.c_str());
    SetEnvironmentVariableW(L"VELMORA_LIBRARY_MARKER", markers.c_str());

    const int run = copy.Run(nullptr, planted.c_str());
    const std::wstring installedMarker = ReadWideFile(markers + L"\\screenshield.dll.loaded");
    const std::wstring plantedMarker = ReadWideFile(markers + L"\\scanguard.dll.loaded");

    SetEnvironmentVariableW(L"PATH", savedPath.c_str());
    SetEnvironmentVariableW(L"VELMORA_LIBRARY_MARKER", nullptr);
    // Wine gives every new process the system's folders in these variables, so the environment's
    // folder is tried in this process too.
    CompanionLibraries inProcess;
    inProcess.Load();
    SetEnvironmentVariableW(L"CommonProgramFiles", savedCommon.c_str());

    EXPECT_EQ(run, kExitNormal);
    EXPECT_EQ(installedMarker, std::wstring(common) + L"\\Velmora\\Assistant\\screenshield.dll");
    EXPECT_EQ(plantedMarker, L"") << "a planted library was loaded";
    EXPECT_TRUE(inProcess.IsLoaded(0));
    EXPECT_FALSE(inProcess.IsLoaded(1))
        << "the library under the environment's common-files folder was loaded";
}

// Clearing the browser's TLS state loads Schannel: from the system folder, never a copy planted
// beside the program (this test program's folder stands for the program's).
TEST(Startup, SchannelPlantedBesideTheProgramIsNeverLoaded)
{
    ASSERT_TRUE(NativeLibrariesFirst()) << "run it through CTest";
    ASSERT_EQ(GetModuleHandleW(L"schannel.dll"), nullptr) << "loaded already: a load by name would find it";
    wchar_t exe[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    const std::wstring folder(exe, std::wcsrchr(exe, L'\\'));
    const TempFolder markers(L"velmora-schannel-");
    const PlacedFile planted(WindowsPath(PROBE_LIBRARY), folder, L"schannel.dll");
    ASSERT_TRUE(planted.Placed());
    SetEnvironmentVariableW(L"VELMORA_LIBRARY_MARKER", markers.Path().c_str());
    Assistant::ClearTlsState(nullptr);
    SetEnvironmentVariableW(L"VELMORA_LIBRARY_MARKER", nullptr);
    EXPECT_FALSE(FileExists(markers / L"schannel.dll.loaded")) << "the planted schannel.dll was loaded";
}

// The system libraries that are not known DLLs must never come from the program's own folder (a
// Downloads folder, say): imported the ordinary way, a copy beside the program is the first found.
TEST(Startup, SystemLibrariesPlantedBesideTheProgramAreNeverLoaded)
{
    const CloseTypeSetting none;
    AssistantCopy copy;
    ASSERT_TRUE(copy.Ready());
    const std::wstring probe = WindowsPath(PROBE_LIBRARY);
    const std::wstring markers = copy.Folder() / L"markers";
    ASSERT_TRUE(CreateDirectoryW(markers.c_str(), nullptr));
    // version.dll is not planted: Wine's own user32 imports it, so under Wine it is resolved before
    // the program runs a single instruction, whatever the program does. That no shipped program
    // imports it (or another of these) the ordinary way is the build's delay_imports test.
    const wchar_t* const planted[] = {L"winhttp.dll", L"dnsapi.dll", L"crypt32.dll"};
    for (const wchar_t* name : planted)
        ASSERT_TRUE(CopyFileW(probe.c_str(), (copy.Folder() / name).c_str(), FALSE));

    ASSERT_TRUE(NativeLibrariesFirst()) << "run it through CTest";
    SetEnvironmentVariableW(L"VELMORA_LIBRARY_MARKER", markers.c_str());
    const int run = copy.Run();
    SetEnvironmentVariableW(L"VELMORA_LIBRARY_MARKER", nullptr);

    EXPECT_EQ(run, kExitNormal);
    for (const wchar_t* name : planted)
        EXPECT_FALSE(FileExists(markers + L"\\" + name + L".loaded"))
            << "the planted " << name << " was loaded";
}

// PE machine of a file, 0 when it is no PE image.
WORD ImageMachine(const std::wstring& path)
{
    ScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    IMAGE_DOS_HEADER dos = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.Get(), &dos, sizeof dos, &read, nullptr) || read != sizeof dos ||
        dos.e_magic != IMAGE_DOS_SIGNATURE ||
        SetFilePointer(file.Get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return 0;
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER header;
    } nt = {};
    if (!ReadFile(file.Get(), &nt, sizeof nt, &read, nullptr) || read != sizeof nt ||
        nt.signature != IMAGE_NT_SIGNATURE)
        return 0;
    return nt.header.Machine;
}

// The first call into a delay-imported library may come while the thread reaches the 64-bit side
// with redirection switched off (an entry with bit="64"): the library must still be the one of
// the process's own bitness, or the load fails and the call ends the process.
TEST(Startup, DelayImportedLibrariesMatchTheProcessWhileRedirectionIsOff)
{
    const WORD own = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    const Assistant::ScopedRedirection off; // whenever the process runs under WOW64
    for (const wchar_t* name : {L"winhttp.dll", L"version.dll", L"crypt32.dll", L"dnsapi.dll"}) {
        const std::wstring path = SystemLibraryPath(name);
        EXPECT_EQ(ImageMachine(path), own) << path;
    }
}

TEST(Resources, ManifestStringsIconAndVersionAreCarried)
{
    const HMODULE exe = LoadLibraryExW(kAssistant.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr) << GetLastError();
    const auto text = [exe](UINT id) {
        const wchar_t* data = nullptr;
        const int length = LoadStringW(exe, id, reinterpret_cast<LPWSTR>(&data), 0);
        return length > 0 ? std::wstring(data, static_cast<size_t>(length)) : std::wstring();
    };
    EXPECT_EQ(text(102), L"网银助手");
    EXPECT_EQ(text(103), L"启动" + text(102));
    EXPECT_EQ(text(104), L"应用程序有更新发布\n是否立即应用");
    EXPECT_EQ(text(105), L"应用程序有重要更新\n需要立即应用");
    EXPECT_EQ(text(106), L"发现更新");
    EXPECT_EQ(text(107), L"立即更新");
    EXPECT_EQ(text(108), L"稍后更新");
    EXPECT_EQ(text(255), L"应用程序为当前最新版本。");
    EXPECT_EQ(text(256), L"无需更新");
    EXPECT_NE(FindResourceW(exe, MAKEINTRESOURCEW(199), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */), nullptr);

    HRSRC manifestInfo = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(manifestInfo, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(exe, manifestInfo)));
    const std::string manifest(bytes, SizeofResource(exe, manifestInfo));
    for (const char* needed : {"level=\"requireAdministrator\"", "uiAccess=\"false\"", ">true</dpiAware>",
                               "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""})
        EXPECT_NE(manifest.find(needed), std::string::npos) << needed;
    FreeLibrary(exe);

    VS_FIXEDFILEINFO version = {};
    ASSERT_TRUE(ReadFileVersion(kAssistant, &version));
    EXPECT_EQ(version.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_GE(HIWORD(version.dwProductVersionMS), 1u);
}

// The page reaches its style sheet, scripts and images through relative URLs, which res:// turns
// into <TYPE>/<NAME> lookups in the executable: every reference in the page and its scripts must
// find its resource, or the customer sees a broken page.
TEST(Resources, EveryFileThePageReferencesIsCarried)
{
    const HMODULE exe = LoadLibraryExW(kAssistant.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr) << GetLastError();
    const auto load = [exe](const wchar_t* type, const wchar_t* name, std::string& out) {
        HRSRC info = FindResourceW(exe, name, type);
        if (!info)
            return false;
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(exe, info)));
        out.assign(bytes, SizeofResource(exe, info));
        return !out.empty();
    };

    std::string page;
    ASSERT_TRUE(load(MAKEINTRESOURCEW(23) /* RT_HTML */, MAKEINTRESOURCEW(200), page));
    EXPECT_NE(page.find("X-UA-Compatible"), std::string::npos);

    std::vector<std::string> texts{page};
    std::set<std::string> references;
    const std::regex reference(R"(\b(css|js|images)/([A-Za-z0-9_.-]+))");
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (std::sregex_iterator it(texts[i].begin(), texts[i].end(), reference), end; it != end; ++it) {
            if (!references.insert((*it)[0]).second)
                continue;
            std::wstring type = Utf8ToWide((*it)[1].str());
            std::wstring name = Utf8ToWide((*it)[2].str());
            CharUpperW(type.data());
            CharUpperW(name.data());
            std::string content;
            EXPECT_TRUE(load(type.c_str(), name.c_str(), content)) << "missing resource for " << (*it)[0];
            if (type != L"IMAGES")
                texts.push_back(content); // scripts and styles may reference further files
        }
    }
    EXPECT_GE(references.size(), 10u) << "the page's references were not found";
    EXPECT_TRUE(references.count("js/jquery.min.js"));
    FreeLibrary(exe);
}
