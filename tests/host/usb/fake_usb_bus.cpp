#include "fake_usb_bus.h"

#include <algorithm>
#include <cstring>

namespace Velmora::Usb::Testing {
namespace {

void Put32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4 && at + i < out.size(); ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint32_t Get32(std::span<const std::uint8_t> in)
{
    return in.size() < 4 ? 0 : in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// A name reply: [port,] length, UTF-16 name with its NUL, cut to the buffer.
std::size_t NameReply(std::span<std::uint8_t> out, std::size_t header, const std::string& name,
                      std::optional<std::uint32_t> lyingLength)
{
    const std::size_t whole = header + 2 * (name.size() + 1);
    Put32(out, header - 4, lyingLength ? *lyingLength : static_cast<std::uint32_t>(whole));
    const std::size_t text = lyingLength ? whole - 2 : whole;
    for (std::size_t i = header; i < out.size(); ++i)
        out[i] = 'A';
    for (std::size_t i = 0; i <= name.size(); ++i)
        if (header + 2 * i + 1 < out.size() && header + 2 * i < text) {
            out[header + 2 * i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0;
            out[header + 2 * i + 1] = 0;
        }
    return std::min(out.size(), text);
}

} // namespace

std::optional<IUsbIo::Device> FakeUsbBus::Open(const DevicePath& path)
{
    const std::string ascii(path.begin(), path.end());
    opened.push_back(ascii);
    Target target;
    if (controllers.count(ascii)) {
        target = {true, ascii};
    } else if (ascii.rfind("\\\\.\\", 0) == 0 && hubs.count(ascii.substr(4))) {
        target = {false, ascii.substr(4)};
    } else {
        return std::nullopt;
    }
    handles_[next_] = target;
    ++openHandles;
    return next_++;
}

void FakeUsbBus::Close(Device device)
{
    if (handles_.erase(device))
        --openHandles;
}

bool FakeUsbBus::Control(Device device, std::uint32_t code, std::span<const std::uint8_t> in,
                         std::span<std::uint8_t> out, std::size_t* returned)
{
    const auto handle = handles_.find(device);
    if (handle == handles_.end())
        return false;
    std::fill(out.begin(), out.end(), 0);
    if (handle->second.controller) {
        const FakeController& c = controllers.at(handle->second.key);
        if (code != kIoctlHcdDriverKeyName && code != kIoctlRootHubName)
            return false;
        *returned = NameReply(out, kNameReplyHeader, code == kIoctlHcdDriverKeyName ? c.driverKey : c.rootHub,
                              c.lyingNameLength);
        return true;
    }
    const FakeHub& hub = hubs.at(handle->second.key);
    const std::uint32_t port = Get32(in);
    const FakePort* p = port >= 1 && port <= hub.ports.size() ? &hub.ports[port - 1] : nullptr;
    switch (code) {
    case kIoctlHubCapabilities:
    case kIoctlHubCapabilitiesEx:
        *returned = out.size();
        return true;
    case kIoctlNodeInformation:
        if (out.size() > kHubPortCountOffset)
            out[kHubPortCountOffset] =
                static_cast<std::uint8_t>(hub.claimedPorts ? *hub.claimedPorts : hub.ports.size());
        *returned = std::min(out.size(), hub.nodeReplyBytes ? *hub.nodeReplyBytes : kNodeInformationSize);
        return true;
    case kIoctlConnectionInformationEx:
    case kIoctlConnectionInformation: {
        const bool extended = code == kIoctlConnectionInformationEx;
        if (!p || p->bothFail || (extended && p->extendedFails) || out.size() < kConnectionInformationSize)
            return false;
        Put32(out, 0, port);
        Put16(out, kConnectionVendorOffset, p->vendor);
        Put16(out, kConnectionProductOffset, p->product);
        out[kConnectionSpeedOffset] = extended ? 2 : 0; // high speed; older: not low speed
        out[kConnectionIsHubOffset] = p->hub.empty() ? 0 : 1;
        Put32(out, kConnectionStatusOffset, p->status);
        *returned = std::min(out.size(), p->replyBytes ? *p->replyBytes : kConnectionInformationSize);
        return true;
    }
    case kIoctlConnectionHubName:
        if (!p || p->hub.empty())
            return false;
        Put32(out, 0, port);
        *returned = NameReply(out, kPortNameReplyHeader, p->hub, std::nullopt);
        return true;
    default:
        return false;
    }
}

std::vector<DevicePath> FakeUsbBus::HostControllerInterfacePaths()
{
    std::vector<DevicePath> out;
    for (const std::string& path : interfacePaths)
        out.push_back(U16(path));
    return out;
}

} // namespace Velmora::Usb::Testing
