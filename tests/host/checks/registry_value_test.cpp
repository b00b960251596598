#include "checks/registry_value.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

TEST(ReadDecimal32, ReadsLikeACDecimalConversionIntoThe32BitPattern)
{
    struct Case {
        const char* text;
        std::uint32_t expected;
    } cases[] = {
        {"1", 1u},
        {"0x10", 0u}, // no hexadecimal prefix: the 0 is read, the x ends it
        {"-1", 0xFFFFFFFFu},
        {"-2", 0xFFFFFFFEu},
        {"  \t42abc", 42u},
        {"+7", 7u},
        {"", 0u},
        {"abc", 0u},
        {"- 1", 0u},
        {"3000000000", 3000000000u}, // an unsigned 32-bit number keeps its bits
        {"4294967295", 0xFFFFFFFFu},
        {"4294967296", 0xFFFFFFFFu},
        {"99999999999999999999999999", 0xFFFFFFFFu},
        {"-2147483648", 0x80000000u},
        {"-2147483649", 0x80000000u},
        {"-99999999999999999999999999", 0x80000000u},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadDecimal32(c.text), c.expected) << '"' << c.text << '"';

    EXPECT_EQ(ReadMask(""), 0xFFFFFFFFu) << "no mask selects every bit";
    EXPECT_EQ(ReadMask("0"), 0u);
    EXPECT_EQ(ReadMask("6"), 6u);
}

TEST(MaskedDword, ComparesAndMergesOnlyTheMaskedBits)
{
    struct Case {
        std::uint32_t stored, wanted, mask;
        bool equal;
        std::uint32_t merged;
    } cases[] = {
        {3, 1, 1, true, 3},
        {2, 1, 1, false, 3}, // the bit outside the mask stays set
        {0xFF00, 0x0F, 0x0F, false, 0xFF0F},
        {7, 0, 6, false, 1},
        {5, 5, 0xFFFFFFFF, true, 5},
        {5, 4, 0xFFFFFFFF, false, 4},
        {0x12345678, 0, 0, true, 0x12345678}, // an empty mask asks for nothing
        {0, 0xFFFFFFFF, 0x80000001, false, 0x80000001},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MaskedEqual(c.stored, c.wanted, c.mask), c.equal)
            << std::hex << c.stored << " " << c.wanted << " " << c.mask;
        const std::uint32_t merged = MergeMasked(c.stored, c.wanted, c.mask);
        EXPECT_EQ(merged, c.merged) << std::hex << c.stored << " " << c.wanted << " " << c.mask;
        EXPECT_TRUE(MaskedEqual(merged, c.wanted, c.mask)) << "a merged value passes its own check";
    }
}

TEST(DecodeHexPairs, StopsAtTheFirstNonHexCharacterAndDropsAnOddDigit)
{
    struct Case {
        const char* text;
        std::string expected;
    } cases[] = {
        {"0aFF10", std::string("\x0a\xff\x10", 3)},
        {"0A0b", std::string("\x0a\x0b", 2)},
        {"00", std::string(1, '\0')},
        {"abc", "\xab"},
        {"12zz34", "\x12"},
        {"123z45", "\x12"}, // the 3 lost its partner to the z
        {"1", ""},
        {"", ""},
        {"x1", ""},
        {"1 2", ""},
        {"0x10", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeHexPairs(c.text), c.expected) << '"' << c.text << '"';
}

} // namespace
} // namespace Velmora::Assistant
