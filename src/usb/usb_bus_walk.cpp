#include "usb/usb_bus_walk.h"

#include <algorithm>

namespace Velmora::Usb {
namespace {

constexpr int kNumberedControllers = 10; // \\.\HCD0 to \\.\HCD9

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

void WriteU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

DevicePath Ascii(const char* text)
{
    DevicePath out;
    while (*text)
        out.push_back(static_cast<char16_t>(*text++));
    return out;
}

// Closes what the walk opened on every path.
class OpenDevice {
public:
    OpenDevice(IUsbIo& io, const DevicePath& path) : io_(io), device_(io.Open(path)) {}
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;
    ~OpenDevice()
    {
        if (device_)
            io_.Close(*device_);
    }
    explicit operator bool() const { return device_.has_value(); }
    IUsbIo::Device Get() const { return *device_; }

private:
    IUsbIo& io_;
    std::optional<IUsbIo::Device> device_;
};

} // namespace

std::optional<DevicePath> NameInReply(std::span<const std::uint8_t> reply, std::size_t header)
{
    DevicePath name;
    for (std::size_t at = header; at + 1 < reply.size(); at += 2) {
        const char16_t unit = static_cast<char16_t>(ReadU16(reply, at));
        if (unit == 0)
            break;
        name.push_back(unit);
    }
    if (name.empty())
        return std::nullopt;
    return name;
}

std::optional<PortConnection> ParseConnection(std::span<const std::uint8_t> reply, bool extended)
{
    if (reply.size() < kConnectionStatusOffset + 4)
        return std::nullopt;
    PortConnection out;
    out.vendor = ReadU16(reply, kConnectionVendorOffset);
    out.product = ReadU16(reply, kConnectionProductOffset);
    const std::uint8_t speed = reply[kConnectionSpeedOffset];
    out.speed = extended ? speed : (speed == 0 ? 1 : 0);
    out.isHub = reply[kConnectionIsHubOffset] != 0;
    out.status = ReadU32(reply, kConnectionStatusOffset);
    return out;
}

std::vector<std::uint32_t> CUsbBus::ListUsbDeviceIds()
{
    std::lock_guard<std::mutex> guard(lock_);
    visited_.clear();
    ids_.clear();
    for (int n = 0; n < kNumberedControllers; ++n) {
        DevicePath path = Ascii("\\\\.\\HCD");
        path.push_back(static_cast<char16_t>(u'0' + n));
        OpenDevice controller(io_, path);
        if (controller)
            EnumerateHostController(controller.Get());
    }
    for (const DevicePath& path : io_.HostControllerInterfacePaths()) {
        OpenDevice controller(io_, path);
        if (controller)
            EnumerateHostController(controller.Get());
    }
    return ids_;
}

void CUsbBus::EnumerateHostController(IUsbIo::Device controller)
{
    const std::optional<DevicePath> driverKey = QueryName(controller, kIoctlHcdDriverKeyName, std::nullopt);
    // A controller found both by number and as an interface is walked once.
    if (!driverKey || std::find(visited_.begin(), visited_.end(), *driverKey) != visited_.end())
        return;
    visited_.push_back(*driverKey);
    if (const std::optional<DevicePath> rootHub = QueryName(controller, kIoctlRootHubName, std::nullopt))
        EnumerateHub(*rootHub, 0);
}

void CUsbBus::EnumerateHub(const DevicePath& name, int depth)
{
    if (depth > kMaxHubDepth)
        return;
    OpenDevice hub(io_, Ascii("\\\\.\\") + name);
    if (!hub)
        return;
    // Asked as the hub driver expects; their answers are not needed.
    Call(hub.Get(), kIoctlHubCapabilitiesEx, std::vector<std::uint8_t>(4));
    Call(hub.Get(), kIoctlHubCapabilities, std::vector<std::uint8_t>(4));
    const auto node = Call(hub.Get(), kIoctlNodeInformation, std::vector<std::uint8_t>(kNodeInformationSize));
    if (!node || node->size() <= kHubPortCountOffset)
        return;
    const unsigned ports = (*node)[kHubPortCountOffset];
    for (std::uint32_t port = 1; port <= ports; ++port) {
        const std::optional<PortConnection> connection = QueryConnection(hub.Get(), port);
        if (!connection)
            continue;
        if (connection->isHub) {
            if (const std::optional<DevicePath> child = QueryName(hub.Get(), kIoctlConnectionHubName, port))
                EnumerateHub(*child, depth + 1);
        } else if (connection->status != 0) {
            // Every state but "nothing connected" counts, a failed enumeration (id 0) included.
            ids_.push_back(DeviceIdOf(connection->vendor, connection->product));
        }
    }
}

std::optional<DevicePath> CUsbBus::QueryName(IUsbIo::Device device, std::uint32_t code,
                                             std::optional<std::uint32_t> port)
{
    const std::size_t header = port ? kPortNameReplyHeader : kNameReplyHeader;
    const std::size_t lengthOffset = header - 4;
    // First only the length, with room for one character; then the whole name when it is longer.
    std::vector<std::uint8_t> request(header + 2);
    if (port)
        WriteU32(request, 0, *port);
    std::optional<std::vector<std::uint8_t>> reply = Call(device, code, request);
    if (!reply || reply->size() < header)
        return std::nullopt;
    const std::size_t reported = ReadU32(*reply, lengthOffset);
    if (reported > request.size()) {
        if (reported > kMaxNameReply)
            return std::nullopt;
        request.resize(reported);
        reply = Call(device, code, request);
        if (!reply)
            return std::nullopt;
    }
    return NameInReply(*reply, header);
}

std::optional<PortConnection> CUsbBus::QueryConnection(IUsbIo::Device hub, std::uint32_t port)
{
    std::vector<std::uint8_t> request(kConnectionInformationSize);
    WriteU32(request, 0, port);
    if (const auto reply = Call(hub, kIoctlConnectionInformationEx, request))
        if (const std::optional<PortConnection> connection = ParseConnection(*reply, true))
            return connection;
    if (const auto reply = Call(hub, kIoctlConnectionInformation, request))
        return ParseConnection(*reply, false);
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> CUsbBus::Call(IUsbIo::Device device, std::uint32_t code,
                                                       std::vector<std::uint8_t> request)
{
    std::vector<std::uint8_t> reply(request.size());
    std::size_t returned = 0;
    if (!io_.Control(device, code, request, reply, &returned))
        return std::nullopt;
    // A driver may claim more than the buffer holds: only what was received is read.
    reply.resize(std::min(returned, reply.size()));
    return reply;
}

} // namespace Velmora::Usb
