// The device watcher's window under Wine: found by class and title, top-level and hidden, every
// WM_DEVICECHANGE sent to it reaching each registered callback once, in registration order, and
// deferred work running once after a burst of them.

#include "usb/device_watcher_win.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <utility>
#include <vector>

namespace Velmora::Usb {
namespace {

TEST(DeviceWatcher, ForwardsEveryDeviceChangeToEachCallbackInOrder)
{
    std::vector<std::pair<char, std::pair<WPARAM, LPARAM>>> calls;
    ASSERT_TRUE(WatchDeviceChanges([&](WPARAM e, LPARAM d) { return calls.push_back({'a', {e, d}}), 0; }));
    ASSERT_TRUE(WatchDeviceChanges([&](WPARAM e, LPARAM d) { return calls.push_back({'b', {e, d}}), 0; }));

    HWND window = ::FindWindowW(kWatcherClassName, kWatcherTitle);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(DeviceWatcherWindow(), window) << "one watcher for both registrations";
    EXPECT_EQ(::GetDesktopWindow(), ::GetAncestor(window, GA_PARENT)) << "top-level, not message-only";
    EXPECT_FALSE(::IsWindowVisible(window));

    // Arrival, removal, node change and a code nobody expects: none is filtered.
    const std::pair<WPARAM, LPARAM> events[] = {{DBT_DEVICEARRIVAL, 0x1234},
                                                {DBT_DEVICEREMOVECOMPLETE, 0x5678},
                                                {DBT_DEVNODES_CHANGED, 0},
                                                {0x4242, 7}};
    std::vector<std::pair<char, std::pair<WPARAM, LPARAM>>> expected;
    for (const auto& event : events) {
        ::SendMessageW(window, WM_DEVICECHANGE, event.first, event.second);
        expected.push_back({'a', event});
        expected.push_back({'b', event});
    }
    EXPECT_EQ(expected, calls);

    ::SendMessageW(window, WM_USER, 1, 2);
    EXPECT_EQ(expected.size(), calls.size()) << "other messages reach no callback";

    CloseDeviceWatcher();
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(nullptr, ::FindWindowW(kWatcherClassName, kWatcherTitle));
    EXPECT_EQ(nullptr, DeviceWatcherWindow());

    // A new watcher after the old one ended knows only its own callback.
    calls.clear();
    ASSERT_TRUE(WatchDeviceChanges([&](WPARAM e, LPARAM d) { return calls.push_back({'c', {e, d}}), 0; }));
    ::SendMessageW(DeviceWatcherWindow(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 1);
    EXPECT_EQ((std::vector<std::pair<char, std::pair<WPARAM, LPARAM>>>{{'c', {DBT_DEVICEARRIVAL, 1}}}),
              calls);
    CloseDeviceWatcher();
}

void HandlePostedMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&message);
}

// Deferred work (the page's key probe, which walks the bus) runs after the device-change message
// has been answered, and once for a burst of changes; a later change runs it again.
TEST(DeviceWatcher, DeferredWorkRunsOnceAfterEachBurstOfChanges)
{
    int changes = 0, runs = 0;
    ASSERT_TRUE(WatchDeviceChanges([&](WPARAM, LPARAM) { return ++changes, 0; }));
    ASSERT_TRUE(WatchDeviceChangesDeferred([&] { ++runs; }));
    HWND window = DeviceWatcherWindow();
    ASSERT_NE(nullptr, window);
    HandlePostedMessages();

    for (const WPARAM event : {DBT_DEVICEARRIVAL, DBT_DEVNODES_CHANGED, DBT_DEVICEARRIVAL})
        ::SendMessageW(window, WM_DEVICECHANGE, event, 0);
    EXPECT_EQ(3, changes);
    EXPECT_EQ(0, runs) << "not inside the device-change message";
    HandlePostedMessages();
    EXPECT_EQ(1, runs);
    HandlePostedMessages();
    EXPECT_EQ(1, runs);

    ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
    HandlePostedMessages();
    EXPECT_EQ(2, runs);
    ::SendMessageW(window, WM_USER, 0, 0);
    HandlePostedMessages();
    EXPECT_EQ(2, runs) << "other messages run nothing";

    // A change left pending when the watcher ends runs nothing afterwards.
    ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    CloseDeviceWatcher();
    HandlePostedMessages();
    EXPECT_EQ(2, runs);
}

TEST(DeviceWatcher, WithoutItsWindowClassThereIsNoWatcher)
{
    // Another window class of that name in this program takes the watcher's place.
    WNDCLASSEXW other = {};
    other.cbSize = sizeof other;
    other.lpfnWndProc = ::DefWindowProcW;
    other.hInstance = ::GetModuleHandleW(nullptr);
    other.lpszClassName = kWatcherClassName;
    ASSERT_NE(0, ::RegisterClassExW(&other));
    EXPECT_FALSE(WatchDeviceChanges([](WPARAM, LPARAM) { return 0; }));
    EXPECT_EQ(nullptr, DeviceWatcherWindow());
    ::UnregisterClassW(kWatcherClassName, ::GetModuleHandleW(nullptr));
    EXPECT_TRUE(WatchDeviceChanges([](WPARAM, LPARAM) { return 0; })) << "a later call tries again";
    CloseDeviceWatcher();
}

} // namespace
} // namespace Velmora::Usb
