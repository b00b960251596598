#include "net/download_files_win.h"

#include "common/option_table.h"
#include "common/protected_folder_win.h"
#include "common/scoped_handle_win.h"
#include "common/text_win.h"
#include "test_servers.h"

#include "common/protected_folder_win.h"
#include "common/text_win.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

using namespace Velmora::Network;
using NetTest::ReadFileBytes;
using NetTest::TempFilePath;

namespace {

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\'));
}

std::wstring TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    return path;
}

// Paths scheduled for the next restart (source entries of PendingFileRenameOperations).
std::wstring PendingRenames()
{
    Velmora::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                        KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return {};
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return {};
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    ::RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &size);
    for (auto& c : data) {
        if (c == L'\0')
            c = L'|';
    }
    return data;
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = TempFilePath(L"source.bin");
        target = TempFilePath(L"target.bin");
        Remove(source);
        Remove(target);
        Remove(target + L".old");
        Remove(target + L".new");
    }
    void TearDown() override
    {
        Velmora::Options().Set(Velmora::kOptionDownloadBesideExe, 0);
        Remove(source);
        Remove(target);
        Remove(target + L".old");
        Remove(target + L".new");
        Remove(OtherVolumeFile());
    }
    // Under Wine drive Z: is the root file system, where /dev/shm is a volume of its own (tmpfs).
    static std::wstring OtherVolumeFile()
    {
        return L"Z:\\dev\\shm\\velmora-" + std::to_wstring(::GetCurrentProcessId()) + L"-source.bin";
    }
    static void Remove(const std::wstring& path)
    {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    }
    static void Write(const std::wstring& path, const std::string& bytes)
    {
        ASSERT_EQ(WriteWholeFile(path.c_str(), bytes), S_OK);
    }
    std::wstring source;
    std::wstring target;
};

TEST_F(FilesTest, DownloadPathFollowsOption1004AndKeepsNamesInsideTheFolder)
{
    const std::wstring beside = ExeFolder() + L"\\Download";
    ::RemoveDirectoryW(beside.c_str());
    Velmora::Options().Set(Velmora::kOptionDownloadBesideExe, 1);
    EXPECT_EQ(MakeDownloadPath(L"http://bank.example/ctl/setup.exe"), beside + L"\\setup.exe");
    const DWORD attributes = ::GetFileAttributesW(beside.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(MakeDownloadPath(L""), beside);
    EXPECT_EQ(MakeDownloadPath(nullptr), L"");
    // Names that would leave the folder or name a stream are refused.
    EXPECT_EQ(MakeDownloadPath(L"http://bank.example/..\\..\\evil.exe"), beside + L"\\evil.exe");
    EXPECT_EQ(MakeDownloadPath(L"http://bank.example/a/.."), L"");
    EXPECT_EQ(MakeDownloadPath(L"setup.exe:stream"), L"");
    ::RemoveDirectoryW(beside.c_str());

    Velmora::Options().Set(Velmora::kOptionDownloadBesideExe, 0);
    std::wstring temp = TempFolder();
    EXPECT_EQ(MakeDownloadPath(L"https://x/y/driver.msi"), temp + L"driver.msi");
}

TEST_F(FilesTest, ReplaceFileMovesOverAnIdleTarget)
{
    Write(source, "new");
    Write(target, "old");
    EXPECT_EQ(ReplaceFile(source.c_str(), target.c_str()), S_OK);
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_FALSE(FileExists(source.c_str()));
    EXPECT_FALSE(FileExists((target + L".old").c_str()));

    // Without a source nothing is touched.
    EXPECT_EQ(ReplaceFile(source.c_str(), target.c_str()), E_FAIL);
    EXPECT_EQ(ReadFileBytes(target), "new");
}

TEST_F(FilesTest, ReplaceFileStepsAsideATargetInUse)
{
    Write(source, "new");
    Write(target, "old");
    Write(target + L".old", "older");
    // Open like a running program: it cannot be overwritten or deleted now, but can be renamed.
    Velmora::ScopedHandle inUse(::CreateFileW(target.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(inUse.IsValid());
    EXPECT_EQ(ReplaceFile(source.c_str(), target.c_str()), S_OK);
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(ReadFileBytes(target + L".old"), "old");
    EXPECT_FALSE(FileExists(source.c_str()));
    EXPECT_NE(PendingRenames().find(target + L".old"), std::wstring::npos);
}

TEST_F(FilesTest, ReplaceFileSchedulesTheReplacementWhenTheTargetIsLocked)
{
    Write(source, "new");
    Write(target, "old");
    // Open without delete sharing: the target can be neither deleted nor renamed now.
    Velmora::ScopedHandle lock(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.IsValid());
    EXPECT_EQ(ReplaceFile(source.c_str(), target.c_str()), 1);
    lock.Reset();
    // The target is still there with its old content; the source waits for the restart.
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_TRUE(FileExists(source.c_str()));
    EXPECT_NE(PendingRenames().find(source), std::wstring::npos);
}

TEST_F(FilesTest, ReplaceFileMovesFromAnotherVolume)
{
    const std::wstring elsewhere = OtherVolumeFile();
    if (::GetFileAttributesW(L"Z:\\dev\\shm") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no second volume at Z:\\dev\\shm";
    Write(elsewhere, "new");
    Write(target, "old");
    EXPECT_EQ(ReplaceFile(elsewhere.c_str(), target.c_str()), S_OK);
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_FALSE(FileExists(elsewhere.c_str()));

    // A locked target is replaced at the next start from a copy beside it: a move at start cannot
    // cross volumes.
    Write(elsewhere, "newer");
    Velmora::ScopedHandle lock(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.IsValid());
    EXPECT_EQ(ReplaceFile(elsewhere.c_str(), target.c_str()), 1);
    lock.Reset();
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(ReadFileBytes(target + L".new"), "newer");
    EXPECT_FALSE(FileExists(elsewhere.c_str()));
    EXPECT_NE(PendingRenames().find(target + L".new"), std::wstring::npos);
}

TEST_F(FilesTest, ReplaceFileReportsTheErrorOfTheFailedMove)
{
    Write(source, "new");
    // Held open without delete sharing, the source cannot move; there is no target to step aside.
    Velmora::ScopedHandle hold(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hold.IsValid());
    EXPECT_EQ(ReplaceFile(source.c_str(), target.c_str()), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(FileExists(target.c_str()));
    hold.Reset();
    EXPECT_EQ(ReadFileBytes(source), "new");
}

TEST_F(FilesTest, WholeFileReadAndWriteKeepBytesAndAttributes)
{
    std::string bytes("a\0b\r\n\xff", 6);
    ASSERT_EQ(WriteWholeFile(target.c_str(), bytes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), S_OK);
    EXPECT_EQ(::GetFileAttributesW(target.c_str()) & 6, 6u);
    std::string read;
    ASSERT_EQ(ReadWholeFile(target.c_str(), &read), S_OK);
    EXPECT_EQ(read, bytes);

    // Rewriting truncates: nothing of the longer old content survives.
    ASSERT_EQ(WriteWholeFile(target.c_str(), "xy", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), S_OK);
    ASSERT_EQ(ReadWholeFile(target.c_str(), &read), S_OK);
    EXPECT_EQ(read, "xy");

    ASSERT_EQ(WriteWholeFile(source.c_str(), ""), S_OK);
    read = "stale";
    EXPECT_EQ(ReadWholeFile(source.c_str(), &read), S_OK);
    EXPECT_EQ(read, "");

    EXPECT_EQ(ReadWholeFile(TempFilePath(L"missing").c_str(), &read),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(read, "");
}

// A protected folder is made, or an existing one taken over; a file in its place, or a folder whose
// parent is missing, is refused. (Wine keeps no access list of a folder's own, so the list itself
// shows only on Windows.)
TEST(ProtectedFolder, MadeOrTakenOverButNeverAFileOrAnOrphan)
{
    const std::wstring base = TempFolder() + L"velmora-protected-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(base.c_str(), nullptr);
    const std::wstring made = base + L"\\made", existing = base + L"\\existing", file = base + L"\\file";
    ASSERT_TRUE(::CreateDirectoryW(existing.c_str(), nullptr));
    ASSERT_HRESULT_SUCCEEDED(WriteWholeFile(file.c_str(), "x"));
    const struct {
        std::wstring folder;
        bool made;
    } rows[] = {
        {made, true}, {made, true}, {existing, true}, {file, false}, {base + L"\\gone\\below", false}};
    for (const auto& row : rows) {
        EXPECT_EQ(Velmora::MakeProtectedFolder(row.folder), row.made) << Velmora::WideToUtf8(row.folder);
        const DWORD attributes = ::GetFileAttributesW(row.folder.c_str());
        EXPECT_EQ(row.made, attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            << Velmora::WideToUtf8(row.folder);
    }
    ::DeleteFileW(file.c_str());
    for (const std::wstring& folder : {made, existing, base})
        ::RemoveDirectoryW(folder.c_str());
}

TEST_F(FilesTest, FileExistsAndExpandPath)
{
    Write(target, "x");
    EXPECT_TRUE(FileExists(target.c_str()));
    EXPECT_FALSE(FileExists(TempFolder().c_str()));
    EXPECT_FALSE(FileExists(TempFilePath(L"missing").c_str()));

    ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMORA_NET_TEST", L"C:\\base"));
    EXPECT_EQ(ExpandPath(L"%VELMORA_NET_TEST%\\setup.exe"), L"C:\\base\\setup.exe");
    EXPECT_EQ(ExpandPath(L""), L"");
    // Longer than a path may be: refused rather than cut.
    EXPECT_EQ(ExpandPath(L"%VELMORA_NET_TEST%" + std::wstring(300, L'a')), L"");

    // The system's folders come from the system, whatever the inherited environment says; an
    // unknown variable stays as it is.
    wchar_t windows[MAX_PATH] = {}, programFiles[MAX_PATH] = {}, common[MAX_PATH] = {};
    ASSERT_GT(::GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_HRESULT_SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles));
    ASSERT_HRESULT_SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, common));
    const struct {
        const wchar_t* variable;
        const wchar_t* text;
        std::wstring expanded;
    } rows[] = {
        {L"windir", L"%windir%\\system32\\x.dll", std::wstring(windows) + L"\\system32\\x.dll"},
        {L"SystemRoot", L"%SYSTEMROOT%\\x", std::wstring(windows) + L"\\x"},
        {L"ProgramFiles", L"%ProgramFiles%\\Bank\\%VELMORA_NET_TEST%",
         std::wstring(programFiles) + L"\\Bank\\C:\\base"},
        {L"CommonProgramFiles", L"%commonprogramfiles%\\x", std::wstring(common) + L"\\x"},
        {L"VELMORA_OTHER", L"%VELMORA_NO_SUCH%\\x 100%", L"%VELMORA_NO_SUCH%\\x 100%"},
    };
    for (const auto& row : rows) {
        wchar_t saved[MAX_PATH] = {};
        const DWORD had = ::GetEnvironmentVariableW(row.variable, saved, MAX_PATH);
        ::SetEnvironmentVariableW(row.variable, L"C:\\planted");
        EXPECT_EQ(ExpandPath(row.text), row.expanded);
        ::SetEnvironmentVariableW(row.variable, had ? saved : nullptr);
    }
}

} // namespace
