#include "win/checks/loopback_server.h" // winsock2.h before windows.h

#include "checks/digest.h"
#include "checks/item_install_win.h"
#include "common/option_table.h"
#include "win/app/win_test_support.h"
#include "win/checks/registry_test_support.h"
#include "win/checks/test_files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

namespace Velmora::Assistant {
namespace {

using namespace Testing;
using VelmoraTest::FileExists;
using VelmoraTest::Quoted;

const std::wstring kInstallerExe = VelmoraTest::WindowsPath(TEST_INSTALLER_EXE);
const std::wstring kMarkerKey = L"Software\\VelmoraTest\\ItemInstall";
const std::wstring kUninstallKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelmoraTestComponent";

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Url(const LoopbackServer& server, const char* path)
{
    return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

std::wstring DownloadFolder()
{
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring path = exe;
    return path.substr(0, path.find_last_of(L'\\')) + L"\\Download";
}

std::vector<std::wstring> g_reportedFiles;
std::vector<std::uint32_t> g_reportedValues;

void RecordProgress(const Network::DownloadProgress& progress)
{
    g_reportedFiles.push_back(progress.filePath ? progress.filePath : L"");
    g_reportedValues.push_back(progress.userValue);
}

class ItemInstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.IsListening());
        ASSERT_FALSE(installer.empty()) << "the test installer is built beside the tests";
        Options().Set(kOptionDownloadBesideExe, 1);
        // The folder is made by the first download; the cases that leave files in it beforehand
        // must not depend on one having run.
        CreateDirectoryW(DownloadFolder().c_str(), nullptr);
        Clean();
    }
    void TearDown() override
    {
        Clean();
        Options().Set(kOptionDownloadBesideExe, 0);
        TheCheckConfig().RootAttributes.Clear();
    }
    void Clean()
    {
        RemoveFile(path);
        RemoveFile(path + L".download");
        RemoveFile(log);
        DeleteTree(HKEY_CURRENT_USER, kMarkerKey);
        DeleteTree(HKEY_CURRENT_USER, kUninstallKey);
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            DeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey, view);
        server.Respond(200, installer);
    }

    // The installer marks the component installed and records its command line.
    std::wstring MarkAndLog() const
    {
        return L"/reg:" + kMarkerKey + L" /name:Component /log:" + Quoted(log);
    }
    ConfigEntry Installer(const std::wstring& command) const
    {
        ConfigEntry entry;
        entry.Text = Url(server, "/components/setup.exe?build=7");
        entry.Attributes.Set("command", WideToUtf8(command));
        return entry;
    }
    static ConfigEntry MarkerDetect()
    {
        ConfigEntry entry;
        entry.Text = WideToUtf8(L"HKCU\\" + kMarkerKey);
        for (const auto& [name, value] :
             {std::pair{"dtype", "registry"}, {"name", "Component"}, {"type", "reg_sz"}, {"value", "1"}})
            entry.Attributes.Set(name, value);
        return entry;
    }
    bool Installed() const { return GetRaw(HKEY_CURRENT_USER, kMarkerKey, L"Component").type == REG_SZ; }
    std::vector<std::wstring> Runs() const
    {
        std::vector<std::wstring> lines;
        std::istringstream text(VelmoraTest::ReadFileBytes(log));
        for (std::string line; std::getline(text, line);)
            lines.push_back(Utf8ToWide(line.substr(0, line.find('\r'))));
        return lines;
    }

    const std::string installer = ReadBytes(kInstallerExe);
    const std::wstring path = DownloadFolder() + L"\\setup.exe";
    VelmoraTest::TempFolder logs{L"velmora-install-"};
    const std::wstring log = logs / L"runs.txt";
    LoopbackServer server;
};

TEST_F(ItemInstallTest, RunsOnlyCompleteVerifiedInstallersAndReusesOnlyProvenOnes)
{
    const std::string md5 = DigestHex(installer, kDigestMd5);
    const std::string sha1 = DigestHex(installer, kDigestSha1);
    const std::string sha256 = DigestHex(installer, kDigestSha256);
    const std::string other = installer + "x";
    const std::string older = installer.substr(0, installer.size() - 1) + "?";
    const std::size_t half = installer.size() / 2;
    LoopbackServer refusing;
    const std::string refused = Url(refusing, "/setup.exe");
    refusing.Stop();
    using Digests = std::vector<std::pair<const char*, std::string>>;
    struct Case {
        const char* label;
        Digests digests;
        bool runs;
        int requests = 1;
        std::optional<std::string> kept = {}; // already under the final name
        int status = 200;
        std::size_t sent = SIZE_MAX, missing = 0; // of the installer's bytes
        std::string url = {};
    } cases[] = {
        {"md5 in upper case", {{"md5", Upper(md5)}}, true},
        {"sha256 in upper case", {{"sha256", Upper(sha256)}}, true},
        {"all three", {{"md5", md5}, {"sha1", Upper(sha1)}, {"sha256", sha256}}, true},
        {"none", {}, true},
        {"wrong md5", {{"md5", DigestHex(other, kDigestMd5)}}, false},
        {"wrong sha1 beside right md5", {{"md5", md5}, {"sha1", DigestHex(other, kDigestSha1)}}, false},
        {"wrong sha256 beside right md5 and sha1",
         {{"md5", md5}, {"sha1", sha1}, {"sha256", DigestHex(other, kDigestSha256)}},
         false},
        {"kept, md5 matches", {{"md5", md5}}, true, 0, installer},
        {"kept is an older one", {{"md5", md5}}, true, 1, older},
        {"kept, nothing proves it", {}, true, 1, older},
        // A whole installer under the partial name, left by an earlier attempt, must not pass either.
        {"cut short, no digest", {}, false, 1, {}, 200, half, installer.size() - half},
        {"cut short, md5", {{"md5", md5}}, false, 1, {}, 200, half, installer.size() - half},
        {"headers only", {}, false, 1, {}, 200, 0, installer.size()},
        {"HTTP error", {}, false, 1, {}, 404},
        {"connection refused", {}, false, 0, {}, 200, SIZE_MAX, 0, refused},
        {"no file name in the URL", {}, false, 0, {}, 200, SIZE_MAX, 0, Url(server, "/")},
    };
    for (const Case& c : cases) {
        Clean();
        if (c.requests > 0) {
            ASSERT_TRUE(WriteBytes(path + L".download", installer));
        }
        if (c.kept) {
            ASSERT_TRUE(WriteBytes(path, *c.kept));
        }
        server.Respond(c.status, installer.substr(0, c.sent));
        server.CutShort(c.missing);
        std::vector<ConfigEntry> detect = {MarkerDetect()};
        std::vector<ConfigEntry> installers = {Installer(L"\"%1\" " + MarkAndLog())};
        if (!c.url.empty())
            installers[0].Text = c.url;
        for (const auto& [name, value] : c.digests)
            installers[0].Attributes.Set(name, value);

        // A failed install is not repaired into looking installed: only the installer sets the marker.
        const int before = server.Requests();
        EXPECT_EQ(InstallItem(detect, installers, nullptr, 0), c.runs ? 2 : -2) << c.label;
        EXPECT_EQ(Installed(), c.runs) << c.label;
        EXPECT_EQ(server.Requests() - before, c.requests) << c.label;
        const std::vector<std::wstring> runs = Runs();
        if (c.runs) {
            // The query is not part of the name, and the path is quoted exactly once.
            ASSERT_EQ(runs.size(), 1u) << c.label;
            EXPECT_EQ(runs[0], Quoted(path) + L" " + MarkAndLog()) << c.label;
            EXPECT_EQ(ReadBytes(path), installer) << c.label;
        } else {
            EXPECT_TRUE(runs.empty()) << c.label;
            EXPECT_FALSE(FileExists(path)) << c.label << ": nothing is kept under the final name";
        }
        EXPECT_FALSE(FileExists(path + L".download")) << c.label;
    }
}

TEST_F(ItemInstallTest, CommandGetsThePathInPlaceOfItsFirstPlaceholderOnly)
{
    const std::wstring logged = L"/log:" + Quoted(log);
    const std::wstring self = Quoted(kInstallerExe) + L" " + logged;
    struct Case {
        std::wstring command, parameter;
        std::wstring expected; // the command line the installer was handed
    } cases[] = {
        {L"\"%1\" " + logged + L" /again:\"%1\"", {}, Quoted(path) + L" " + logged + L" /again:\"%1\""},
        {L"%1 " + logged + L" %1", {}, Quoted(path) + L" " + logged + L" %1"},
        {self + L" /a:%1 /b:\"%1\"", {}, self + L" /a:%1 /b:" + Quoted(path)},
        {self, {}, self},
        {{}, logged + L" /S", Quoted(path) + L" " + logged + L" /S"}, // the file itself, with `parameter`
    };
    for (const Case& c : cases) {
        Clean();
        ConfigEntry entry = Installer(c.command);
        entry.Attributes.Set("parameter", WideToUtf8(c.parameter));
        ItemInstall handler;
        EXPECT_EQ(handler.CheckEntry(entry), 2);
        EXPECT_EQ(handler.FixEntry(entry), 2);
        const std::vector<std::wstring> runs = Runs();
        ASSERT_EQ(runs.size(), 1u) << c.expected;
        EXPECT_EQ(runs[0], c.expected);
    }
}

// An installer runs from the bytes that were checked: between the check and its start (and until
// it ends) its file can be neither rewritten, replaced nor deleted.
TEST_F(ItemInstallTest, TheVerifiedInstallerCannotBeSwappedBeforeItRuns)
{
    const std::wstring other = logs / L"other.exe";
    ASSERT_TRUE(WriteBytes(other, "MZ not the checked installer"));
    ConfigEntry entry = Installer(L"\"%1\" " + MarkAndLog());
    entry.Attributes.Set("sha256", DigestHex(installer, kDigestSha256));
    std::vector<std::string> swapped;
    ItemInstall handler;
    handler.SetBeforeRun([&](const std::wstring& file) {
        if (CopyFileW(other.c_str(), file.c_str(), FALSE))
            swapped.push_back("rewritten");
        if (MoveFileExW(other.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            swapped.push_back("replaced");
        if (DeleteFileW(file.c_str()))
            swapped.push_back("deleted");
    });
    EXPECT_EQ(handler.FixEntry(entry), 2);
    EXPECT_EQ(swapped, std::vector<std::string>{});
    EXPECT_EQ(Runs(), std::vector<std::wstring>{Quoted(path) + L" " + MarkAndLog()});
    EXPECT_EQ(ReadBytes(path), installer);
}

// Without a command the downloaded file is run itself only when it is a program (or a package,
// through the system's msiexec): a script would run through whatever the user's file types say.
TEST_F(ItemInstallTest, AnInstallerOfItsOwnIsAProgramOrNothing)
{
    const std::wstring marker = logs / L"script-ran.txt";
    const std::string script = "@echo ran> " + WideToUtf8(Quoted(marker)) + "\r\n";
    for (const char* name : {"/components/setup.cmd", "/components/setup.bat", "/components/setup"}) {
        server.Respond(200, script);
        ConfigEntry entry;
        entry.Text = Url(server, name);
        entry.Attributes.Set("md5", DigestHex(script, kDigestMd5));
        ItemInstall handler;
        EXPECT_EQ(handler.FixEntry(entry), -2) << name;
        EXPECT_FALSE(FileExists(marker)) << name << " ran";
        const std::string file(std::strrchr(name, '/') + 1);
        RemoveFile(DownloadFolder() + L"\\" + Utf8ToWide(file));
    }
}

TEST_F(ItemInstallTest, DetectionDecidesAndFilesAreRepairedWithTheInstallProgress)
{
    TheCheckConfig().RootAttributes.Set("base", Url(server, "/components/"));
    LoopbackServer files;
    ASSERT_TRUE(files.IsListening());
    files.Respond(200, "component library");
    const std::wstring library = TempFile(L"velmora-install-component.dll");
    RemoveFile(library);
    ConfigEntry file;
    file.Text = WideToUtf8(library);
    file.Attributes.Set("dtype", "file");
    ConfigEntry fetched = file;
    fetched.Attributes.Set("md5", DigestHex("component library", kDigestMd5));
    fetched.Attributes.Set("remote", Url(files, "/component.dll"));
    ConfigEntry unknown;
    unknown.Attributes.Set("dtype", "nonesuch"); // no handler: not looked at

    std::vector<ConfigEntry> detect = {MarkerDetect(), unknown, fetched};
    std::vector<ConfigEntry> installers = {Installer(L"\"%1\" " + MarkAndLog())};
    installers[0].Text = "setup.exe"; // relative to the document's base
    EXPECT_EQ(InstallItem(detect, installers, &RecordProgress, -4), 2);
    EXPECT_TRUE(Installed());
    EXPECT_EQ(ReadBytes(library), "component library");
    ASSERT_FALSE(g_reportedFiles.empty());
    EXPECT_EQ(g_reportedValues, std::vector<std::uint32_t>(g_reportedValues.size(), 0xFFFFFFFCu));
    EXPECT_EQ(g_reportedFiles.front(), path + L".download");
    EXPECT_EQ(g_reportedFiles.back(), library + L".download");
    RemoveFile(library);

    // An installer that cannot be had does not matter while detection passes; a file that cannot
    // be fetched fails the install with its repair's code.
    installers[0].Text = Url(server, "/");
    detect = {MarkerDetect()};
    EXPECT_EQ(InstallItem(detect, installers, nullptr, 0), 2);
    detect = {MarkerDetect(), file};
    EXPECT_EQ(InstallItem(detect, installers, nullptr, 0), -1);

    // An add-on the customer switched off is switched on again by the install (the only repair of
    // a control's detection: it never forges one).
    const std::wstring clsid = L"{5E1F3A77-9C2B-4D0E-8F61-0A7B3C9D2E14}";
    const std::wstring registration = L"CLSID\\" + clsid;
    const std::wstring addOn = L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\" + clsid;
    ASSERT_TRUE(
        SetRaw(HKEY_CLASSES_ROOT, registration + L"\\InprocServer32", L"", REG_SZ, TextBytes(kInstallerExe)));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, addOn, L"Flags", REG_DWORD, DwordBytes(1)));
    ConfigEntry control;
    control.Text = WideToUtf8(clsid);
    control.Attributes.Set("dtype", "clsid");
    detect = {MarkerDetect(), control};
    EXPECT_EQ(InstallItem(detect, installers, nullptr, 0), 2);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, addOn)) << "switched on";
    detect = {control};
    EXPECT_EQ(InstallItem(detect, installers, nullptr, 0), 2) << "and stays on";
    DeleteTree(HKEY_CLASSES_ROOT, registration);
    DeleteTree(HKEY_CURRENT_USER, addOn);
}

TEST_F(ItemInstallTest, UninstallRunsTheCommandItNamesOrTheOneRegisteredMachineWideFirst)
{
    // An expandable registration names the program through a variable, as installers often do.
    const auto registered = [&](const wchar_t* who, DWORD kind) {
        const std::wstring program = kind == REG_EXPAND_SZ ? L"%VELMORA_TEST_INSTALLER%" : kInstallerExe;
        return TextBytes(Quoted(program) + L" /reg:" + kMarkerKey + L" /name:By /data:" + who + L" /log:" +
                         Quoted(log));
    };
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_TEST_INSTALLER", kInstallerExe.c_str()));
    const std::string command = WideToUtf8(L"\"%VELMORA_TEST_INSTALLER%\" /reg:" + kMarkerKey +
                                           L" /name:By /data:cmd /log:" + Quoted(log));
    struct Case {
        const char* type;
        std::string text;
        bool machine, user;  // registrations made
        const wchar_t* ran;  // whose command ran; null: none, and -2
        DWORD kind = REG_SZ; // of the registrations
        const char* bit = "";
        REGSAM machineView = 0; // of the machine-wide registration
    } cases[] = {
        {"regid", "VelmoraTestComponent", false, true, L"user"},
        {"regid", "VelmoraTestComponent", true, true, L"machine"},
        {"regid", "VelmoraTestComponent", true, false, L"machine", REG_EXPAND_SZ},
        // A 64-bit component registers on the 64-bit side, where a 32-bit process must look for it.
        {"regid", "VelmoraTestComponent", true, false, L"machine", REG_SZ, "64", KEY_WOW64_64KEY},
        {"regid", "VelmoraTestComponent", false, false, nullptr},
        {"cmd", command, true, true, L"cmd"},
        {"CMD", command, false, false, nullptr},
        {"msi", command, false, false, nullptr},
    };
    for (const Case& c : cases) {
        Clean();
        if (c.machine) {
            ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", c.kind,
                               registered(L"machine", c.kind), c.machineView));
        }
        if (c.user) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kUninstallKey, L"UninstallString", c.kind,
                               registered(L"user", c.kind)));
        }
        ConfigEntry entry;
        entry.Text = c.text;
        entry.Attributes.Set("type", c.type);
        entry.Attributes.Set("bit", c.bit);
        ItemUninstall handler;
        EXPECT_EQ(handler.CheckEntry(entry), 2);
        EXPECT_EQ(handler.FixEntry(entry), c.ran ? 2 : -2) << c.type << c.machine << c.user;
        EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kMarkerKey, L"By").data, c.ran ? TextBytes(c.ran) : "") << c.type;
        EXPECT_EQ(Runs().size(), c.ran ? 1u : 0u) << c.type;
    }
    SetEnvironmentVariableW(L"VELMORA_TEST_INSTALLER", nullptr);
}

} // namespace
} // namespace Velmora::Assistant
