#include "checks/version_spec.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

constexpr std::uint32_t Word(std::uint32_t high, std::uint32_t low)
{
    return (high << 16) | low;
}

TEST(VersionSpec, ParsesOperatorAndPacksTheParts)
{
    struct Case {
        const char* text;
        VersionOperator op;
        std::uint32_t ms, ls;
    } cases[] = {
        {"8.0.0.1", VersionOperator::Equal, Word(8, 0), Word(0, 1)},
        {"=1.2.3.4", VersionOperator::Equal, Word(1, 2), Word(3, 4)},
        {">=8.0", VersionOperator::NewerOrEqual, Word(8, 0), 0},
        {">7", VersionOperator::Newer, Word(7, 0), 0},
        {"<2.5.1", VersionOperator::Older, Word(2, 5), Word(1, 0)},
        {"<=10.20.30.40", VersionOperator::OlderOrEqual, Word(10, 20), Word(30, 40)},
        {">= v6.1", VersionOperator::NewerOrEqual, Word(6, 1), 0}, // non-digits skipped
        {"=>3", VersionOperator::Equal, Word(3, 0), 0},            // only the first sign counts
        {"65537.65535.131072.1", VersionOperator::Equal, Word(1, 0xFFFF), Word(0, 1)},
        {"1.2.3.4.5", VersionOperator::Equal, Word(1, 2), Word(3, 4)},
        {">=", VersionOperator::NewerOrEqual, 0, 0},
        {"abc", VersionOperator::Equal, 0, 0},
        {"", VersionOperator::Equal, 0, 0},
        {"4294967296.7", VersionOperator::Equal, Word(0, 7), 0}, // wraps, and only 16 bits are kept
    };
    for (const Case& c : cases) {
        const VersionSpec spec = ParseVersionSpec(c.text);
        EXPECT_EQ(spec.op, c.op) << c.text;
        EXPECT_EQ(spec.ms, c.ms) << c.text << std::hex << " ms " << spec.ms;
        EXPECT_EQ(spec.ls, c.ls) << c.text << std::hex << " ls " << spec.ls;
    }
}

TEST(VersionSpec, ComparesMostSignificantWordFirstUnsigned)
{
    struct Case {
        const char* spec;
        std::uint32_t ms, ls;
        bool ok;
    } cases[] = {
        {">=8.0", Word(8, 0), Word(0, 0), true},
        {">=8.0", Word(9, 1), Word(0, 0), true},
        {">=8.0", Word(7, 9), Word(9, 9), false},
        {"8.0.0.1", Word(8, 0), Word(0, 1), true},
        {"8.0.0.1", Word(8, 0), Word(0, 0), false},
        {"8.0.0.1", Word(8, 0), Word(0, 2), false},
        {">8.0.0.1", Word(8, 0), Word(0, 1), false},
        {">8.0.0.1", Word(8, 0), Word(0, 2), true},
        {"<8.1", Word(8, 0), Word(0xFFFF, 0xFFFF), true}, // the low word never outweighs the high
        {"<8.1", Word(8, 1), Word(0, 0), false},
        {"<=8.1", Word(8, 1), Word(0, 0), true},
        {"<=8.1", Word(8, 1), Word(0, 1), false},
        {">=1.0", Word(0x8000, 0), Word(0, 0), true}, // unsigned: a high bit is newer, not negative
        {"<1.0", Word(0xFFFF, 0), Word(0, 0), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VersionSatisfies(ParseVersionSpec(c.spec), c.ms, c.ls), c.ok)
            << c.spec << std::hex << " against " << c.ms << "." << c.ls;
    }
}

} // namespace
} // namespace Velmora::Assistant
