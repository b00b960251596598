#include "checks/check_fix_host_win.h"

#include "checks/check_fix_dns_win.h"
#include "checks/check_fix_url_win.h"
#include "checks/scoped_redirection_win.h"

#include "common/scoped_handle_win.h"
#include "net/download_files_win.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    EXPECT_HRESULT_SUCCEEDED(Network::ReadWholeFile(path.c_str(), &bytes));
    return bytes;
}

std::vector<std::wstring> FolderListing(const std::wstring& path)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const std::wstring pattern = path.substr(0, path.find_last_of(L'\\')) + L"\\*";
    const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.emplace_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

FILETIME LastWriteTime(const std::wstring& path)
{
    FILETIME time = {};
    ScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file.IsValid());
    GetFileTime(file.Get(), nullptr, nullptr, &time);
    return time;
}

void SetLastWriteTime(const std::wstring& path, FILETIME time)
{
    ScopedHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &time));
}

// The file's access list, with its inheritance state, in the text form; empty when unreadable.
std::wstring AccessList(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    const ScopedLocal descriptorOwner(descriptor);
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr))
        return {};
    const ScopedLocal textOwner(text);
    return text;
}

bool SetAccessList(const std::wstring& path, const std::wstring& text)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return false;
    const ScopedLocal descriptorOwner(descriptor);
    return SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
}

std::vector<ConfigEntry> Entries(std::initializer_list<const char*> names)
{
    std::vector<ConfigEntry> entries;
    for (const char* name : names) {
        entries.emplace_back();
        entries.back().Text = name;
    }
    return entries;
}

// Every test works on the prefix's real hosts file and puts it back, content and attributes,
// whatever the test did to it.
class HostsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = HostsFilePath();
        ASSERT_FALSE(path_.empty());
        attributes_ = GetFileAttributesW(path_.c_str());
        ASSERT_NE(attributes_, INVALID_FILE_ATTRIBUTES);
        ASSERT_HRESULT_SUCCEEDED(Network::ReadWholeFile(path_.c_str(), &saved_));
        accessList_ = AccessList(path_);
        ASSERT_FALSE(accessList_.empty());
        listing_ = FolderListing(path_);
    }

    void TearDown() override
    {
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_HRESULT_SUCCEEDED(Network::WriteWholeFile(path_.c_str(), saved_));
        SetFileAttributesW(path_.c_str(), attributes_);
        EXPECT_TRUE(SetAccessList(path_, accessList_));
        // Nothing left behind beside the file.
        EXPECT_EQ(FolderListing(path_), listing_);
    }

    void Write(const std::string& bytes)
    {
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_HRESULT_SUCCEEDED(Network::WriteWholeFile(path_.c_str(), bytes));
    }

    std::wstring path_;
    DWORD attributes_ = 0;
    std::string saved_;
    std::wstring accessList_;
    std::vector<std::wstring> listing_;
};

TEST_F(HostsFileTest, CheckAndRepairKeepLineEnds)
{
    for (const std::string eol : {"\n", "\r\n"}) {
        SCOPED_TRACE(eol == "\n" ? "LF" : "CR LF");
        Write("127.0.0.1 localhost" + eol + "1.2.3.4 Bank.Example" + eol + "10.0.0.1 other.example" + eol);
        CheckFixHost handler;
        auto entries = Entries({"bank.example", "safe.example"});
        EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultFailed);
        EXPECT_EQ(entries[0].State, kResultFailed);
        EXPECT_EQ(entries[1].State, kResultPassed);
        EXPECT_EQ(handler.HadCrLf(), eol == "\r\n");
        EXPECT_EQ(handler.HostsText(),
                  "\n127.0.0.1 localhost\n1.2.3.4 Bank.Example\n10.0.0.1 other.example\n\n");

        EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), kResultPassed);
        EXPECT_EQ(ReadBytes(path_), "127.0.0.1 localhost" + eol + "10.0.0.1 other.example" + eol);
        // The 64-bit system's file, the one name resolution reads, whatever the process's bitness.
        EXPECT_EQ(ReadBytes(NativeSystemAlias(path_)), ReadBytes(path_));
        EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultPassed);
    }
}

// The replacement keeps what a protection tool set on the file: its attributes and its access
// list (here one that is not inherited and lets users only read).
TEST_F(HostsFileTest, ReplacementKeepsAttributesAndAccessList)
{
    Write("1.2.3.4 bank.example\n");
    ASSERT_TRUE(SetAccessList(path_, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)"));
    ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    const DWORD before = GetFileAttributesW(path_.c_str());
    const std::wstring accessList = AccessList(path_);
    ASSERT_NE(accessList, accessList_);
    CheckFixHost handler;
    auto entries = Entries({"bank.example"});
    ASSERT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultFailed);
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), kResultPassed);
    EXPECT_EQ(ReadBytes(path_), "\n");
    EXPECT_EQ(GetFileAttributesW(path_.c_str()), before);
    EXPECT_EQ(AccessList(path_), accessList);
}

// The repair reads the file again: what was written since the check stays, and a redirect added
// since, right after another, is removed with it.
TEST_F(HostsFileTest, RepairKeepsLinesWrittenSinceTheCheck)
{
    Write("127.0.0.1 localhost\r\n1.2.3.4 bank.example\r\n");
    CheckFixHost handler;
    auto entries = Entries({"bank.example"});
    ASSERT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultFailed);
    Write(
        "127.0.0.1 localhost\r\n1.2.3.4 bank.example\r\n5.6.7.8 BANK.example\r\n10.1.1.1 intranet.corp\r\n");
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), kResultPassed);
    EXPECT_EQ(ReadBytes(path_), "127.0.0.1 localhost\r\n10.1.1.1 intranet.corp\r\n");
}

// A write that cannot be made leaves the old file, its attributes and no temporary file behind:
// a read-only file, and one held open by someone who does not let it be replaced.
TEST_F(HostsFileTest, FailedWriteLeavesTheFileAsItWas)
{
    const std::string bytes = "1.2.3.4 bank.example\r\n";
    for (const bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only" : "held open");
        Write(bytes);
        ScopedHandle holder;
        if (readOnly)
            ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
        else
            holder.Reset(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
        const DWORD attributes = GetFileAttributesW(path_.c_str());
        CheckFixHost handler;
        auto entries = Entries({"bank.example"});
        ASSERT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultFailed);
        // The entry itself is repaired in the text; writing it back fails.
        EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), kResultFailed);
        EXPECT_EQ(entries[0].State, kResultPassed);
        holder.Reset();
        EXPECT_EQ(ReadBytes(path_), bytes);
        EXPECT_EQ(GetFileAttributesW(path_.c_str()), attributes);
        EXPECT_EQ(FolderListing(path_), listing_);
    }
}

TEST_F(HostsFileTest, NothingIsWrittenWithoutALoadOrAMatch)
{
    const std::string redirect = "1.2.3.4 bank.example\n";
    Write(redirect);
    // Nothing loaded in this handler's life: a repair step called on its own refuses and leaves
    // the file alone.
    {
        CheckFixHost handler;
        auto entries = Entries({"bank.example"});
        EXPECT_EQ(handler.FixEntry(entries[0]), kResultFailed);
        EXPECT_EQ(handler.EndFix(), kResultFailed);
        EXPECT_EQ(ReadBytes(path_), redirect);
    }
    // A repair that removes nothing does not touch the file.
    Write("127.0.0.1 localhost\n");
    const SYSTEMTIME longAgo = {2001, 1, 1, 1, 0, 0, 0, 0};
    FILETIME old = {};
    ASSERT_TRUE(SystemTimeToFileTime(&longAgo, &old));
    SetLastWriteTime(path_, old);
    CheckFixHost handler;
    auto entries = Entries({"bank.example"});
    ASSERT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultPassed);
    entries[0].State = kResultFailed; // repaired although it passed
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), kResultPassed);
    const FILETIME after = LastWriteTime(path_);
    EXPECT_EQ(CompareFileTime(&old, &after), 0);
}

// A file held by someone who shares no access cannot be read: the group fails and the text of the
// last load stays. A missing file redirects nothing.
TEST_F(HostsFileTest, UnreadableFileFailsAndAMissingOnePasses)
{
    Write("1.2.3.4 bank.example\n");
    CheckFixHost handler;
    auto entries = Entries({"bank.example"});
    ASSERT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultFailed);
    const std::string loaded = handler.HostsText();
    {
        const ScopedHandle holder(
            CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.IsValid());
        entries[0].State = 77;
        EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultFailed);
        EXPECT_EQ(entries[0].State, 77); // no entry was checked
        EXPECT_EQ(handler.HostsText(), loaded);
        // Nor is anything repaired.
        EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), kResultFailed);
    }
    EXPECT_EQ(ReadBytes(path_), "1.2.3.4 bank.example\n");

    ASSERT_TRUE(DeleteFileW(path_.c_str()));
    EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), false), kResultPassed);
    EXPECT_EQ(entries[0].State, kResultPassed);
    entries[0].State = kResultFailed;
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), kResultPassed);
    EXPECT_EQ(GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES); // not made by the repair
}

TEST(NetworkHandlers, RegisteredByType)
{
    EXPECT_NE(dynamic_cast<CheckFixHost*>(HandlerForType("host")), nullptr);
    EXPECT_NE(dynamic_cast<CheckFixDns*>(HandlerForType("dns")), nullptr);
    EXPECT_NE(dynamic_cast<CheckFixUrl*>(HandlerForType("url")), nullptr);
}

} // namespace
} // namespace Velmora::Assistant
