#pragma once
// The device watcher: a hidden top-level window that receives the system's device-change broadcasts
// and hands every one of them to the registered callbacks, in registration order; work that may take
// long (a walk of the USB bus) registers as deferred instead and runs once per burst of changes. The
// watcher belongs to the thread that first registers (the UI thread); callbacks run there, inside
// its message loop.

#include <windows.h>

#include <functional>

namespace Velmora::Usb {

inline constexpr wchar_t kWatcherClassName[] = L"Message";
inline constexpr wchar_t kWatcherTitle[] = L"VelmoraUSBWatcher";

// (event code, event data) of one WM_DEVICECHANGE; the result is not used.
using DeviceChangeCallback = std::function<int(WPARAM event, LPARAM data)>;

// Creates the watcher on first use, then appends `callback`. False when the watcher's window cannot
// be made: then nothing is ever reported (a later call tries again).
bool WatchDeviceChanges(DeviceChangeCallback callback);

// Creates the watcher on first use, then appends `afterChanges`, run once after device changes: the
// first change posts the watcher a message, and `afterChanges` runs when that message is handled,
// after the broadcast has been answered. Changes that arrive before then are covered by that run.
// False when the watcher's window cannot be made.
bool WatchDeviceChangesDeferred(std::function<void()> afterChanges);

// Ends the watcher (notification registration, window, class) and forgets its callbacks. Runs by
// itself at process exit when nobody called it before.
void CloseDeviceWatcher();

// The watcher's window; none while there is no watcher.
HWND DeviceWatcherWindow();

} // namespace Velmora::Usb
