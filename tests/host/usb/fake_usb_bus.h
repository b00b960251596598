#pragma once
// A USB bus made from a small description (controllers, hubs, ports, descriptors, connection
// states), answering the walk's control codes as the host-controller and hub drivers do, including
// replies that lie about their lengths.

#include "usb/usb_bus_walk.h"
#include "usb/usb_io.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Velmora::Usb::Testing {

struct FakePort {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint32_t status = 1; // 0 nothing connected, 1 connected, 2 failed enumeration, ...
    std::string hub;          // the name of the hub on this port; empty for a device
    bool extendedFails = false;
    bool bothFail = false;
    std::optional<std::size_t> replyBytes; // connection replies cut short
};

struct FakeHub {
    std::vector<FakePort> ports;               // port 1 first
    std::optional<unsigned> claimedPorts;      // the hub descriptor's count, when it lies
    std::optional<std::size_t> nodeReplyBytes; // node information cut short
};

struct FakeController {
    std::string driverKey;
    std::string rootHub;
    // The name replies report this length, but return only the name itself, unterminated, with
    // junk after it in the buffer.
    std::optional<std::uint32_t> lyingNameLength;
};

// Builders that name only what a case needs.
inline FakePort Device(std::uint16_t vendor, std::uint16_t product, std::uint32_t status = 1)
{
    FakePort port;
    port.vendor = vendor;
    port.product = product;
    port.status = status;
    return port;
}
inline FakePort HubPort(std::string name)
{
    FakePort port;
    port.hub = std::move(name);
    return port;
}
inline FakeHub Hub(std::vector<FakePort> ports)
{
    FakeHub hub;
    hub.ports = std::move(ports);
    return hub;
}
inline FakeController Controller(std::string driverKey, std::string rootHub)
{
    FakeController controller;
    controller.driverKey = std::move(driverKey);
    controller.rootHub = std::move(rootHub);
    return controller;
}

inline DevicePath U16(const std::string& ascii)
{
    return DevicePath(ascii.begin(), ascii.end());
}

class FakeUsbBus : public IUsbIo {
public:
    std::map<std::string, FakeController> controllers; // by path: "\\.\HCD0" or an interface path
    std::vector<std::string> interfacePaths;
    std::map<std::string, FakeHub> hubs; // by name, opened as "\\.\" + name
    std::vector<std::string> opened;     // every path asked for, in order
    int openHandles = 0;

    std::optional<Device> Open(const DevicePath& path) override;
    void Close(Device device) override;
    bool Control(Device device, std::uint32_t code, std::span<const std::uint8_t> in,
                 std::span<std::uint8_t> out, std::size_t* returned) override;
    std::vector<DevicePath> HostControllerInterfacePaths() override;

private:
    struct Target {
        bool controller = false;
        std::string key;
    };
    std::map<Device, Target> handles_;
    Device next_ = 1;
};

} // namespace Velmora::Usb::Testing
