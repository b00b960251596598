#include "checks/user_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace Velmora::Assistant {
namespace {

std::uint32_t At32(const std::string& data, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + i])) << (8 * i);
    return value;
}

std::string ListOf(std::initializer_list<std::u16string_view> domains)
{
    std::string data = EmptyUserFilter();
    for (std::u16string_view domain : domains)
        EXPECT_TRUE(AppendUserFilter(data, domain));
    return data;
}

TEST(UserFilter, FirstDomainIntoAnEmptyListGivesTheExactBytes)
{
    std::string data = EmptyUserFilter();
    ASSERT_TRUE(AppendUserFilter(data, u"aB.cn"));
    const std::string expected("\x41\x1F\x00\x00"
                               "\x53\x08\xAD\xBA"
                               "\x01\x00\x00\x00"
                               "\x28\x00\x00\x00" // 30 + 2 x 5
                               "\x01\x00\x00\x00"
                               "\x01\x00\x00\x00"
                               "\x0C\x00\x00\x00"
                               "\x00\x00\x00\x00\x48\x1A\xCE\x01"
                               "\x01\x00\x00\x00"
                               "\x05\x00"
                               "a\0B\0.\0c\0n\0",
                               24 + 18 + 2 * 5);
    EXPECT_EQ(data, expected);
    EXPECT_TRUE(IsWellFormedUserFilter(data));

    ASSERT_TRUE(AppendUserFilter(data, u"x.com"));
    EXPECT_EQ(At32(data, 8), 2u);
    EXPECT_EQ(At32(data, 20), 2u);
    EXPECT_EQ(At32(data, 12), data.size() - 12);
    EXPECT_EQ(UserFilterDomains(data), (std::vector<std::u16string>{u"aB.cn", u"x.com"}));
}

TEST(UserFilter, AStoredDomainMatchesEveryDomainThatBeginsWithItIgnoringCase)
{
    const std::string data = ListOf({u"Bank.Example.com", u"pay.example.cn"});
    struct Case {
        std::u16string_view query;
        bool found;
    } cases[] = {
        {u"bank.example.com", true},      {u"BANK.EXAMPLE.COM", true},
        {u"bank.example.com.cn", true}, // a further suffix
        {u"bank.example.co", false},    // shorter than the stored domain
        {u"www.bank.example.com", false}, {u"pay.example.cn/login", true},
        {u"pay.exampl", false},           {u"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UserFilterContains(data, c.query), c.found) << std::string(c.query.begin(), c.query.end());

    std::string emptyRecord = ListOf({u"a"});
    emptyRecord.resize(emptyRecord.size() - 2);
    emptyRecord[24 + 16] = '\0';
    emptyRecord[12] = static_cast<char>(emptyRecord.size() - 12);
    ASSERT_TRUE(IsWellFormedUserFilter(emptyRecord));
    EXPECT_FALSE(UserFilterContains(emptyRecord, u"bank.example.com")) << "an empty record is no site";
    EXPECT_FALSE(UserFilterContains(EmptyUserFilter(), u"bank.example.com"));
    EXPECT_FALSE(UserFilterContains("", u"bank.example.com"));
    EXPECT_FALSE(UserFilterContains(ListOf({u"\u00C4.cn"}), u"\u00E4.cn")) << "only ASCII letters fold";
}

TEST(UserFilter, AListBeyondSixtyFourKilobytesIsExtendedWhole)
{
    std::string data = EmptyUserFilter();
    std::vector<std::u16string> domains;
    for (int i = 0; data.size() < 70 * 1024; ++i) {
        std::string text = "site" + std::to_string(i) + ".example.com";
        domains.emplace_back(text.begin(), text.end());
        ASSERT_TRUE(AppendUserFilter(data, domains.back()));
    }
    const std::size_t before = data.size();
    ASSERT_TRUE(UserFilterContains(data, domains.back())) << "a record past 64 KB is read";
    ASSERT_TRUE(AppendUserFilter(data, u"new.example.com"));
    domains.push_back(u"new.example.com");
    EXPECT_EQ(data.size(), before + 18 + 2 * 15);
    EXPECT_EQ(At32(data, 8), domains.size());
    EXPECT_EQ(UserFilterDomains(data), domains);
    EXPECT_TRUE(IsWellFormedUserFilter(data));
}

TEST(UserFilter, AMalformedListIsNeverRewritten)
{
    const std::string good = ListOf({u"bank.example.com", u"pay.example.cn"});
    auto with32 = [&](std::size_t at, std::uint32_t value) {
        std::string data = good;
        for (std::size_t i = 0; i < 4; ++i)
            data[at + i] = static_cast<char>(value >> (8 * i));
        return data;
    };
    std::string longRecord = good;
    longRecord[24 + 16] = '\x7F'; // the first record's length runs past the data
    struct Case {
        const char* what;
        std::string data;
        bool firstStillFound;
    } cases[] = {
        {"count past the data", with32(8, 3), true},
        {"huge count", with32(8, 0xFFFFFFFF), true},
        {"second counter differs", with32(20, 1), true},
        {"length field too long", with32(12, At32(good, 12) + 2), true},
        {"length field too short", with32(12, 12), true},
        {"unknown magic", with32(0, 0x1F42), true},
        {"record length past the data", longRecord, false},
        {"trailing bytes", good + std::string(2, '\0'), true},
        {"truncated inside a record", good.substr(0, good.size() - 1), true},
        {"truncated header", good.substr(0, 23), false},
    };
    for (Case& c : cases) {
        const std::string before = c.data;
        EXPECT_FALSE(IsWellFormedUserFilter(c.data)) << c.what;
        EXPECT_FALSE(AppendUserFilter(c.data, u"new.example.com")) << c.what;
        EXPECT_EQ(c.data, before) << c.what;
        EXPECT_EQ(UserFilterContains(c.data, u"bank.example.com"), c.firstStillFound) << c.what;
    }

    std::string data = good;
    EXPECT_FALSE(AppendUserFilter(data, u"")) << "an empty domain";
    EXPECT_FALSE(AppendUserFilter(data, std::u16string(0x10000, u'a'))) << "longer than a record holds";
    EXPECT_EQ(data, good);
}

} // namespace
} // namespace Velmora::Assistant
