#pragma once
// The walk of the USB tree through the host-controller and hub drivers' control codes: every host
// controller (as \\.\HCD0 to \\.\HCD9 and through the host-controller interface class), its root hub
// and the hubs behind it, and the vendor and product id of every attached device that is not a hub.

#include "usb/usb_io.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace Velmora::Usb {

// Control codes of the USB stack (device type 0x22, buffered).
inline constexpr std::uint32_t kIoctlHcdDriverKeyName = 0x220424;
inline constexpr std::uint32_t kIoctlRootHubName = 0x220408;
inline constexpr std::uint32_t kIoctlNodeInformation = 0x220408;
inline constexpr std::uint32_t kIoctlHubCapabilitiesEx = 0x220450;
inline constexpr std::uint32_t kIoctlHubCapabilities = 0x22043C;
inline constexpr std::uint32_t kIoctlConnectionInformationEx = 0x220448;
inline constexpr std::uint32_t kIoctlConnectionInformation = 0x22040C;
inline constexpr std::uint32_t kIoctlConnectionHubName = 0x220414;

// Reply layouts.
inline constexpr std::size_t kNameReplyHeader = 4;     // host controller: length, then the name
inline constexpr std::size_t kPortNameReplyHeader = 8; // hub port: port number, length, then the name
inline constexpr std::size_t kNodeInformationSize = 76;
inline constexpr std::size_t kHubPortCountOffset = 6;
inline constexpr std::size_t kConnectionInformationSize = 365;
inline constexpr std::size_t kConnectionVendorOffset = 12;
inline constexpr std::size_t kConnectionProductOffset = 14;
inline constexpr std::size_t kConnectionSpeedOffset = 23;
inline constexpr std::size_t kConnectionIsHubOffset = 24;
inline constexpr std::size_t kConnectionStatusOffset = 31;
// Longer name replies are refused rather than allocated: no device name comes near it.
inline constexpr std::size_t kMaxNameReply = 64 * 1024;
// The bus allows five hubs between the root hub and a device; deeper nesting is a driver's lie.
inline constexpr int kMaxHubDepth = 7;

struct PortConnection {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint8_t speed = 0;
    bool isHub = false;
    std::uint32_t status = 0; // 0: nothing connected
};

// Key id of a device: vendor id in the high 16 bits, product id in the low 16 bits.
constexpr std::uint32_t DeviceIdOf(std::uint16_t vendor, std::uint16_t product)
{
    return (static_cast<std::uint32_t>(vendor) << 16) | product;
}

// The name in a name reply: UTF-16 from `header` to the first NUL or the end of what was received.
// None when the reply does not reach the name or the name is empty.
std::optional<DevicePath> NameInReply(std::span<const std::uint8_t> reply, std::size_t header);

// A connection-information reply; none when it is too short to hold the connection status. The
// older reply's speed byte is a low-speed flag: it becomes speed 1 (full) when clear, else 0 (low).
std::optional<PortConnection> ParseConnection(std::span<const std::uint8_t> reply, bool extended);

// Serialises enumerations: one walk at a time over the lists it fills.
class CUsbBus {
public:
    explicit CUsbBus(IUsbIo& io) : io_(io) {}

    // Ids of the attached devices in walk order; duplicates kept, hubs not listed. Empty without USB.
    std::vector<std::uint32_t> ListUsbDeviceIds();

private:
    void EnumerateHostController(IUsbIo::Device controller);
    void EnumerateHub(const DevicePath& name, int depth);
    std::optional<DevicePath> QueryName(IUsbIo::Device device, std::uint32_t code,
                                        std::optional<std::uint32_t> port);
    std::optional<PortConnection> QueryConnection(IUsbIo::Device hub, std::uint32_t port);
    // The reply bytes, within what was asked for; none when the call fails.
    std::optional<std::vector<std::uint8_t>> Call(IUsbIo::Device device, std::uint32_t code,
                                                  std::vector<std::uint8_t> request);

    IUsbIo& io_;
    std::mutex lock_;
    std::vector<DevicePath> visited_;
    std::vector<std::uint32_t> ids_;
};

} // namespace Velmora::Usb
