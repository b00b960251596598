#include "win/checks/loopback_server.h" // winsock2.h before windows.h

#include "app/option_table.h"
#include "checks/digest.h"
#include "install/item_install_win.h"
#include "win/app/win_test_support.h"
#include "win/checks/registry_test_support.h"
#include "win/checks/test_files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <vector>

namespace Velmora::Assistant {
namespace {

using namespace Testing;
using VelmoraTest::Quoted;
using VelmoraTest::TempFolder;
using VelmoraTest::WindowsPath;

const std::wstring kInstallerExe = WindowsPath(TEST_INSTALLER_EXE);
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
    std::wstring folder = exe;
    return folder.substr(0, folder.find_last_of(L'\\')) + L"\\Download";
}

struct Report {
    Network::DownloadProgress progress;
    std::wstring filePath;
};
std::vector<Report> g_reports;

void RecordProgress(const Network::DownloadProgress& progress)
{
    g_reports.push_back({progress, progress.filePath ? progress.filePath : L""});
}

class ItemInstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.IsListening());
        ASSERT_FALSE(installer.empty()) << "the test installer is built beside the tests";
        Options().Set(kOptionDownloadBesideExe, 1);
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
        DeleteTree(HKEY_CURRENT_USER, kMarkerKey);
        DeleteTree(HKEY_CURRENT_USER, kUninstallKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        RemoveFile(log);
        g_reports.clear();
        server.Respond(200, installer);
    }

    // Marks the component installed and records the run.
    std::wstring InstallArguments() const
    {
        return L"/reg:" + kMarkerKey + L" /name:Component /log:" + Quoted(log);
    }
    ConfigEntry Installer(std::initializer_list<std::pair<const char*, std::string>> attributes) const
    {
        ConfigEntry entry;
        entry.Text = Url(server, "/components/setup.exe?build=7");
        entry.Attributes.Set("command", WideToUtf8(L"\"%1\" " + InstallArguments()));
        for (const auto& [name, value] : attributes)
            entry.Attributes.Set(name, value);
        return entry;
    }
    static ConfigEntry MarkerDetect()
    {
        ConfigEntry entry;
        entry.Text = WideToUtf8(L"HKCU\\" + kMarkerKey);
        entry.Attributes.Set("dtype", "registry");
        entry.Attributes.Set("name", "Component");
        entry.Attributes.Set("type", "reg_sz");
        entry.Attributes.Set("value", "1");
        return entry;
    }
    bool Installed() const { return GetRaw(HKEY_CURRENT_USER, kMarkerKey, L"Component").type == REG_SZ; }
    std::vector<std::wstring> Runs() const
    {
        std::vector<std::wstring> lines;
        std::istringstream text(VelmoraTest::ReadFileBytes(log));
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(Utf8ToWide(line));
        }
        return lines;
    }
    std::int32_t Install(ConfigEntry installerEntry, DownloadNotifyFn progress = nullptr,
                         std::int32_t user = 0)
    {
        detect = {MarkerDetect()};
        installers = {std::move(installerEntry)};
        return InstallItem(detect, installers, progress, user);
    }

    const std::string installer = ReadBytes(kInstallerExe);
    const std::wstring path = DownloadFolder() + L"\\setup.exe";
    TempFolder logs{L"velmora-install-"};
    const std::wstring log = logs / L"runs.txt";
    LoopbackServer server;
    std::vector<ConfigEntry> detect, installers;
};

TEST_F(ItemInstallTest, RunsTheInstallerOnlyWhenEveryGivenDigestMatches)
{
    const std::string md5 = DigestHex(installer, kDigestMd5);
    const std::string sha1 = DigestHex(installer, kDigestSha1);
    const std::string sha256 = DigestHex(installer, kDigestSha256);
    const std::string other = installer + "x";
    struct Case {
        const char* label;
        std::vector<std::pair<const char*, std::string>> digests;
        bool runs;
    } cases[] = {
        {"md5 in upper case", {{"md5", Upper(md5)}}, true},
        {"sha1", {{"sha1", sha1}}, true},
        {"sha256 in upper case", {{"sha256", Upper(sha256)}}, true},
        {"all three", {{"md5", md5}, {"sha1", Upper(sha1)}, {"sha256", sha256}}, true},
        {"none", {}, true},
        {"wrong md5", {{"md5", DigestHex(other, kDigestMd5)}}, false},
        {"right md5, wrong sha1", {{"md5", md5}, {"sha1", DigestHex(other, kDigestSha1)}}, false},
        {"right md5 and sha1, wrong sha256",
         {{"md5", md5}, {"sha1", sha1}, {"sha256", DigestHex(other, kDigestSha256)}},
         false},
    };
    for (const Case& c : cases) {
        Clean();
        ConfigEntry entry = Installer({});
        for (const auto& [name, value] : c.digests)
            entry.Attributes.Set(name, value);
        // A failed install is not repaired into looking installed: the marker is the installer's.
        EXPECT_EQ(Install(entry), c.runs ? 2 : -2) << c.label;
        EXPECT_EQ(Installed(), c.runs) << c.label;
        EXPECT_EQ(RunCheck(*HandlerForType("registry"), detect.data(), 1, true), c.runs ? 2 : -2) << c.label;
        const std::vector<std::wstring> runs = Runs();
        if (c.runs) {
            // The query is not part of the name, and the path is quoted exactly once.
            ASSERT_EQ(runs.size(), 1u) << c.label;
            EXPECT_EQ(runs[0], Quoted(path) + L" " + InstallArguments()) << c.label;
            EXPECT_EQ(ReadBytes(path), installer) << c.label;
        } else {
            EXPECT_TRUE(runs.empty()) << c.label;
            EXPECT_FALSE(VelmoraTest::FileExists(path))
                << c.label << ": nothing is kept under the final name";
        }
        EXPECT_FALSE(VelmoraTest::FileExists(path + L".download")) << c.label;
        EXPECT_EQ(server.Requests(), static_cast<int>(&c - cases) + 1) << c.label;
    }
}

TEST_F(ItemInstallTest, DownloadThatDidNotCompleteIsNeverRun)
{
    LoopbackServer refusing;
    const std::string refusedUrl = Url(refusing, "/components/setup.exe");
    refusing.Stop();
    struct Case {
        const char* label;
        int status;
        std::size_t sent; // bytes of the installer the server sends
        std::size_t missing;
        std::string url;
        bool withDigest;
    } cases[] = {
        {"cut short, no digest",
         200,
         installer.size() / 2,
         installer.size() - installer.size() / 2,
         {},
         false},
        {"cut short, md5", 200, installer.size() / 2, installer.size() - installer.size() / 2, {}, true},
        {"headers only", 200, 0, installer.size(), {}, false},
        {"HTTP error", 404, installer.size(), 0, {}, false},
        {"connection refused", 200, 0, 0, refusedUrl, false},
    };
    for (const Case& c : cases) {
        Clean();
        // A whole installer left under the partial name by an earlier attempt must not pass either.
        ASSERT_TRUE(WriteBytes(path + L".download", installer));
        server.Respond(c.status, installer.substr(0, c.sent));
        server.CutShort(c.missing);
        ConfigEntry entry = Installer({});
        if (!c.url.empty())
            entry.Text = c.url;
        if (c.withDigest)
            entry.Attributes.Set("md5", DigestHex(installer, kDigestMd5));
        EXPECT_EQ(Install(entry), -2) << c.label;
        EXPECT_TRUE(Runs().empty()) << c.label;
        EXPECT_FALSE(Installed()) << c.label;
        EXPECT_FALSE(VelmoraTest::FileExists(path)) << c.label;
        EXPECT_FALSE(VelmoraTest::FileExists(path + L".download")) << c.label;
    }
}

TEST_F(ItemInstallTest, KeptFileIsReusedOnlyWhenItsDigestProvesIt)
{
    const std::string md5 = DigestHex(installer, kDigestMd5);
    struct Case {
        const char* label;
        std::string kept;
        std::string md5;
        int requests;
    } cases[] = {
        {"kept, md5 matches", installer, Upper(md5), 0},
        {"kept file is an older one", installer.substr(0, installer.size() - 1) + "?", md5, 1},
        {"no digest proves the kept file", installer, "", 1},
    };
    for (const Case& c : cases) {
        Clean();
        ASSERT_TRUE(WriteBytes(path, c.kept));
        const int before = server.Requests();
        EXPECT_EQ(Install(Installer({{"md5", c.md5}})), 2) << c.label;
        EXPECT_EQ(server.Requests() - before, c.requests) << c.label;
        EXPECT_EQ(Runs().size(), 1u) << c.label;
        EXPECT_EQ(ReadBytes(path), installer) << c.label;
    }
}

TEST_F(ItemInstallTest, CommandGetsThePathInPlaceOfItsFirstPlaceholderOnly)
{
    const std::wstring quoted = Quoted(path);
    const std::wstring logArgument = L"/log:" + Quoted(log);
    struct Case {
        const char* label;
        std::wstring command;
        std::wstring parameter;
        std::wstring expected; // the command line the installer received
    } cases[] = {
        {"quoted token",
         L"\"%1\" " + logArgument + L" /again:\"%1\"",
         {},
         quoted + L" " + logArgument + L" /again:\"%1\""},
        {"bare token twice", L"%1 " + logArgument + L" %1", {}, quoted + L" " + logArgument + L" %1"},
        {"quoted token after a bare one",
         Quoted(kInstallerExe) + L" " + logArgument + L" /a:%1 /b:\"%1\"",
         {},
         Quoted(kInstallerExe) + L" " + logArgument + L" /a:%1 /b:" + quoted},
        {"no token",
         Quoted(kInstallerExe) + L" " + logArgument,
         {},
         Quoted(kInstallerExe) + L" " + logArgument},
        {"no command: the file with its parameters",
         {},
         logArgument + L" /S",
         quoted + L" " + logArgument + L" /S"},
    };
    for (const Case& c : cases) {
        Clean();
        ConfigEntry entry;
        entry.Text = Installer({}).Text;
        entry.Attributes.Set("command", WideToUtf8(c.command));
        entry.Attributes.Set("parameter", WideToUtf8(c.parameter));
        ItemInstall handler;
        EXPECT_EQ(handler.CheckEntry(entry), 2) << c.label;
        EXPECT_EQ(handler.FixEntry(entry), 2) << c.label;
        const std::vector<std::wstring> runs = Runs();
        ASSERT_EQ(runs.size(), 1u) << c.label;
        EXPECT_EQ(runs[0], c.expected) << c.label;
    }
}

TEST_F(ItemInstallTest, DetectionDecidesAndFilesAreRepairedWithTheInstallProgress)
{
    // The installer comes relative to the document's base; both downloads report to the caller.
    TheCheckConfig().RootAttributes.Set("base", Url(server, "/components/"));
    LoopbackServer files;
    ASSERT_TRUE(files.IsListening());
    const std::string library = "component library";
    files.Respond(200, library);
    const std::wstring libraryPath = TempFile(L"velmora-install-component.dll");
    RemoveFile(libraryPath);

    ConfigEntry file;
    file.Text = WideToUtf8(libraryPath);
    file.Attributes.Set("dtype", "file");
    file.Attributes.Set("md5", DigestHex(library, kDigestMd5));
    file.Attributes.Set("remote", Url(files, "/component.dll"));
    ConfigEntry unknown;
    unknown.Attributes.Set("dtype", "nonesuch"); // no handler: not looked at
    detect = {MarkerDetect(), unknown, file};
    installers = {Installer({})};
    installers[0].Text = "setup.exe";
    EXPECT_EQ(InstallItem(detect, installers, &RecordProgress, -4), 2);
    EXPECT_TRUE(Installed());
    EXPECT_EQ(ReadBytes(libraryPath), library);
    bool installerReported = false, fileReported = false;
    for (const Report& report : g_reports) {
        EXPECT_EQ(report.progress.userValue, 0xFFFFFFFCu);
        installerReported |= report.filePath == path + L".download";
        fileReported |= report.filePath == libraryPath + L".download";
    }
    EXPECT_TRUE(installerReported && fileReported);
    RemoveFile(libraryPath);

    // A component already in place counts as installed even when its installer cannot be had; a
    // missing file that cannot be fetched fails the install with the repair's code.
    ConfigEntry unnamed = Installer({});
    unnamed.Text = Url(server, "/");
    detect = {MarkerDetect()};
    installers = {unnamed};
    EXPECT_EQ(InstallItem(detect, installers, nullptr, 0), 2);
    ConfigEntry unfetchable;
    unfetchable.Text = file.Text;
    unfetchable.Attributes.Set("dtype", "file");
    detect = {MarkerDetect(), unfetchable};
    EXPECT_EQ(InstallItem(detect, installers, nullptr, 0), -1);
}

TEST_F(ItemInstallTest, UninstallRunsTheRegisteredCommandMachineWideFirst)
{
    const auto uninstallString = [&](const wchar_t* data) {
        return TextBytes(Quoted(kInstallerExe) + L" /reg:" + kMarkerKey + L" /name:Uninstalled /data:" +
                         data + L" /log:" + Quoted(log));
    };
    struct Case {
        const char* label;
        bool machine, user;
        std::int32_t expected;
        const wchar_t* ran; // which registration's command ran
    } cases[] = {
        {"current user only", false, true, 2, L"user"},
        {"both", true, true, 2, L"machine"},
        {"neither", false, false, -2, nullptr},
    };
    for (const Case& c : cases) {
        Clean();
        if (c.machine) {
            ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", REG_SZ,
                               uninstallString(L"machine")));
        }
        if (c.user) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kUninstallKey, L"UninstallString", REG_SZ,
                               uninstallString(L"user")));
        }
        ConfigEntry entry;
        entry.Text = "VelmoraTestComponent";
        entry.Attributes.Set("type", "regid");
        ItemUninstall handler;
        EXPECT_EQ(handler.CheckEntry(entry), 2) << c.label;
        EXPECT_EQ(handler.FixEntry(entry), c.expected) << c.label;
        const RawValue marker = GetRaw(HKEY_CURRENT_USER, kMarkerKey, L"Uninstalled");
        EXPECT_EQ(marker.type == REG_NONE ? std::string() : marker.data,
                  c.ran ? TextBytes(c.ran) : std::string())
            << c.label;
        EXPECT_EQ(Runs().size(), c.ran ? 1u : 0u) << c.label;
    }

    // A command line with variables, and entries that name no command.
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_TEST_INSTALLER", kInstallerExe.c_str()));
    struct Direct {
        const char* type;
        std::wstring text;
        std::int32_t expected;
    } direct[] = {
        {"cmd", L"\"%VELMORA_TEST_INSTALLER%\" /log:" + Quoted(log), 2},
        {"cmd", L"", -2},
        {"CMD", L"\"%VELMORA_TEST_INSTALLER%\" /log:" + Quoted(log), -2},
        {"msi", L"\"%VELMORA_TEST_INSTALLER%\" /log:" + Quoted(log), -2},
    };
    for (const Direct& d : direct) {
        Clean();
        ConfigEntry entry;
        entry.Text = WideToUtf8(d.text);
        entry.Attributes.Set("type", d.type);
        EXPECT_EQ(ItemUninstall().FixEntry(entry), d.expected) << d.type;
        const std::vector<std::wstring> runs = Runs();
        ASSERT_EQ(runs.size(), d.expected == 2 ? 1u : 0u) << d.type;
        if (!runs.empty()) {
            EXPECT_EQ(runs[0], Quoted(kInstallerExe) + L" /log:" + Quoted(log));
        }
    }
    SetEnvironmentVariableW(L"VELMORA_TEST_INSTALLER", nullptr);
}

TEST(HandlerTable, InstallAndUninstallAreRegistered)
{
    EXPECT_NE(dynamic_cast<ItemInstall*>(HandlerForType("install")), nullptr);
    EXPECT_NE(dynamic_cast<ItemUninstall*>(HandlerForType("uninstall")), nullptr);
}

} // namespace
} // namespace Velmora::Assistant
