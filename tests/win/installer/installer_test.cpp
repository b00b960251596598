// The setup program as the self-update and the user run it: a silent install into Program Files,
// an update over a running copy, failed updates that must leave the installed version as it was,
// the self-update that downloads and runs it, and the uninstaller named by the uninstall entry.
#include "win/checks/loopback_server.h"
#include "win/checks/test_files.h"

#include "app/module_paths_win.h"
#include "checks/digest.h"
#include "checks/scoped_redirection_win.h"
#include "common/com_ptr_win.h"
#include "common/scoped_handle_win.h"
#include "common/text_win.h"
#include "res/product.h"
#include "sysinfo/file_version_win.h"
#include "win/app/win_test_support.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace Velmora;
using namespace VelmoraTest;

namespace {

const std::wstring kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" VELMORA_UNINSTALL_ID;
const std::wstring kSettingsKey = L"Software\\" VELMORA_PUBLISHER L"\\VelmoraAssistant";
const std::wstring kExe = L"" VELMORA_EXE_NAME;
const std::wstring kCompanion = L"" VELMORA_COMPANION_NAME;
const std::wstring kUninstaller = L"uninst.exe";
const std::wstring kAside = L"" VELMORA_ASIDE_SUFFIX;
constexpr DWORD kHangLimitMs = 120000; // a hang guard only: every wait below ends on an event

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

const std::wstring& InstallFolder()
{
    static const std::wstring folder =
        KnownFolder(CSIDL_PROGRAM_FILES) + L"\\" + Utf8ToWide(VELMORA_DISPLAY_NAME);
    return folder;
}

std::wstring Installed(const std::wstring& name)
{
    return InstallFolder() + L"\\" + name;
}

std::wstring Shortcut()
{
    return KnownFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + Utf8ToWide(VELMORA_DISPLAY_NAME) + L".lnk";
}

// "a.b.c.d" of a file's version resource; empty when it has none.
std::wstring VersionOf(const std::wstring& path)
{
    VS_FIXEDFILEINFO info = {};
    if (!ReadFileVersion(path, &info))
        return {};
    return std::to_wstring(HIWORD(info.dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info.dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info.dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info.dwFileVersionLS));
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view = 0)
{
    ScopedRegKey opened;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, opened.Receive()) == ERROR_SUCCESS;
}

std::wstring EntryText(const wchar_t* name)
{
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    return value;
}

DWORD EntryNumber(const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

// Starts a command line; the process handle, empty when it did not start.
ScopedHandle Start(std::wstring line)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return {};
    CloseHandle(info.hThread);
    return ScopedHandle(info.hProcess);
}

// Runs a command line to its end: its exit code, or -1 when it did not start or end.
long RunToEnd(const std::wstring& line)
{
    const ScopedHandle process = Start(line);
    if (!process || WaitForSingleObject(process.Get(), kHangLimitMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<long>(code);
}

long RunSetup(const char* setup)
{
    return RunToEnd(Quoted(WindowsPath(setup)) + L" /S");
}

void ForceDelete(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

constexpr wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// Everything an installation leaves, removed without its uninstaller.
void RemoveInstallation()
{
    std::wstring from = InstallFolder() + L'\0'; // double terminator for the shell
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
    ForceDelete(Shortcut());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue);
    // No tray hand-over from an earlier test's settings: the companion would write beside the program.
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey.c_str());
}

// Name to size and content hash of each installed file (short to print when they differ).
std::map<std::wstring, std::pair<size_t, size_t>> InstalledFiles()
{
    std::map<std::wstring, std::pair<size_t, size_t>> files;
    for (const std::wstring& name : {kExe, kCompanion, kUninstaller}) {
        const std::string bytes = ReadFileBytes(Installed(name));
        files[name] = {bytes.size(), std::hash<std::string>{}(bytes)};
    }
    return files;
}

// The files to be renamed or deleted when the system next starts, as "\0<from>\0<to>\0..." (an
// empty <to> deletes).
std::wstring PendingDeletions()
{
    std::wstring pending(32768, L'\0');
    DWORD size = static_cast<DWORD>(pending.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr,
                     pending.data(), &size) != ERROR_SUCCESS)
        return {};
    pending.resize(size / sizeof(wchar_t));
    return L'\0' + pending;
}

// The names in a folder, in the order the system lists them.
std::string FolderContents(const std::wstring& folder)
{
    std::string names;
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names += WideToUtf8(found.cFileName) + " ";
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The installed program, started and running with its main window shown.
class RunningProgram {
public:
    RunningProgram() : process_(Start(Quoted(Installed(kExe))))
    {
        if (!process_)
            return;
        const ULONGLONG end = GetTickCount64() + kHangLimitMs;
        while (window_ == nullptr && GetTickCount64() < end &&
               WaitForSingleObject(process_.Get(), 50) == WAIT_TIMEOUT) {
            WindowSearch search{GetProcessId(process_.Get()), nullptr};
            EnumWindows(&FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
            window_ = search.found;
        }
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram() { Close(); }

    bool Shown() const { return window_ != nullptr; }
    bool StillRunning() const { return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }
    // The executable the process was started from, as the system reports it.
    std::wstring Image() const
    {
        wchar_t image[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        return QueryFullProcessImageNameW(process_.Get(), 0, image, &length) ? image : L"";
    }
    // Closes the window as a user would; true when the process then ended.
    bool Close()
    {
        if (!process_)
            return true;
        if (window_ != nullptr)
            PostMessageW(window_, WM_CLOSE, 0, 0);
        const bool ended = WaitForSingleObject(process_.Get(), kHangLimitMs) == WAIT_OBJECT_0;
        if (!ended)
            TerminateProcess(process_.Get(), 1);
        process_.Reset();
        return ended;
    }

private:
    ScopedHandle process_;
    HWND window_ = nullptr;
};

class Setup : public testing::Test {
protected:
    void SetUp() override { RemoveInstallation(); }
    void TearDown() override { RemoveInstallation(); }
};

TEST_F(Setup, SilentInstallPutsFilesShortcutAndUninstallEntryInPlace)
{
    ASSERT_EQ(RunSetup(SETUP_CURRENT), 0);

    EXPECT_EQ(VersionOf(Installed(kExe)), CURRENT_VERSION);
    EXPECT_EQ(ReadFileBytes(Installed(kCompanion)), ReadFileBytes(WindowsPath(COMPANION_CURRENT)));
    EXPECT_TRUE(FileExists(Installed(kUninstaller)));
    EXPECT_FALSE(FileExists(Installed(L"" VELMORA_STAGING_NAME))) << "the staging folder stays behind";
    EXPECT_FALSE(FileExists(Installed(kExe + kAside)));

    // The shortcut starts the installed program.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        ComPtr<IShellLinkW> link;
        ComPtr<IPersistFile> file;
        PIDLIST_ABSOLUTE item = nullptr;
        wchar_t target[MAX_PATH] = {};
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IShellLinkW, link.ReceiveVoid())));
        if (SUCCEEDED(link.As(file)) && SUCCEEDED(file->Load(Shortcut().c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetIDList(&item))) {
            SHGetPathFromIDListW(item, target);
            CoTaskMemFree(item);
        }
        EXPECT_EQ(lstrcmpiW(target, Installed(kExe).c_str()), 0) << "shortcut target: " << WideToUtf8(target);
    }
    CoUninitialize();

    // The setup program of each build installs for its own bitness: the 32-bit one, under WOW64,
    // into the 32-bit Program Files folder, with its uninstall entry in the 32-bit registry view.
    const bool wide = sizeof(void*) == 8;
    if (Assistant::RunsUnderWow64()) {
        EXPECT_NE(InstallFolder().find(L"\\Program Files (x86)\\"), std::wstring::npos)
            << WideToUtf8(InstallFolder());
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, wide ? KEY_WOW64_64KEY : KEY_WOW64_32KEY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, wide ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
    EXPECT_EQ(EntryText(L"DisplayName"), Utf8ToWide(VELMORA_DISPLAY_NAME));
    EXPECT_EQ(EntryText(L"DisplayVersion"), CURRENT_VERSION);
    EXPECT_EQ(EntryText(L"Publisher"), L"" VELMORA_PUBLISHER);
    EXPECT_EQ(EntryText(L"UninstallString"), Quoted(Installed(kUninstaller)) + L" _?=" + InstallFolder());
    // In KB, at least what the two programs take.
    const size_t bytes = ReadFileBytes(Installed(kExe)).size() + ReadFileBytes(Installed(kCompanion)).size();
    EXPECT_GE(EntryNumber(L"EstimatedSize"), bytes / 1024);
    EXPECT_LE(EntryNumber(L"EstimatedSize"), 2 * bytes / 1024 + 1024);
}

TEST_F(Setup, UpdateOverARunningCopyReplacesItAndTheNextStartRunsTheNewVersion)
{
    ASSERT_EQ(RunSetup(SETUP_CURRENT), 0);
    {
        RunningProgram old;
        ASSERT_TRUE(old.Shown()) << "the installed program did not start";

        ASSERT_EQ(RunSetup(SETUP_NEXT), 0);
        EXPECT_TRUE(old.StillRunning());
        EXPECT_EQ(VersionOf(Installed(kExe)), NEXT_VERSION);
        EXPECT_EQ(ReadFileBytes(Installed(kCompanion)), ReadFileBytes(WindowsPath(COMPANION_NEXT)));
        EXPECT_EQ(EntryText(L"DisplayVersion"), NEXT_VERSION);
        EXPECT_TRUE(FileExists(Installed(kExe + kAside))) << "the running copy was not moved aside";
        EXPECT_TRUE(old.Close());
    }
    // The copy moved aside was still running; the next start clears it away before its window shows.
    RunningProgram next;
    ASSERT_TRUE(next.Shown()) << "the updated program did not start";
    EXPECT_EQ(lstrcmpiW(next.Image().c_str(), Installed(kExe).c_str()), 0) << WideToUtf8(next.Image());
    EXPECT_EQ(VersionOf(next.Image()), NEXT_VERSION);
    EXPECT_FALSE(FileExists(Installed(kExe + kAside))) << "the aside copy stays after the next start";
    EXPECT_TRUE(next.Close());
}

// The self-update end to end, as support staff run it: the check document's appinfo offers the newer
// setup program (served with its digest) while the installed program is older; VelmoraCheck.exe
// /update asks, installs it silently only when the answer is yes, and the next start of the
// program runs the new version.
TEST_F(Setup, TheSelfUpdateInstallsTheOfferedSetupAndTheNextStartRunsTheNewVersion)
{
    ASSERT_EQ(RunSetup(SETUP_CURRENT), 0);
    Assistant::Testing::LoopbackServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string setup = ReadFileBytes(WindowsPath(SETUP_NEXT));
    ASSERT_FALSE(setup.empty());
    server.Respond(200, setup);

    // The command-line check runs from a folder of its own: its downloads stay there.
    const TempFolder folder(L"velmora-self-update-");
    const std::wstring check = folder / L"VelmoraCheck.exe";
    ASSERT_TRUE(CopyFileW(WindowsPath(VELMORA_CHECK_EXE).c_str(), check.c_str(), FALSE));
    const std::wstring document = folder / L"item.xml";
    ASSERT_TRUE(Assistant::Testing::WriteBytes(
        document, "<checkitems><appinfo name=\"网银助手\" version=\"" + WideToUtf8(NEXT_VERSION) +
                      "\"><detect dtype=\"file\" version=\"&gt;=" + WideToUtf8(NEXT_VERSION) + "\">" +
                      WideToUtf8(Installed(kExe)) + "</detect><installer sha256=\"" +
                      Assistant::DigestHex(setup, Assistant::kDigestSha256) +
                      "\" parameter=\"/S\">http://127.0.0.1:" + std::to_string(server.Port()) +
                      "/update/VelmoraAssistantSetup.exe</installer></appinfo></checkitems>"));
    const std::wstring report = folder / L"report.json";
    const auto update = [&](const wchar_t* answer) {
        return RunToEnd(Quoted(check) + L" /update " + answer + L" /config " + Quoted(document) +
                        L" /report " + Quoted(report));
    };

    EXPECT_EQ(update(L""), 1) << "declined by default: the update is still to install";
    EXPECT_EQ(server.Requests(), 0);
    EXPECT_EQ(VersionOf(Installed(kExe)), CURRENT_VERSION);
    EXPECT_NE(ReadFileBytes(report).find(R"("update": "not_installed")"), std::string::npos);

    EXPECT_EQ(update(L"/yes"), 0);
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_NE(ReadFileBytes(report).find(R"("update": "installed")"), std::string::npos);
    EXPECT_EQ(VersionOf(Installed(kExe)), NEXT_VERSION);
    EXPECT_EQ(EntryText(L"DisplayVersion"), NEXT_VERSION);

    EXPECT_EQ(update(L"/yes"), 0);
    EXPECT_EQ(server.Requests(), 1) << "an assistant already current downloads nothing";
    EXPECT_NE(ReadFileBytes(report).find(R"("update": "current")"), std::string::npos);

    RunningProgram next;
    ASSERT_TRUE(next.Shown()) << "the updated program did not start";
    EXPECT_EQ(VersionOf(next.Image()), NEXT_VERSION);
    EXPECT_TRUE(next.Close());
}

// A file held open without delete sharing can be neither replaced nor moved aside, as a file the
// installer cannot write would be.
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path, bool create)
        : file_(CreateFileW(path.c_str(), GENERIC_READ | (create ? GENERIC_WRITE : 0), FILE_SHARE_READ,
                            nullptr, create ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr))
    {
    }
    bool Held() const { return file_.IsValid(); }

private:
    ScopedHandle file_;
};

TEST_F(Setup, AFailedUpdateLeavesTheInstalledVersionAsItWas)
{
    struct Case {
        const wchar_t* what;
        std::wstring held;
        bool create;
    };
    const std::vector<Case> cases = {
        {L"the staging folder cannot be made", Installed(L"" VELMORA_STAGING_NAME), true},
        {L"the program cannot be moved aside", Installed(kExe), false},
        {L"the uninstaller cannot be moved aside", Installed(kUninstaller), false},
        {L"the companion cannot be moved aside (the last file)", Installed(kCompanion), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.what));
        RemoveInstallation();
        ASSERT_EQ(RunSetup(SETUP_CURRENT), 0);
        const auto before = InstalledFiles();
        {
            const HeldFile held(c.held, c.create);
            ASSERT_TRUE(held.Held());
            EXPECT_NE(RunSetup(SETUP_NEXT), 0) << "a failed update reported success";
        }
        ForceDelete(Installed(L"" VELMORA_STAGING_NAME));
        EXPECT_EQ(InstalledFiles(), before) << "the installed files changed";
        for (const std::wstring& name : {kExe, kCompanion, kUninstaller})
            EXPECT_FALSE(FileExists(Installed(name + kAside))) << WideToUtf8(name) << kAside.c_str();
        EXPECT_EQ(EntryText(L"DisplayVersion"), CURRENT_VERSION);
    }
    // The version left in place still works, and a later update succeeds.
    {
        RunningProgram old;
        EXPECT_TRUE(old.Shown());
    }
    ASSERT_EQ(RunSetup(SETUP_NEXT), 0);
    EXPECT_EQ(VersionOf(Installed(kExe)), NEXT_VERSION);
}

TEST_F(Setup, TheUninstallEntryRemovesWhatWasInstalledAndTheSettingsOnlyWhenAsked)
{
    struct Case {
        const wchar_t* option;
        bool settingsRemoved;
    };
    for (const Case& c : {Case{L"", false}, Case{L" /REMOVESETTINGS", true}}) {
        SCOPED_TRACE(WideToUtf8(c.option));
        RemoveInstallation();
        ASSERT_EQ(RunSetup(SETUP_CURRENT), 0);
        // What the program writes beside itself, and its settings.
        CloseHandle(
            CreateFileW(Installed(L"Log.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        CreateDirectoryW(Installed(L"Download").c_str(), nullptr);
        CloseHandle(CreateFileW(Installed(L"Download\\component.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr));
        ScopedRegKey settings;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (kSettingsKey + L"\\Settings").c_str(), 0, nullptr, 0,
                                  KEY_WRITE, nullptr, settings.Receive(), nullptr),
                  ERROR_SUCCESS);
        settings.Reset();

        // As the program's own uninstall runs it: the entry's command, awaited. The silent form
        // takes /S (and the option) before the folder, which must stay last.
        std::wstring line = EntryText(L"UninstallString");
        const size_t folder = line.find(L" _?=");
        ASSERT_NE(folder, std::wstring::npos) << WideToUtf8(line);
        line.insert(folder, std::wstring(L" /S") + c.option);
        EXPECT_EQ(RunToEnd(line), 0);

        // Only the uninstaller itself, which held its own file open, stays until the system starts
        // again; it and the folder are marked for deletion then.
        EXPECT_EQ(FolderContents(InstallFolder()), ". .. " + WideToUtf8(kUninstaller) + " ");
        const std::wstring pending = PendingDeletions();
        for (const std::wstring& path : {Installed(kUninstaller), InstallFolder()}) {
            const std::wstring name = L'\0' + std::wstring(L"\\??\\") + path;
            const bool marked = pending.find(name + L'\0') != std::wstring::npos ||
                                pending.find(name + L"\\" + L'\0') != std::wstring::npos;
            EXPECT_TRUE(marked) << WideToUtf8(path) << " is not marked for deletion";
        }
        EXPECT_FALSE(FileExists(Shortcut()));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, kSettingsKey), !c.settingsRemoved);
        RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey.c_str());
    }
}

} // namespace
