#include "usb/usb_io_win.h"

#include "common/scoped_handle_win.h"

#include <windows.h>

#include <setupapi.h>
#include <winioctl.h>

#include <usbioctl.h>

#include <cstddef>
#include <memory>

namespace Velmora::Usb {
namespace {

// The bus walk builds its requests and reads its replies by number, so that it can be tested away
// from Windows; the system's own definitions hold it to the numbers the drivers use.
static_assert(kIoctlHcdDriverKeyName == IOCTL_GET_HCD_DRIVERKEY_NAME);
static_assert(kIoctlRootHubName == IOCTL_USB_GET_ROOT_HUB_NAME);
static_assert(kIoctlNodeInformation == IOCTL_USB_GET_NODE_INFORMATION);
static_assert(kIoctlHubCapabilitiesEx == IOCTL_USB_GET_HUB_CAPABILITIES_EX);
static_assert(kIoctlHubCapabilities == IOCTL_USB_GET_HUB_CAPABILITIES);
static_assert(kIoctlConnectionInformationEx == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX);
static_assert(kIoctlConnectionInformation == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION);
static_assert(kIoctlConnectionHubName == IOCTL_USB_GET_NODE_CONNECTION_NAME);

static_assert(kNameReplyHeader == offsetof(USB_HCD_DRIVERKEY_NAME, DriverKeyName));
static_assert(kNameReplyHeader == offsetof(USB_ROOT_HUB_NAME, RootHubName));
static_assert(kPortNameReplyHeader == offsetof(USB_NODE_CONNECTION_NAME, NodeName));
static_assert(kNodeInformationSize == sizeof(USB_NODE_INFORMATION));
static_assert(kHubPortCountOffset ==
              offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts));
static_assert(sizeof(USB_HUB_CAPABILITIES_EX) == 4 && sizeof(USB_HUB_CAPABILITIES) == 4);
// The fixed part and room for 30 pipes.
static_assert(kConnectionInformationSize ==
              sizeof(USB_NODE_CONNECTION_INFORMATION_EX) + 30 * sizeof(USB_PIPE_INFO));
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION) == sizeof(USB_NODE_CONNECTION_INFORMATION_EX));
static_assert(kConnectionVendorOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceDescriptor.idVendor));
static_assert(kConnectionProductOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceDescriptor.idProduct));
static_assert(kConnectionSpeedOffset == offsetof(USB_NODE_CONNECTION_INFORMATION_EX, Speed));
static_assert(kConnectionSpeedOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, LowSpeed));
static_assert(kConnectionIsHubOffset == offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceIsHub));
static_assert(kConnectionIsHubOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceIsHub));
static_assert(kConnectionStatusOffset == offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionStatus));
static_assert(kConnectionStatusOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionStatus));

// {3ABF6F2D-71C4-462A-8A92-1E6861E6AF27}
constexpr GUID kHostControllerInterface = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};

struct DeviceInfoSetTraits {
    using Handle = HDEVINFO;
    static Handle Null() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDeviceInfoSet = ScopedGeneric<DeviceInfoSetTraits>;

static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* Wide(const DevicePath& path)
{
    return reinterpret_cast<const wchar_t*>(path.c_str());
}

} // namespace

std::optional<IUsbIo::Device> CSystemUsbIo::Open(const DevicePath& path)
{
    HANDLE device =
        ::CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return std::nullopt;
    return reinterpret_cast<Device>(device);
}

void CSystemUsbIo::Close(Device device)
{
    ::CloseHandle(reinterpret_cast<HANDLE>(device));
}

bool CSystemUsbIo::Control(Device device, std::uint32_t code, std::span<const std::uint8_t> in,
                           std::span<std::uint8_t> out, std::size_t* returned)
{
    DWORD bytes = 0;
    const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(device), code,
                                      const_cast<std::uint8_t*>(in.data()), static_cast<DWORD>(in.size()),
                                      out.data(), static_cast<DWORD>(out.size()), &bytes, nullptr);
    *returned = bytes;
    return ok != FALSE;
}

std::vector<DevicePath> CSystemUsbIo::HostControllerInterfacePaths()
{
    std::vector<DevicePath> paths;
    ScopedDeviceInfoSet set(::SetupDiGetClassDevsW(&kHostControllerInterface, nullptr, nullptr,
                                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set)
        return paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof interfaceData;
        if (!::SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &kHostControllerInterface, index,
                                           &interfaceData))
            break;
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        // The record's size field is that of its fixed part; the path follows it.
        auto storage = std::make_unique<std::uint8_t[]>(size + sizeof(wchar_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!::SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, detail, size, nullptr, nullptr))
            continue;
        paths.emplace_back(reinterpret_cast<const char16_t*>(detail->DevicePath));
    }
    return paths;
}

CUsbBus& SystemBus()
{
    static CSystemUsbIo io;
    static CUsbBus bus(io);
    return bus;
}

} // namespace Velmora::Usb
