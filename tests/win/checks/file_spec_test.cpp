#include "checks/check_fix.h"
#include "checks/digest.h"
#include "checks/file_spec_win.h"

#include "test_files.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

std::wstring Versioned(const char* name)
{
    return Utf8ToWide(std::string(VELMORA_CHECKS_PE) + "/version_" + name + ".exe");
}

ConfigEntry Entry(std::initializer_list<std::pair<const char*, const char*>> attributes)
{
    ConfigEntry entry;
    for (const auto& [name, value] : attributes)
        entry.Attributes.Set(name, value);
    return entry;
}

TEST(CheckFileSpec, ComparesTheVersionResource)
{
    struct Case {
        const char* version;
        const char* file;
        std::int32_t expected;
    } cases[] = {
        {">=8.0", "8_0_0_0", 2},   {">=8.0", "9_1_0_0", 2},     {">=8.0", "7_9_9_9", 1},
        {"8.0.0.1", "8_0_0_1", 2}, {"8.0.0.1", "8_0_0_0", 1},   {"8.0.0.1", "9_1_0_0", 1},
        {"<8", "7_9_9_9", 2},      {"<=8.0.0.1", "8_0_0_1", 2}, {">8.0.0.0", "8_0_0_0", 1},
        {"=9.1", "9_1_0_0", 2},    {">=1.0", "none", 1}, // no version resource
        {"", "none", 2},                                 // no version wanted
    };
    for (const Case& c : cases) {
        const std::wstring path = Versioned(c.file);
        ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << WideToUtf8(path);
        EXPECT_EQ(CheckFileSpec(Entry({{"version", c.version}}), path), c.expected)
            << "version " << c.version << " against " << c.file;
    }
}

TEST(CheckFileSpec, MissingFilesAndFoldersFail)
{
    EXPECT_EQ(CheckFileSpec(Entry({}), Versioned("0_0_0_0")), kResultFailed);
    EXPECT_EQ(CheckFileSpec(Entry({{"version", ">=1.0"}}), Versioned("0_0_0_0")), kResultFailed);
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    EXPECT_EQ(CheckFileSpec(Entry({}), folder), kResultFailed);
}

TEST(CheckFileSpec, DigestsCompareWithoutCase)
{
    const std::wstring path = TempFile(L"velmora-file-spec.bin");
    ASSERT_TRUE(WriteBytes(path, "abc"));
    const char* md5 = "900150983CD24FB0D6963F7D28E17F72";
    const char* sha1 = "A9993E364706816ABA3E25717850C26C9CD0D89D";
    EXPECT_EQ(CheckFileSpec(Entry({{"md5", md5}}), path), kResultPassed);
    EXPECT_EQ(CheckFileSpec(Entry({{"sha1", sha1}, {"md5", md5}}), path), kResultPassed);
    EXPECT_EQ(CheckFileSpec(Entry({{"md5", "900150983cd24fb0d6963f7d28e17f73"}}), path), kResultMismatch);
    EXPECT_EQ(CheckFileSpec(Entry({{"md5", md5}, {"sha1", "a9993e36"}}), path), kResultMismatch);
    EXPECT_EQ(CheckFileSpec(Entry({{"version", ">=1.0"}, {"md5", md5}}), path), kResultMismatch);

    {
        // A file that cannot be read matches no digest.
        ScopedHandle locked(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_EQ(FileDigestHex(path, kDigestMd5), "");
        EXPECT_EQ(CheckFileSpec(Entry({{"md5", md5}}), path), kResultMismatch);
    }
    RemoveFile(path);
}

TEST(FileDigestHex, LargeFileEqualsTheDigestOfItsBytes)
{
    std::string bytes(5 * 1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    const std::wstring path = TempFile(L"velmora-digest-large.bin");
    ASSERT_TRUE(WriteBytes(path, bytes));
    for (int kind : {kDigestMd5, kDigestSha1})
        EXPECT_EQ(FileDigestHex(path, kind), DigestHex(bytes, kind)) << "kind " << kind;
    EXPECT_EQ(FileDigestHex(path, 7), "");
    RemoveFile(path);
    EXPECT_EQ(FileDigestHex(path, kDigestMd5), "");
}

} // namespace
} // namespace Velmora::Assistant
