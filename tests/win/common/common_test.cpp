#include "common/file_write_win.h"
#include "common/last_error_win.h"
#include "common/registry_text_win.h"
#include "common/scoped_handle_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace Velmora;

namespace {

TEST(LastError, AFailedCallIsAFailureEvenWithoutAnErrorCode)
{
    const struct {
        DWORD lastError;
        HRESULT expected;
        DWORD code;
    } cases[] = {
        {0, E_FAIL, ERROR_INTERNAL_ERROR}, // the call failed and set none
        {ERROR_ACCESS_DENIED, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED},
        {ERROR_FILE_NOT_FOUND, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        ::SetLastError(c.lastError);
        EXPECT_EQ(LastErrorHresult(), c.expected) << c.lastError;
        ::SetLastError(c.lastError);
        EXPECT_EQ(LastErrorCode(), c.code) << c.lastError;
    }
    EXPECT_EQ(ResultHresult(ERROR_SUCCESS), S_OK) << "a call that answers its code: 0 is success";
    EXPECT_EQ(ResultHresult(ERROR_MORE_DATA), HRESULT_FROM_WIN32(ERROR_MORE_DATA));
}

std::string FileText(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ReplaceWholeFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::filesystem::temp_directory_path() /
                  ("velmora-replace-" + std::to_string(::GetCurrentProcessId()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        path_ = (folder_ / L"file.txt").wstring();
        std::ofstream(std::filesystem::path(path_), std::ios::binary) << "old";
    }
    void TearDown() override
    {
        for (const auto& entry : std::filesystem::directory_iterator(folder_))
            ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(folder_);
    }
    bool NewFileLeft() const { return std::filesystem::exists(path_ + L".new"); }

    std::filesystem::path folder_;
    std::wstring path_;
};

TEST_F(ReplaceWholeFileTest, EitherTheOldOrTheWholeNewContentAndNothingLeftBeside)
{
    // Something left under the new file's name, read-only, goes first and is never written through.
    std::ofstream(std::filesystem::path(path_ + L".new"), std::ios::binary) << "left over";
    ::SetFileAttributesW((path_ + L".new").c_str(), FILE_ATTRIBUTE_READONLY);
    std::string prepared;
    FileReplacement how;
    how.attributes = FILE_ATTRIBUTE_HIDDEN;
    how.prepare = [&](const std::wstring& newFile) {
        prepared = FileText(newFile);
        return true;
    };
    ASSERT_EQ(ReplaceWholeFile(path_, "new content", how), S_OK);
    EXPECT_EQ(FileText(path_), "new content");
    EXPECT_EQ(prepared, "new content") << "the new file is whole before it takes the old one's place";
    EXPECT_NE(::GetFileAttributesW(path_.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_FALSE(NewFileLeft());

    // A replacement stopped before the move leaves the file as it was.
    how.prepare = [](const std::wstring&) { return false; };
    EXPECT_EQ(ReplaceWholeFile(path_, "never", how), E_FAIL);
    EXPECT_EQ(FileText(path_), "new content");
    EXPECT_FALSE(NewFileLeft());

    // A folder that does not exist: a failure, nothing made.
    const std::wstring nowhere = (folder_ / L"missing" / L"file.txt").wstring();
    EXPECT_EQ(ReplaceWholeFile(nowhere, "x"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(folder_ / L"missing"));
}

TEST(RegistryText, ReadsStringsAsStoredAndRefusesTheRest)
{
    const wchar_t* subkey = L"Software\\VelmoraTests\\RegistryText";
    ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey);
    ScopedRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.Receive(), nullptr),
              ERROR_SUCCESS);
    const std::wstring longText(1000, L'x');
    const struct {
        const wchar_t* name;
        DWORD type;
        std::wstring data; // stored as given, without an added terminator
        RegistryText accepted;
        std::size_t maxChars;
        bool found;
        std::wstring expected;
    } cases[] = {
        {L"plain", REG_SZ, std::wstring(L"abc\0", 4), RegistryText::Plain, 100, true, L"abc"},
        {L"unterminated", REG_SZ, L"abc", RegistryText::Plain, 100, true, L"abc"},
        {L"two strings", REG_SZ, std::wstring(L"ab\0cd\0", 6), RegistryText::Plain, 100, true, L"ab"},
        {L"long", REG_SZ, longText, RegistryText::Plain, 1000, true, longText},
        {L"too long", REG_SZ, longText, RegistryText::Plain, 999, false, L""},
        {L"expandable", REG_EXPAND_SZ, L"%SystemRoot%", RegistryText::Expandable, 100, true, L"%SystemRoot%"},
        {L"expandable refused", REG_EXPAND_SZ, L"%SystemRoot%", RegistryText::Plain, 100, false, L""},
        {L"number", REG_DWORD, std::wstring(2, L'\1'), RegistryText::Expandable, 100, false, L""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::RegSetValueExW(key.Get(), c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                                   static_cast<DWORD>(c.data.size() * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        const std::optional<std::wstring> value =
            ReadRegistryString(key.Get(), c.name, c.accepted, c.maxChars);
        EXPECT_EQ(value.has_value(), c.found) << c.name;
        if (value && c.found) {
            EXPECT_EQ(*value, c.expected) << c.name;
        }
    }
    EXPECT_FALSE(ReadRegistryString(key.Get(), L"missing", RegistryText::Expandable));
    key.Reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey);
}

} // namespace
