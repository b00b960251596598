#pragma once
// The USB bus walk's I/O on the running system, and the process's one bus.

#include "usb/usb_bus_walk.h"
#include "usb/usb_io.h"

namespace Velmora::Usb {

class CSystemUsbIo : public IUsbIo {
public:
    std::optional<Device> Open(const DevicePath& path) override;
    void Close(Device device) override;
    bool Control(Device device, std::uint32_t code, std::span<const std::uint8_t> in,
                 std::span<std::uint8_t> out, std::size_t* returned) override;
    std::vector<DevicePath> HostControllerInterfacePaths() override;
};

// The bus of this machine: presence tests of the whole process share its one lock.
CUsbBus& SystemBus();

} // namespace Velmora::Usb
