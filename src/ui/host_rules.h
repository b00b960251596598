#pragma once
// The dialog host's decisions, kept apart from the browser so they can be checked on their own:
// URL normalisation and navigation, swallowed keys, context menus, window styles and the actions of
// the page's window-chrome elements.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::UI {

// Fragment cut off, local paths turned into file URLs, upper-cased (ASCII letters).
std::wstring NormalizeUrl(std::wstring_view url);
// Equal after normalisation, ignoring one trailing slash on either side.
bool SameUrl(std::wstring_view a, std::wstring_view b);
// The program's own pages: "res://<module path>/..." for this executable.
std::wstring OwnResourcePrefix(std::wstring_view modulePath);
bool IsOwnPage(std::wstring_view url, std::wstring_view ownPrefix);

enum class Navigation { Allow, Cancel, OpenInIe };
// A main-frame navigation away from the program's own pages leaves the program for Internet
// Explorer; a frame inside the page loads only the program's own pages or about:blank; any
// navigation to the current page again (a link to "#" included) is cancelled. "Own" is decided
// after escapes and dot segments are resolved, so no spelling of a path reaches another module.
Navigation DecideNavigation(std::wstring_view target, std::wstring_view current, std::wstring_view ownPrefix,
                            bool mainFrame);

// Command line that opens `url` in the browser at `browserPath`. Quotes inside the URL are dropped so
// that the page cannot add arguments of its own.
std::wstring BrowserCommandLine(std::wstring_view browserPath, std::wstring_view url);

// Keys the page never gets: Escape, F1, F5, Alt+Left/Right, Ctrl+D/L/N/O/P/S.
bool SwallowKey(unsigned virtualKey, bool ctrl, bool alt);
// The browser's own menu only over selected text (menu kind 4).
bool ShowBrowserMenu(std::uint32_t menuKind);

// Dialog template styles from the creation record.
std::uint32_t DialogStyle(bool framed, int autoSize);
inline constexpr std::uint32_t kDialogExStyle = 0x40000; // application window

enum class ElementAction {
    None,
    MoveWindow,
    Close, // does nothing: the window is closed through quit only
    Quit,
    Maximize,
    Restore,
    Minimize,
    Menu,
};

struct ElementEvent {
    ElementAction action = ElementAction::None;
    std::wstring elementId; // the chrome element that caught the event (for ui_notify)
};

// What a mouse-down or click does. `ids` are the ids from the event's source element up to the root
// ("" for elements without one).
ElementEvent DecideElementEvent(bool click, const std::vector<std::wstring>& ids);

} // namespace Velmora::UI
