#include "loopback_server.h" // winsock2.h before windows.h

#include "checks/check_fix_file_win.h"
#include "checks/digest.h"
#include "checks/download_notify.h"
#include "checks/scoped_redirection_win.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

// The record's strings live only as long as the call: kept as copies.
struct Report {
    Network::DownloadProgress progress;
    std::wstring url, filePath;
};
std::vector<Report> g_reports;

void RecordProgress(const Network::DownloadProgress& progress)
{
    g_reports.push_back(
        {progress, progress.url ? progress.url : L"", progress.filePath ? progress.filePath : L""});
}

std::string Bytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 % 253);
    return bytes;
}

std::string Url(const LoopbackServer& server, const char* path)
{
    return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Takes back what a replacement scheduled for the next restart about `path`: the pairs of
// PendingFileRenameOperations whose source ends with it.
void ForgetPendingRename(const std::wstring& path)
{
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS)
        return;
    wchar_t data[8192] = {};
    DWORD size = sizeof data - 2 * sizeof(wchar_t);
    if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return;
    std::wstring kept;
    for (const wchar_t* source = data; *source;) {
        const wchar_t* destination = source + wcslen(source) + 1;
        const std::wstring_view name(source);
        if (name.size() < path.size() ||
            _wcsicmp(std::wstring(name.substr(name.size() - path.size())).c_str(), path.c_str()) != 0) {
            kept.append(source, destination - source);
            kept.append(destination, wcslen(destination) + 1);
        }
        source = destination + wcslen(destination) + 1;
    }
    if (kept.empty()) {
        RegDeleteValueW(key.Get(), L"PendingFileRenameOperations");
        return;
    }
    kept.push_back(L'\0');
    RegSetValueExW(key.Get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}

class FileHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.IsListening());
        Clean();
        // Entries name the file through a variable, as check documents do.
        std::wstring folder = TempFile(L"");
        folder.pop_back();
        ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_FILE_DIR", folder.c_str()));
    }
    void TearDown() override
    {
        Clean();
        SetEnvironmentVariableW(L"VELMORA_FILE_DIR", nullptr);
        TheCheckConfig().RootAttributes.Clear();
    }
    void Clean()
    {
        RemoveFile(target);
        RemoveFile(target + L".download");
        RemoveFile(target + L".old");
    }
    ConfigEntry Entry(std::initializer_list<std::pair<const char*, std::string>> attributes) const
    {
        ConfigEntry entry;
        entry.Text = "%VELMORA_FILE_DIR%\\velmora-file-handler.dll";
        for (const auto& [name, value] : attributes)
            entry.Attributes.Set(name, value);
        return entry;
    }

    const std::wstring target = TempFile(L"velmora-file-handler.dll");
    LoopbackServer server;
    CheckFixFile handler;
};

TEST_F(FileHandlerTest, CheckFindsTheFileByItsExpandedPath)
{
    ASSERT_TRUE(WriteBytes(target, "abc"));
    struct Case {
        const char* name;
        const char* value;
        std::int32_t expected;
    } cases[] = {
        {"", "", 2},
        {"md5", "900150983CD24FB0D6963F7D28E17F72", 2},
        {"md5", "900150983cd24fb0d6963f7d28e17f73", 1},
        {"sha1", "a9993e364706816aba3e25717850c26c9cd0d89e", 1},
        {"version", ">=1.0", 1}, // no version resource
    };
    for (const Case& c : cases) {
        ConfigEntry entry = Entry({});
        entry.Attributes.Set(c.name, c.value);
        EXPECT_EQ(handler.CheckEntry(entry), c.expected) << c.name << " " << c.value;
    }

    RemoveFile(target);
    ConfigEntry missing = Entry({});
    EXPECT_EQ(handler.CheckEntry(missing), -2);

    // A path that does not fit MAX_PATH once expanded names no file.
    ASSERT_TRUE(WriteBytes(target, "abc"));
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_FILE_LONG", std::wstring(300, L'x').c_str()));
    ConfigEntry tooLong = Entry({});
    tooLong.Text = "%VELMORA_FILE_LONG%%VELMORA_FILE_DIR%\\velmora-file-handler.dll";
    EXPECT_EQ(handler.CheckEntry(tooLong), -2);
    SetEnvironmentVariableW(L"VELMORA_FILE_LONG", nullptr);
}

TEST_F(FileHandlerTest, RepairWithoutRemoteCannotBeMade)
{
    ASSERT_TRUE(WriteBytes(target, "old"));
    ConfigEntry entry = Entry({{"md5", DigestHex("new", kDigestMd5)}});
    EXPECT_EQ(handler.FixEntry(entry), -1);
    EXPECT_EQ(ReadBytes(target), "old");
    EXPECT_EQ(server.Requests(), 0);
}

TEST_F(FileHandlerTest, RepairReplacesAFileThatIsInUse)
{
    const std::string fresh = Bytes(200 * 1024 + 11);
    server.Respond(200, fresh);
    ASSERT_TRUE(WriteBytes(target, "old"));
    // A running program or a loaded library holds its file like this: it may be renamed, not
    // deleted or overwritten, so the replacement has to step it aside.
    ScopedHandle inUse(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(inUse);

    ConfigEntry entry =
        Entry({{"remote", Url(server, "/component/new.dll")}, {"md5", DigestHex(fresh, kDigestMd5)}});
    EXPECT_EQ(handler.CheckEntry(entry), 1);
    EXPECT_EQ(handler.FixEntry(entry), 2);
    EXPECT_EQ(ReadBytes(target), fresh);
    EXPECT_FALSE(Exists(target + L".download"));
    EXPECT_EQ(handler.CheckEntry(entry), 2);

    char held[8] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(inUse.Get(), held, sizeof held, &got, nullptr));
    EXPECT_EQ(std::string(held, got), "old") << "the program in use keeps its own file";
    // The old file was stepped aside, to be deleted at the next restart: not in this test's prefix.
    inUse.Reset();
    ForgetPendingRename(target + L".old");
}

// bit="64": under WOW64 the file is the 64-bit system's, checked and put in place there, while the
// transfer itself runs with redirection on. Elsewhere the one system folder holds it.
TEST_F(FileHandlerTest, AnEntryForThe64BitSystemIsCheckedAndRepairedThere)
{
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring native = std::wstring(windows) + L"\\system32\\velmora-file-native.dll";
    const auto clean = [&] {
        const ScopedRedirection off;
        RemoveFile(native);
        RemoveFile(native + L".download");
    };
    clean();
    const std::string fresh = Bytes(70 * 1024 + 3);
    server.Respond(200, fresh);
    ConfigEntry entry;
    entry.Text = "%windir%\\system32\\velmora-file-native.dll";
    entry.Attributes.Set("bit", "64");
    entry.Attributes.Set("remote", Url(server, "/native.dll"));
    entry.Attributes.Set("md5", DigestHex(fresh, kDigestMd5));

    EXPECT_EQ(handler.CheckEntry(entry), -2);
    EXPECT_EQ(handler.FixEntry(entry), 2);
    EXPECT_EQ(handler.CheckEntry(entry), 2);
    {
        const ScopedRedirection off;
        EXPECT_EQ(ReadBytes(native), fresh);
        EXPECT_FALSE(Exists(native + L".download"));
    }
    ConfigEntry ownSide = entry;
    ownSide.Attributes.Set("bit", "32");
    EXPECT_EQ(handler.CheckEntry(ownSide), RunsUnderWow64() ? -2 : 2) << "the 32-bit system folder";
    if (RunsUnderWow64()) {
        EXPECT_FALSE(Exists(native)) << "nothing was written into the 32-bit system folder";
    }

    // The version resource of a 64-bit system library, read with redirection off.
    ConfigEntry library;
    library.Text = "%windir%\\system32\\kernel32.dll";
    library.Attributes.Set("bit", "64");
    for (const char* version : {">=1.0", "<1.0"}) {
        library.Attributes.Set("version", version);
        EXPECT_EQ(handler.CheckEntry(library), version[0] == '>' ? 2 : 1) << version;
    }
    clean();
}

TEST_F(FileHandlerTest, RelativeRemoteIsResolvedAgainstTheDocumentBase)
{
    LoopbackServer base;
    ASSERT_TRUE(base.IsListening());
    base.Respond(200, "fresh");
    TheCheckConfig().RootAttributes.Set("base", Url(base, "/components/"));
    ConfigEntry entry = Entry({{"remote", "new.dll"}});
    EXPECT_EQ(handler.FixEntry(entry), 2);
    EXPECT_EQ(ReadBytes(target), "fresh");
    EXPECT_EQ(base.Requests(), 1);
}

TEST_F(FileHandlerTest, DownloadThatDidNotFinishNeverReplacesTheFile)
{
    const std::string fresh = Bytes(4000);
    const std::string md5 = DigestHex(fresh, kDigestMd5);
    LoopbackServer refusing;
    const std::string refusedUrl = Url(refusing, "/new.dll");
    refusing.Stop();

    struct Case {
        const char* label;
        int status;
        std::string body;
        std::size_t missing;
        std::string remote;
        bool staleDownload; // a whole, matching download left by an earlier attempt
    } cases[] = {
        {"cut short", 200, fresh.substr(0, 1500), fresh.size() - 1500, Url(server, "/new.dll"), false},
        {"HTTP error", 404, "not here", 0, Url(server, "/new.dll"), true},
        {"not what the entry asks for", 200, Bytes(4001), 0, Url(server, "/new.dll"), false},
        {"connection refused", 200, "", 0, refusedUrl, true},
    };
    for (const Case& c : cases) {
        Clean();
        ASSERT_TRUE(WriteBytes(target, "old"));
        if (c.staleDownload) {
            ASSERT_TRUE(WriteBytes(target + L".download", fresh));
        }
        server.Respond(c.status, c.body);
        server.CutShort(c.missing);
        ConfigEntry entry = Entry({{"remote", c.remote}, {"md5", md5}});
        EXPECT_EQ(handler.FixEntry(entry), -2) << c.label;
        EXPECT_EQ(ReadBytes(target), "old") << c.label;
        EXPECT_FALSE(Exists(target + L".download")) << c.label;
    }
}

TEST_F(FileHandlerTest, ProgressGoesWhereTheEntrySaysAndNowhereElse)
{
    const std::string fresh = Bytes(64 * 1024);
    server.Respond(200, fresh);
    g_reports.clear();

    ConfigEntry silent = Entry({{"remote", Url(server, "/new.dll")}});
    EXPECT_EQ(handler.FixEntry(silent), 2);
    EXPECT_TRUE(g_reports.empty());

    ConfigEntry routed = Entry({{"remote", Url(server, "/new.dll")}});
    SetDownloadNotify(routed, &RecordProgress, -7);
    EXPECT_EQ(handler.FixEntry(routed), 2);
    ASSERT_FALSE(g_reports.empty());
    for (const Report& report : g_reports) {
        EXPECT_EQ(report.progress.userValue, 0xFFFFFFF9u);
        EXPECT_EQ(report.filePath, target + L".download");
        EXPECT_EQ(report.url, Utf8ToWide(Url(server, "/new.dll")));
    }
    const Network::DownloadProgress& last = g_reports.back().progress;
    EXPECT_EQ(last.received, fresh.size());
    EXPECT_EQ(last.total, fresh.size());
    EXPECT_TRUE(last.percentValid);
    EXPECT_EQ(last.percent, 100u);
    EXPECT_EQ(ReadBytes(target), fresh);
}

} // namespace
} // namespace Velmora::Assistant
