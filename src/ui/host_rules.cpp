#include "ui/host_rules.h"

#include "common/hex_digit.h"

#include <algorithm>
#include <vector>

namespace Velmora::UI {
namespace {

wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

std::wstring_view WithoutTrailingSlash(std::wstring_view s)
{
    if (!s.empty() && s.back() == L'/')
        s.remove_suffix(1);
    return s;
}

bool IsLetter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

constexpr unsigned kVkEscape = 0x1B, kVkF1 = 0x70, kVkF5 = 0x74, kVkLeft = 0x25, kVkRight = 0x27;

} // namespace

std::wstring NormalizeUrl(std::wstring_view url)
{
    if (const size_t hash = url.find(L'#'); hash != std::wstring_view::npos)
        url = url.substr(0, hash);
    std::wstring out;
    const bool drivePath = url.size() >= 2 && IsLetter(url[0]) && url[1] == L':';
    const bool uncPath = url.size() >= 2 && url[0] == L'\\' && url[1] == L'\\';
    if (drivePath) {
        out = L"file:///";
        out.append(url);
    } else if (uncPath) {
        out = L"file:";
        out.append(url);
    } else {
        out.assign(url);
    }
    if (drivePath || uncPath)
        std::replace(out.begin(), out.end(), L'\\', L'/');
    std::transform(out.begin(), out.end(), out.begin(), Upper);
    return out;
}

bool SameUrl(std::wstring_view a, std::wstring_view b)
{
    const std::wstring na = NormalizeUrl(a), nb = NormalizeUrl(b);
    return WithoutTrailingSlash(na) == WithoutTrailingSlash(nb);
}

std::wstring OwnResourcePrefix(std::wstring_view modulePath)
{
    std::wstring prefix = L"res://";
    prefix.append(modulePath);
    prefix.push_back(L'/');
    return prefix;
}

namespace {

// The browser may report the module path escaped ("%20") and with either slash: compare a form with
// escapes decoded once, one kind of slash and folded case.
std::wstring Comparable(std::wstring_view text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            c = static_cast<wchar_t>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        }
        out.push_back(c == L'\\' ? L'/' : Upper(c));
    }
    return out;
}

// Resolves "." and ".." segments after the scheme's "//", the way a path is resolved before a file
// is opened, so that "exe/../../other.dll/200" is compared as the other module it names.
std::wstring WithoutDotSegments(std::wstring_view url)
{
    const size_t authority = url.find(L"//");
    if (authority == std::wstring_view::npos)
        return std::wstring(url);
    std::wstring out(url.substr(0, authority + 2));
    std::vector<size_t> segmentStarts;
    size_t pos = authority + 2;
    while (pos <= url.size()) {
        size_t end = url.find(L'/', pos);
        if (end == std::wstring_view::npos)
            end = url.size();
        const std::wstring_view segment = url.substr(pos, end - pos);
        const bool last = end == url.size();
        if (segment == L".") {
            // dropped
        } else if (segment == L"..") {
            if (!segmentStarts.empty()) {
                out.resize(segmentStarts.back());
                segmentStarts.pop_back();
            }
        } else {
            segmentStarts.push_back(out.size());
            out.append(segment);
            if (!last)
                out.push_back(L'/');
        }
        pos = end + 1;
    }
    return out;
}

} // namespace

bool IsOwnPage(std::wstring_view url, std::wstring_view ownPrefix)
{
    if (ownPrefix.empty())
        return false;
    const std::wstring u = WithoutDotSegments(Comparable(url)), p = Comparable(ownPrefix);
    return u.compare(0, p.size(), p) == 0 && u.size() > p.size();
}

Navigation DecideNavigation(std::wstring_view target, std::wstring_view current, std::wstring_view ownPrefix,
                            bool mainFrame)
{
    if (!current.empty() && SameUrl(target, current))
        return Navigation::Cancel;
    // about:blank is where the control starts before the page's first load, and an empty frame.
    std::wstring upper(target);
    std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
    if (IsOwnPage(target, ownPrefix) || upper == L"ABOUT:BLANK")
        return Navigation::Allow;
    // A frame inside the program's page would share the page's script object, so it shows nothing
    // but the program's own resources.
    if (!mainFrame)
        return Navigation::Cancel;
    // Script-only pseudo URLs never leave the page.
    if (upper.rfind(L"JAVASCRIPT:", 0) == 0)
        return Navigation::Cancel;
    return Navigation::OpenInIe;
}

std::wstring BrowserCommandLine(std::wstring_view browserPath, std::wstring_view url)
{
    std::wstring line = L"\"";
    line.append(browserPath);
    line.append(L"\" \"");
    for (wchar_t c : url)
        if (c != L'"')
            line.push_back(c);
    line.push_back(L'"');
    return line;
}

bool SwallowKey(unsigned vk, bool ctrl, bool alt)
{
    if (vk == kVkEscape || vk == kVkF1 || vk == kVkF5)
        return true;
    if (alt && (vk == kVkLeft || vk == kVkRight))
        return true;
    if (ctrl && !alt) {
        switch (vk) {
        case 'D':
        case 'L':
        case 'N':
        case 'O':
        case 'P':
        case 'S':
            return true;
        default:
            break;
        }
    }
    return false;
}

bool ShowBrowserMenu(std::uint32_t menuKind)
{
    return menuKind == 4;
}

std::uint32_t DialogStyle(bool framed, int autoSize)
{
    std::uint32_t style = framed ? 0x90CA0080u : 0x900A0000u;
    if (autoSize == 0)
        style |= 0x50000u;
    return style;
}

ElementEvent DecideElementEvent(bool click, const std::vector<std::wstring>& ids)
{
    struct Binding {
        const wchar_t* id;
        bool click;
        ElementAction action;
    };
    static const Binding kBindings[] = {
        {L"ui_title", false, ElementAction::MoveWindow},  {L"ui_title1", false, ElementAction::MoveWindow},
        {L"ui_title2", false, ElementAction::MoveWindow}, {L"ui_close", true, ElementAction::Close},
        {L"ui_quit", true, ElementAction::Quit},          {L"ui_maximize", true, ElementAction::Maximize},
        {L"ui_restore", true, ElementAction::Restore},    {L"ui_minimize", true, ElementAction::Minimize},
        {L"ui_minimize1", true, ElementAction::Minimize}, {L"ui_menu", true, ElementAction::Menu},
    };
    if (ids.empty())
        return {};
    const std::wstring& source = ids.front();
    for (const std::wstring& id : ids) {
        for (const Binding& b : kBindings) {
            if (b.click != click || id != b.id)
                continue;
            ElementEvent out{b.action, id};
            if (b.action == ElementAction::MoveWindow) {
                // ui_title1 moves only from itself; the others also from children without an id.
                const bool strict = id == L"ui_title1";
                if (strict ? source != id : !(source.empty() || source == id))
                    return {};
            }
            return out;
        }
    }
    return {};
}

} // namespace Velmora::UI
