#include "checks/hosts_matcher.h"

#include "host/checks/hosts_reference.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

struct FileResult {
    bool redirected = false;
    std::string repaired; // the file after one repair
};

FileResult CheckAndRepair(const std::string& file, const std::string& name)
{
    bool crLf = false;
    std::string text = LoadHostsText(file, &crLf);
    FileResult result;
    result.redirected = IsHostRedirected(text, name);
    RemoveHostRedirects(text, name);
    result.repaired = HostsTextToFile(text, crLf);
    return result;
}

struct EdgeCase {
    const char* what;
    std::string file;
    std::string name;
    bool redirected;
    std::string repaired;
};

TEST(HostsMatcher, FileEdgeCases)
{
    const std::string bank = "bank.com";
    const EdgeCase cases[] = {
        {"redirect between other lines", "127.0.0.1 localhost\n1.2.3.4 bank.com\n10.0.0.1 other\n", bank,
         true, "127.0.0.1 localhost\n10.0.0.1 other\n"},
        {"commented line", "#1.2.3.4 bank.com\n# 1.2.3.4 bank.com\n", bank, false,
         "#1.2.3.4 bank.com\n# 1.2.3.4 bank.com\n"},
        {"comment ending in white space", "1.2.3.4 bank.com # phish \nx y\n", bank, true, "x y\n"},
        {"comment ending at the line feed", "1.2.3.4 bank.com #phish\nx y\n", bank, false,
         "1.2.3.4 bank.com #phish\nx y\n"},
        {"such a comment before a blank line", "1.2.3.4 bank.com #phish\n\nx y\n", bank, true, "x y\n"},
        {"first line", "1.2.3.4 bank.com\nx y\n", bank, true, "x y\n"},
        {"last line without line end", "x y\n1.2.3.4\tbank.com", bank, true, "x y"},
        {"two adjacent lines: one repair takes the first", "1.2.3.4 bank.com\n5.6.7.8 bank.com\nz z\n", bank,
         true, "5.6.7.8 bank.com\nz z\n"},
        {"CR LF kept", "a b\r\n1.2.3.4 bank.com\r\nc d\r\n", bank, true, "a b\r\nc d\r\n"},
        {"blank lines around the line are taken with it", "a b\n\n\n1.2.3.4 bank.com \n\n\nc d\n", bank, true,
         "a b\nc d\n"},
        {"longer name ending in the name", "1.2.3.4 evilbank.com\n1.2.3.4 www.bank.com\n", bank, false,
         "1.2.3.4 evilbank.com\n1.2.3.4 www.bank.com\n"},
        {"name continuing", "1.2.3.4 bank.com.evil.net\n1.2.3.4 bank.community\n", bank, false,
         "1.2.3.4 bank.com.evil.net\n1.2.3.4 bank.community\n"},
        {"dot is literal", "1.2.3.4 bankxcom\n", bank, false, "1.2.3.4 bankxcom\n"},
        {"upper-case line", "1.2.3.4 BANK.COM\n", bank, true, "\n"},
        {"upper-case name", "a b\n1.2.3.4 bank.com\n", "BaNk.CoM", true, "a b"},
        {"second name on the line", "1.2.3.4 other.com bank.com\n", bank, false,
         "1.2.3.4 other.com bank.com\n"},
        {"name starting with digits", "127.0.0.1 localhost\n6.6.6.6  95599.cn\nx y\n", "95599.cn", true,
         "127.0.0.1 localhost\nx y\n"},
        {"digits only name inside an address run", "1.2.3.4 1.2.3.4\nx y\n", "1.2.3.4", true, "x y\n"},
        {"empty name matches nothing", "a\n\n\n1.2.3.4\n\n", "", false, "a\n\n\n1.2.3.4\n\n"},
    };
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const FileResult result = CheckAndRepair(c.file, c.name);
        EXPECT_EQ(result.redirected, c.redirected);
        EXPECT_EQ(result.repaired, c.repaired);
        if (!c.name.empty()) {
            // The same answers as the backtracking pattern they stand for.
            bool crLf = false;
            const std::string text = LoadHostsText(c.file, &crLf);
            const std::regex pattern = Testing::HostsReferencePattern(c.name);
            EXPECT_EQ(result.redirected, Testing::ReferenceRedirected(text, pattern));
            EXPECT_EQ(result.repaired, HostsTextToFile(Testing::ReferenceRemove(text, pattern), crLf));
        }
    }
}

TEST(HostsMatcher, AdjacentLinesNeedASecondRepair)
{
    bool crLf = false;
    std::string text = LoadHostsText("1.2.3.4 bank.com\n5.6.7.8 bank.com\n", &crLf);
    ASSERT_TRUE(RemoveHostRedirects(text, "bank.com"));
    EXPECT_TRUE(IsHostRedirected(text, "bank.com"));
    ASSERT_TRUE(RemoveHostRedirects(text, "bank.com"));
    EXPECT_FALSE(IsHostRedirected(text, "bank.com"));
    EXPECT_FALSE(RemoveHostRedirects(text, "bank.com"));
    EXPECT_EQ(HostsTextToFile(text, crLf), "\n");
}

TEST(HostsMatcher, LoadAndSaveKeepLineEnds)
{
    bool crLf = true;
    EXPECT_EQ(LoadHostsText("a\nb", &crLf), "\na\nb\n");
    EXPECT_FALSE(crLf);
    EXPECT_EQ(LoadHostsText("a\r\nb\r\r\n", &crLf), "\na\nb\r\n\n");
    EXPECT_TRUE(crLf);
    EXPECT_EQ(HostsTextToFile("\na\nb\r\n\n", true), "a\r\nb\r\r\n");
    EXPECT_EQ(HostsTextToFile("\n\n", false), "");
    EXPECT_EQ(LoadHostsText("", &crLf), "\n\n");
    EXPECT_FALSE(crLf);
}

// Deep runs of blank lines (the backtracking form overflows its stack on these) and a huge file.
TEST(HostsMatcher, LongRuns)
{
    const std::string blanks(200000, '\n');
    bool crLf = false;
    std::string text = LoadHostsText("x y" + blanks + "1.2.3.4 bank.com" + blanks + "z z\n", &crLf);
    EXPECT_TRUE(IsHostRedirected(text, "bank.com"));
    ASSERT_TRUE(RemoveHostRedirects(text, "bank.com"));
    EXPECT_EQ(HostsTextToFile(text, crLf), "x y\nz z\n");

    std::string digits;
    for (int i = 0; i < 100000; ++i)
        digits += "1.1 ";
    text = LoadHostsText(digits + "1.1\n", &crLf);
    EXPECT_TRUE(IsHostRedirected(text, "1.1"));
    EXPECT_FALSE(IsHostRedirected(text, "1.1 1.2"));
}

// A name that repeats the text's own lines makes every candidate compare long: the engine then
// switches to its occurrence index, with the same answers.
TEST(HostsMatcher, SelfSimilarName)
{
    const std::string unit = "aaaa\n1 ";
    std::string name;
    for (int i = 0; i < 50; ++i)
        name += unit;
    name += "b";
    std::string lines;
    for (int i = 0; i < 2000; ++i)
        lines += unit;
    for (const bool redirected : {false, true}) {
        bool crLf = false;
        const std::string text = LoadHostsText("1 " + lines + (redirected ? "b\nx y\n" : "\n"), &crLf);
        const std::regex pattern = Testing::HostsReferencePattern(name);
        ASSERT_EQ(Testing::ReferenceRedirected(text, pattern), redirected);
        EXPECT_EQ(IsHostRedirected(text, name), redirected);
        std::string repaired = text;
        RemoveHostRedirects(repaired, name);
        EXPECT_EQ(repaired, Testing::ReferenceRemove(text, pattern));
    }
}

// Builds small hosts files from the pieces that matter to the pattern: addresses, every kind of
// white space, the name in several spellings and near misses, comments with and without white space
// before the line end, bare CRs, blank lines.
class HostsGenerator {
public:
    explicit HostsGenerator(unsigned seed) : random_(seed) {}

    std::string Name()
    {
        static const char* const names[] = {"bank.com", "95599.cn", "a", "1.2", "my-bank.com.cn", "B.c"};
        return Pick(names);
    }

    std::string File(const std::string& name)
    {
        std::string file;
        const int lines = Below(7);
        for (int i = 0; i < lines; ++i)
            file += Line(name);
        if (Below(3) == 0)
            file += Piece(name);
        return file;
    }

    // Byte soup over the alphabet the pattern distinguishes.
    std::string Soup(const std::string& name)
    {
        static const char* const bytes[] = {"\n", "\n", "\r", " ", "\t", "\v", "1", ".", "#", "a", "A", "x"};
        std::string file;
        const int count = Below(40);
        for (int i = 0; i < count; ++i)
            file += Below(8) == 0 ? name : Pick(bytes);
        return file;
    }

private:
    std::string Line(const std::string& name)
    {
        static const char* const ends[] = {"\n", "\n", "\r\n", "\r", "\n\n", " \n", "\t\r\n"};
        std::string line;
        const int pieces = Below(5);
        for (int i = 0; i < pieces; ++i)
            line += Piece(name);
        return line + Pick(ends);
    }

    std::string Piece(const std::string& name)
    {
        static const char* const addresses[] = {"127.0.0.1", "1.2.3.4", "0.0.0.0", "::1",
                                                "10.0.0.1",  "1",       "."};
        static const char* const spaces[] = {" ", "  ", "\t", "\v", "\f", " \t"};
        static const char* const comments[] = {"#", "# x", "#x ", "# x\t", "##", "#\t", "# x #"};
        switch (Below(6)) {
        case 0:
            return Pick(addresses);
        case 1:
            return Pick(spaces);
        case 2:
            return Pick(comments);
        case 3:
            return Spelling(name);
        case 4:
            return Near(name);
        default:
            return std::string(Pick(addresses)) + Pick(spaces) + Spelling(name);
        }
    }

    std::string Spelling(std::string name)
    {
        for (char& c : name) {
            if (Below(3) == 0 && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
        return name;
    }

    std::string Near(const std::string& name)
    {
        switch (Below(4)) {
        case 0:
            return "x" + name;
        case 1:
            return name + "x";
        case 2:
            return "www." + name;
        default:
            return name.substr(0, name.size() / 2);
        }
    }

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    template <std::size_t N> const char* Pick(const char* const (&items)[N])
    {
        return items[Below(static_cast<int>(N))];
    }

    std::mt19937 random_;
};

TEST(HostsMatcher, AgreesWithTheBacktrackingPattern)
{
    HostsGenerator generator(20260917);
    int redirected = 0;
    constexpr int kCases = 6000;
    for (int i = 0; i < kCases; ++i) {
        const std::string name = generator.Name();
        const std::string file = i % 3 == 2 ? generator.Soup(name) : generator.File(name);
        bool crLf = false;
        const std::string text = LoadHostsText(file, &crLf);
        const std::regex pattern = Testing::HostsReferencePattern(name);

        const bool expected = Testing::ReferenceRedirected(text, pattern);
        ASSERT_EQ(IsHostRedirected(text, name), expected) << "name " << name << " file\n"
                                                          << ::testing::PrintToString(file);
        std::string repaired = text;
        ASSERT_EQ(RemoveHostRedirects(repaired, name), expected);
        ASSERT_EQ(repaired, Testing::ReferenceRemove(text, pattern)) << "name " << name << " file\n"
                                                                     << ::testing::PrintToString(file);
        redirected += expected ? 1 : 0;
    }
    // The generator must produce both answers often, or the comparison proves little.
    EXPECT_GT(redirected, kCases / 10);
    EXPECT_LT(redirected, kCases * 9 / 10);
}

} // namespace
} // namespace Velmora::Assistant
