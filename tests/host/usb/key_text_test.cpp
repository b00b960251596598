#include "fake_usb_bus.h"
#include "usb/key_certificate_text.h"
#include "usb/key_id.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace Velmora::Usb {
namespace {

TEST(KeyId, ParsedAsAnUnsignedHexNumber)
{
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"12345678", 0x12345678},
        {"096E0201", 0x096e0201},
        {"  \t1ea80001", 0x1ea80001},
        {"0x1234abcd", 0x1234abcd},
        {"12345678zz", 0x12345678},
        {"zz", 0},
        {"", 0},
        {"0x", 0},
        {"123456789", 0xFFFFFFFF},
        {"-1", 0xFFFFFFFF},
        {"+10", 0x10},
    };
    for (const auto& [text, id] : cases)
        EXPECT_EQ(id, ParseKeyId(text)) << '"' << text << '"';
}

TEST(KeyId, SecondIdBeforeTheBarIsTestedFirstAndBothAreAlwaysTested)
{
    Testing::FakeUsbBus bus;
    bus.controllers["\\\\.\\HCD0"] = Testing::Controller("{hc}\\0000", "root0");
    bus.hubs["root0"] = Testing::Hub({Testing::Device(0x1234, 0x5678)});
    CUsbBus walk(bus);
    struct Case {
        const char* text;
        std::vector<std::uint32_t> tested;
        bool present;
        bool withFailedPort; // a port whose device failed enumeration reports id 0
    } cases[] = {
        {"12345678", {0x12345678}, true, false},
        {"00000000|12345678", {0, 0x12345678}, true, false},
        {"12345678|0000abcd", {0x12345678, 0xabcd}, true, false},
        {"|12345678", {0x12345678}, true, false},
        {"87654321|11112222|12345678", {0x87654321, 0x11112222}, false, false},
        {"zz", {0}, false, false},
        {"zz", {0}, true, true},
    };
    for (const Case& c : cases) {
        bus.hubs["root0"].ports.resize(1);
        if (c.withFailedPort)
            bus.hubs["root0"].ports.push_back(Testing::Device(0, 0, 2));
        std::vector<std::uint32_t> tested;
        const bool present = AnyKeyPresent(ParseKeyIdQuery(c.text), [&](std::uint32_t id) {
            tested.push_back(id);
            const std::vector<std::uint32_t> ids = walk.ListUsbDeviceIds();
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        });
        EXPECT_EQ(c.tested, tested) << c.text;
        EXPECT_EQ(c.present, present) << c.text;
    }
}

TEST(KeyCertificateText, FieldsOfTheRecord)
{
    const std::uint8_t serial[] = {0x03, 0x1f, 0x2a};
    EXPECT_EQ("2a1f03", SerialText(serial));
    EXPECT_EQ("", SerialText({}));

    const std::pair<const char*, const char*> names[] = {
        {"CN=CFCA ACS SM2 OCA31, O=China Financial Certification Authority, C=CN", "CFCA ACS SM2 OCA31"},
        {"C=CN, O=Velmora, CN=user01", "user01"},
        {"OU=Keys, O=Velmora", "OU=Keys, O=Velmora"},
        {"CN=", ""},
        {"", ""},
    };
    for (const auto& [text, field] : names)
        EXPECT_EQ(field, CommonNameOrWhole(text)) << text;

    EXPECT_EQ("2020年01月05日到2025年12月31日", ValidityText({2020, 1, 5}, {2025, 12, 31}));
}

TEST(KeyCertificateText, RecordSplitsIntoItsFourFieldsUnlessANameHoldsASemicolon)
{
    const std::string record =
        CertificateRecord("2a1f03", "CFCA ACS SM2 OCA31", "user01", "2020年01月05日到2025年01月05日");
    EXPECT_EQ("2a1f03;CFCA ACS SM2 OCA31;user01;2020年01月05日到2025年01月05日", record);
    EXPECT_EQ((std::vector<std::string>{"2a1f03", "CFCA ACS SM2 OCA31", "user01",
                                        "2020年01月05日到2025年01月05日"}),
              SplitRecord(record));
    EXPECT_EQ(5u, SplitRecord(CertificateRecord("01", "a;b", "c", "d")).size());
    EXPECT_EQ((std::vector<std::string>{""}), SplitRecord(""));
    EXPECT_EQ((std::vector<std::string>{"", "", "", ""}), SplitRecord(";;;"));
}

} // namespace
} // namespace Velmora::Usb
