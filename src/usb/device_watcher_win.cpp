#include "usb/device_watcher_win.h"

#include "common/scoped_handle_win.h"

#include <dbt.h>

#include <memory>
#include <vector>

namespace Velmora::Usb {
namespace {

// {25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}
constexpr GUID kWatchedInterfaceClass = {
    0x25DBCE51, 0x6C8F, 0x4A72, {0x8A, 0x6D, 0xB5, 0x4C, 0x2B, 0x4F, 0xC8, 0x35}};
constexpr UINT kDeviceChange = 0x219;
constexpr UINT kRunDeferred = WM_APP + 0x219; // posted to the watcher's own window
constexpr DWORD kFilterAllow = 1;             // MSGFLT_ALLOW and MSGFLT_ADD

struct WindowTraits {
    using Handle = HWND;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DestroyWindow(h); }
};

struct DeviceNotifyTraits {
    using Handle = HDEVNOTIFY;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::UnregisterDeviceNotification(h); }
};

struct WindowClassTraits {
    using Handle = ATOM;
    static Handle Null() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) { ::UnregisterClassW(MAKEINTATOM(h), ::GetModuleHandleW(nullptr)); }
};

using ScopedWindow = ScopedGeneric<WindowTraits>;
using ScopedDeviceNotify = ScopedGeneric<DeviceNotifyTraits>;
using ScopedWindowClass = ScopedGeneric<WindowClassTraits>;

class CDeviceWatcher {
public:
    bool Create();
    HWND Window() const { return window_.Get(); }
    void Add(DeviceChangeCallback callback) { callbacks_.push_back(std::move(callback)); }
    void AddDeferred(std::function<void()> callback) { deferred_.push_back(std::move(callback)); }
    void Forward(WPARAM event, LPARAM data)
    {
        // A copy, so that a callback may register another one meanwhile.
        const std::vector<DeviceChangeCallback> callbacks = callbacks_;
        for (const DeviceChangeCallback& callback : callbacks)
            callback(event, data);
        // One run after the message, however many changes arrive before it.
        if (!deferred_.empty() && !deferredPosted_)
            deferredPosted_ = ::PostMessageW(window_.Get(), kRunDeferred, 0, 0) != FALSE;
    }
    void RunDeferred()
    {
        deferredPosted_ = false;
        const std::vector<std::function<void()>> deferred = deferred_;
        for (const std::function<void()>& callback : deferred)
            callback();
    }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Members end in reverse order: the registration first, then the window, then its class.
    ScopedWindowClass class_;
    ScopedWindow window_;
    ScopedDeviceNotify notification_;
    std::vector<DeviceChangeCallback> callbacks_;
    std::vector<std::function<void()>> deferred_;
    bool deferredPosted_ = false;
};

std::unique_ptr<CDeviceWatcher>& Watcher()
{
    static std::unique_ptr<CDeviceWatcher> watcher;
    return watcher;
}

// Lets the broadcast through the privilege isolation filter, with whichever call this system has.
void AllowDeviceChangeMessage(HWND window)
{
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr)
        return;
    using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    using Filter = BOOL(WINAPI*)(UINT, DWORD);
    if (auto filterEx = reinterpret_cast<FilterEx>(
            reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))) {
        filterEx(window, kDeviceChange, kFilterAllow, nullptr);
    } else if (auto filter = reinterpret_cast<Filter>(
                   reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilter")))) {
        filter(kDeviceChange, kFilterAllow);
    }
}

bool CDeviceWatcher::Create()
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWatcherClassName;
    class_.Reset(::RegisterClassExW(&windowClass));
    if (!class_)
        return false;
    // Top-level rather than message-only: broadcasts reach only top-level windows.
    window_.Reset(::CreateWindowExW(0, kWatcherClassName, kWatcherTitle, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr));
    if (!window_)
        return false;
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    static_assert(sizeof filter == 32);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kWatchedInterfaceClass;
    // Without it the window still gets the broadcasts every top-level window gets.
    notification_.Reset(::RegisterDeviceNotificationW(window_.Get(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    AllowDeviceChangeMessage(window_.Get());
    return true;
}

LRESULT CALLBACK CDeviceWatcher::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Every event code is forwarded: arrivals, removals, node changes and any other.
    if (message == kDeviceChange && Watcher())
        Watcher()->Forward(wParam, lParam);
    if (message == kRunDeferred) {
        if (Watcher())
            Watcher()->RunDeferred();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

CDeviceWatcher* TheWatcher()
{
    std::unique_ptr<CDeviceWatcher>& watcher = Watcher();
    if (!watcher) {
        auto created = std::make_unique<CDeviceWatcher>();
        if (!created->Create())
            return nullptr;
        watcher = std::move(created);
    }
    return watcher.get();
}

} // namespace

bool WatchDeviceChanges(DeviceChangeCallback callback)
{
    CDeviceWatcher* watcher = TheWatcher();
    if (!watcher)
        return false;
    watcher->Add(std::move(callback));
    return true;
}

bool WatchDeviceChangesDeferred(std::function<void()> afterChanges)
{
    CDeviceWatcher* watcher = TheWatcher();
    if (!watcher)
        return false;
    watcher->AddDeferred(std::move(afterChanges));
    return true;
}

void CloseDeviceWatcher()
{
    Watcher().reset();
}

HWND DeviceWatcherWindow()
{
    return Watcher() ? Watcher()->Window() : nullptr;
}

} // namespace Velmora::Usb
