#pragma once
// What the USB bus walk needs from the system: open a device by path, make one control-code call on
// it, and list the device paths of the host-controller interface class. The Win32 adapter does this
// with CreateFileW, DeviceIoControl and SetupAPI; tests give a model of a bus.
//
// Device paths and names are UTF-16 as the system reports them: they only ever go back to the
// system (or are compared), so they are kept unconverted.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Velmora::Usb {

using DevicePath = std::u16string;

class IUsbIo {
public:
    using Device = std::uintptr_t;

    virtual ~IUsbIo() = default;

    // Opened for control calls (write access, shared write, existing only); none when it cannot be.
    virtual std::optional<Device> Open(const DevicePath& path) = 0;
    virtual void Close(Device device) = 0;
    // One control-code call. `returned` gets the number of reply bytes the driver reports.
    virtual bool Control(Device device, std::uint32_t code, std::span<const std::uint8_t> in,
                         std::span<std::uint8_t> out, std::size_t* returned) = 0;
    // Paths of the present interfaces of the USB host-controller class.
    virtual std::vector<DevicePath> HostControllerInterfacePaths() = 0;
};

} // namespace Velmora::Usb
