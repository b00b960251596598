#include "fake_usb_bus.h"
#include "usb/usb_bus_walk.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace Velmora::Usb {
namespace {

using Testing::Controller;
using Testing::Device;
using Testing::FakeHub;
using Testing::FakePort;
using Testing::FakeUsbBus;
using Testing::Hub;
using Testing::HubPort;
using Ids = std::vector<std::uint32_t>;

constexpr std::uint32_t kFailedEnumeration = 2;

FakeUsbBus OneController(FakeHub root)
{
    FakeUsbBus bus;
    bus.controllers["\\\\.\\HCD0"] = Controller("{hc}\\0000", "root0");
    bus.hubs["root0"] = std::move(root);
    return bus;
}

TEST(UsbBusWalk, DevicesBehindHubsInWalkOrderWithDuplicatesAndFailedPorts)
{
    FakeUsbBus bus =
        OneController(Hub({Device(0x1234, 0x5678), HubPort("hub-a"), Device(0, 0, kFailedEnumeration),
                           Device(0xFFFF, 1, 0), Device(0x1234, 0x9999)}));
    // Two identical keys behind an external hub, which has another hub further down.
    bus.hubs["hub-a"] = Hub({Device(0x096e, 0x0201), HubPort("hub-b"), Device(0x096e, 0x0201)});
    bus.hubs["hub-b"] = Hub({Device(0x1ea8, 0x0001)});
    CUsbBus walk(bus);
    const Ids expected = {0x12345678, 0x096e0201, 0x1ea80001, 0x096e0201, 0x00000000, 0x12349999};
    EXPECT_EQ(expected, walk.ListUsbDeviceIds());
    EXPECT_EQ(expected, walk.ListUsbDeviceIds()) << "each walk starts afresh";
    EXPECT_EQ(0, bus.openHandles);
}

TEST(UsbBusWalk, ControllersByNumberOnlyUpToNineTheRestThroughTheInterfaceClassEachOnce)
{
    FakeUsbBus bus;
    Ids expected;
    for (int n = 0; n <= 10; ++n) {
        const std::string hub = "root" + std::to_string(n);
        bus.controllers["\\\\.\\HCD" + std::to_string(n)] = Controller("{hc}\\" + std::to_string(n), hub);
        bus.hubs[hub] = Hub({Device(0x1000, static_cast<std::uint16_t>(n))});
        if (n < 10)
            expected.push_back(0x10000000u | static_cast<unsigned>(n));
    }
    // The interface class lists controller 10 under another path, and controller 3 once more.
    bus.controllers["\\\\?\\pci#hc10"] = bus.controllers["\\\\.\\HCD10"];
    bus.controllers["\\\\?\\pci#hc3"] = bus.controllers["\\\\.\\HCD3"];
    bus.interfacePaths = {"\\\\?\\pci#hc3", "\\\\?\\pci#hc10"};
    expected.push_back(0x1000000A);
    CUsbBus walk(bus);
    EXPECT_EQ(expected, walk.ListUsbDeviceIds());
    EXPECT_EQ(0, std::count(bus.opened.begin(), bus.opened.end(), "\\\\.\\HCD10"));
    EXPECT_EQ(0, bus.openHandles);
}

TEST(UsbBusWalk, OlderConnectionInformationWhenTheExtendedOneFails)
{
    FakePort older = Device(0x1234, 0x5678);
    older.extendedFails = true;
    FakePort dead = Device(0x4444, 0x4444);
    dead.bothFail = true;
    FakeUsbBus bus = OneController(Hub({older, dead, Device(0x5555, 0x0001)}));
    CUsbBus walk(bus);
    EXPECT_EQ((Ids{0x12345678, 0x55550001}), walk.ListUsbDeviceIds());

    // The older reply's speed byte is a low-speed flag.
    std::vector<std::uint8_t> reply(kConnectionInformationSize);
    const std::pair<std::uint8_t, std::uint8_t> olderSpeed[] = {{0, 1}, {1, 0}};
    for (const auto& [flag, speed] : olderSpeed) {
        reply[kConnectionSpeedOffset] = flag;
        EXPECT_EQ(speed, ParseConnection(reply, false)->speed) << "low-speed flag " << int(flag);
        EXPECT_EQ(flag, ParseConnection(reply, true)->speed) << "extended speed " << int(flag);
    }
}

TEST(UsbBusWalk, LyingRepliesAreReadOnlyAsFarAsTheyReach)
{
    struct Case {
        const char* what;
        FakeUsbBus bus;
        Ids expected;
    };
    auto lyingNames = [](std::uint32_t length) {
        FakeUsbBus bus = OneController(Hub({Device(0x1234, 0x5678)}));
        bus.controllers["\\\\.\\HCD0"].lyingNameLength = length;
        return bus;
    };
    FakeHub cutNode = Hub({Device(0x1234, 0x5678)});
    cutNode.nodeReplyBytes = kHubPortCountOffset; // the port count lies past what came back
    FakeHub extraPorts = Hub({Device(0x1234, 0x5678)});
    extraPorts.claimedPorts = 255;
    FakePort cutConnection = Device(0x1234, 0x5678);
    cutConnection.replyBytes = kConnectionStatusOffset + 3;
    Case cases[] = {
        {"name length beyond the unterminated name", lyingNames(200), {0x12345678}},
        {"name length beyond any real name", lyingNames(0x7FFFFFF0), {}},
        {"node information without the port count", OneController(cutNode), {}},
        {"more ports claimed than exist", OneController(extraPorts), {0x12345678}},
        {"connection reply without the status",
         OneController(Hub({cutConnection, Device(0x5555, 1)})),
         {0x55550001}},
        {"a hub that names itself as its child", OneController(Hub({HubPort("root0"), Device(0x5555, 1)})),
         Ids(kMaxHubDepth + 1, 0x55550001)},
    };
    for (Case& c : cases) {
        CUsbBus walk(c.bus);
        EXPECT_EQ(c.expected, walk.ListUsbDeviceIds()) << c.what;
        EXPECT_EQ(0, c.bus.openHandles) << c.what;
    }
}

TEST(UsbBusWalk, NameRepliesStopAtTheTerminatorOrTheEndOfWhatArrived)
{
    const std::vector<std::uint8_t> reply = {9, 9, 9, 9, 'h', 0, 'u', 0, 'b', 0, 0, 0, 'x', 0};
    EXPECT_EQ(u"hub", NameInReply(reply, 4));
    EXPECT_EQ(u"hu", NameInReply(std::span(reply).first(9), 4)) << "half a character is dropped";
    EXPECT_FALSE(NameInReply(std::span(reply).first(4), 4));
    EXPECT_FALSE(NameInReply(std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0}, 4)) << "empty name";
}

} // namespace
} // namespace Velmora::Usb
