#pragma once
// The key commands of the page: is_key_connect, Get_SM_info and update_key_info.

#include "ui/ibs_dialog_win.h"
#include "usb/key_certificate_win.h"
#include "usb/usb_io_win.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Velmora::Usb {

// True when the walk of `bus` lists `keyId`; each call walks the bus again.
bool IsUsbDevicePresent(std::uint32_t keyId, CUsbBus& bus = SystemBus());

// Reads the certificates through `provider` (after one second for key type 1, which needs it to
// settle) and sets the page's four key fields: setKeyInfo(type, "sn"|"issuer"|"subject"|"date",
// value), then is_can_Open_update() when a complete record was read; otherwise the four fields empty.
void PublishKeyCertificate(UI::IBSDialog* dialog, unsigned keyType, const std::wstring& provider,
                           ICsp& csp = SystemCsp());

using KeyRequest =
    std::function<void(UI::IBSDialog* dialog, int id, const VARIANT& a1, const VARIANT& a2, VARIANT* result)>;

// Serves the three key commands (by command id) over `bus` and `csp`, on whatever thread they
// arrive: presence tests are serialised by the bus, certificate reading shares nothing.
KeyRequest KeyRequestHandler(CUsbBus& bus, ICsp& csp);

} // namespace Velmora::Usb
