#include "ui/host_rules.h"
#include "ui/progress_filter.h"

#include <gtest/gtest.h>

using namespace Velmora::UI;

namespace {

const std::wstring kOwn = OwnResourcePrefix(L"C:\\Program Files\\Velmora\\VelmoraAssistant.exe");

TEST(NavigationTest, NormalisationCutsFragmentsFoldsCaseAndTurnsPathsIntoFileUrls)
{
    EXPECT_EQ(L"RES://C:\\APP.EXE/200", NormalizeUrl(L"res://C:\\app.exe/200#top"));
    EXPECT_EQ(L"FILE:///C:/PAGES/A.HTML", NormalizeUrl(L"c:\\pages\\a.html"));
    EXPECT_EQ(L"FILE://SERVER/SHARE/A.HTML", NormalizeUrl(L"\\\\server\\share\\a.html"));
    EXPECT_TRUE(SameUrl(L"https://bank.example/", L"HTTPS://BANK.EXAMPLE"));
    EXPECT_TRUE(SameUrl(L"c:\\x\\a.html", L"file:///C:/x/a.html#frag"));
    EXPECT_FALSE(SameUrl(L"https://bank.example/a", L"https://bank.example/b"));
}

TEST(NavigationTest, DecisionsForOwnPagesForeignPagesAndFrames)
{
    const std::wstring page = kOwn + L"200";
    // A link to the page's own URL with a fragment does not reload it.
    EXPECT_EQ(Navigation::Cancel, DecideNavigation(page + L"#", page, kOwn, true));
    EXPECT_EQ(Navigation::Cancel, DecideNavigation(page + L"/", NormalizeUrl(page), kOwn, true));
    EXPECT_EQ(Navigation::Allow, DecideNavigation(page, L"", kOwn, true));
    EXPECT_EQ(Navigation::Allow, DecideNavigation(L"about:blank", L"", kOwn, true));
    EXPECT_EQ(Navigation::Allow,
              DecideNavigation(L"RES://c:\\program files\\velmora\\velmoraassistant.exe/help.htm", page, kOwn,
                               true));
    // Anything else in the main frame leaves for Internet Explorer, look-alike prefixes included.
    EXPECT_EQ(Navigation::OpenInIe, DecideNavigation(L"https://evil.example/", page, kOwn, true));
    EXPECT_EQ(Navigation::OpenInIe,
              DecideNavigation(L"res://C:\\Program Files\\Velmora\\VelmoraAssistant.exe.evil/200", page, kOwn,
                               true));
    EXPECT_EQ(Navigation::OpenInIe, DecideNavigation(L"res://C:\\other.exe/200", page, kOwn, true));
    EXPECT_EQ(Navigation::Cancel, DecideNavigation(L"javascript:void(0)", page, kOwn, true));
    // A frame inside the page shares its script object: only the program's own resources load there.
    EXPECT_EQ(Navigation::Allow, DecideNavigation(kOwn + L"NOTICE.HTM", page, kOwn, false));
    EXPECT_EQ(Navigation::Allow, DecideNavigation(L"about:blank", page, kOwn, false));
    for (const wchar_t* foreign :
         {L"https://bank.example/notice", L"about:<script>x()</script>", L"javascript:external.callc('quit')",
          L"data:text/html,<b>x</b>", L"res://C:\\other.exe/200"})
        EXPECT_EQ(Navigation::Cancel, DecideNavigation(foreign, page, kOwn, false)) << foreign;
    EXPECT_EQ(Navigation::OpenInIe, DecideNavigation(L"data:text/html,<b>x</b>", page, kOwn, true));
    EXPECT_EQ(Navigation::OpenInIe, DecideNavigation(L"about:<script>x()</script>", page, kOwn, true));
    EXPECT_FALSE(IsOwnPage(L"https://bank.example/", L""));
    // The browser's own spelling of the module path: escaped blanks, forward slashes.
    EXPECT_TRUE(IsOwnPage(L"res://c:/Program%20Files/Velmora/VelmoraAssistant.exe/200", kOwn));
    EXPECT_FALSE(IsOwnPage(kOwn, kOwn));
}

TEST(NavigationTest, DotSegmentsAndEscapesNeverReachAnotherModule)
{
    // Each names a module other than the program, by climbing out of its path.
    for (const wchar_t* other : {
             L"res://C:\\Program Files\\Velmora\\VelmoraAssistant.exe\\..\\..\\x.dll/200",
             L"res://C:/Program Files/Velmora/VelmoraAssistant.exe/../../x.dll/200",
             L"res://C:/Program%20Files/Velmora/VelmoraAssistant.exe/%2e%2e/%2E%2E/x.dll/200",
             L"res://C:/Program Files/Velmora/VelmoraAssistant.exe%2f..%2f..%2fx.dll/200",
             L"res://C:/Program Files/Velmora/VelmoraAssistant.exe%5c..%5cevil.dll/200",
             L"res://C:/Program Files/Velmora/VelmoraAssistant.exe/./../VelmoraAssistant.exe.dll/200",
         }) {
        EXPECT_FALSE(IsOwnPage(other, kOwn)) << other;
        EXPECT_EQ(Navigation::OpenInIe, DecideNavigation(other, kOwn + L"200", kOwn, true)) << other;
    }
    // Dot segments that stay inside the program's own resources still name them.
    EXPECT_TRUE(IsOwnPage(L"res://C:/Program Files/Velmora/VelmoraAssistant.exe/./200", kOwn));
    EXPECT_TRUE(IsOwnPage(L"res://C:/Program Files/Velmora/x/../VelmoraAssistant.exe/200", kOwn));
    for (const wchar_t* pseudo : {L"about:blank", L"javascript:1", L"data:,x", L"about:res://x"})
        EXPECT_FALSE(IsOwnPage(pseudo, kOwn)) << pseudo;
}

TEST(NavigationTest, BrowserCommandLineKeepsTheUrlOneArgument)
{
    EXPECT_EQ(L"\"C:\\IE\\iexplore.exe\" \"https://bank.example/a b\"",
              BrowserCommandLine(L"C:\\IE\\iexplore.exe", L"https://bank.example/a b"));
    EXPECT_EQ(L"\"ie.exe\" \"https://x.example/ -k evil\"",
              BrowserCommandLine(L"ie.exe", L"https://x.example/\" -k \"evil"));
}

TEST(HostKeysTest, SwallowedKeysAndMenus)
{
    struct Row {
        unsigned vk;
        bool ctrl, alt, swallowed;
    } rows[] = {
        {0x1B, false, false, true},  {0x70, false, false, true}, {0x74, false, false, true},
        {0x25, false, true, true},   {0x27, false, true, true},  {0x25, false, false, false},
        {'P', true, false, true},    {'S', true, false, true},   {'D', true, false, true},
        {'L', true, false, true},    {'N', true, false, true},   {'O', true, false, true},
        {'C', true, false, false},   {'V', true, false, false},  {'P', false, false, false},
        {0x0D, false, false, false}, {0x73, false, true, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.swallowed, SwallowKey(r.vk, r.ctrl, r.alt)) << r.vk << " " << r.ctrl << r.alt;
    EXPECT_TRUE(ShowBrowserMenu(4));
    for (unsigned kind : {0u, 1u, 2u, 3u, 5u, 9u})
        EXPECT_FALSE(ShowBrowserMenu(kind));
}

TEST(HostStyleTest, TemplateStyles)
{
    EXPECT_EQ(0x900A0000u | 0x50000u, DialogStyle(false, 0));
    EXPECT_EQ(0x900A0000u, DialogStyle(false, 1));
    EXPECT_EQ(0x90CA0080u, DialogStyle(true, 1));
    EXPECT_EQ(0x90CA0080u | 0x50000u, DialogStyle(true, 0));
}

TEST(ElementEventTest, TitleDraggingRulesAndClicks)
{
    using A = ElementAction;
    EXPECT_EQ(A::MoveWindow, DecideElementEvent(false, {L"ui_title"}).action);
    EXPECT_EQ(A::MoveWindow, DecideElementEvent(false, {L"", L"ui_title"}).action);
    EXPECT_EQ(A::None, DecideElementEvent(false, {L"logo", L"ui_title"}).action);
    EXPECT_EQ(A::MoveWindow, DecideElementEvent(false, {L"", L"ui_title2", L"app"}).action);
    EXPECT_EQ(A::MoveWindow, DecideElementEvent(false, {L"ui_title1"}).action);
    EXPECT_EQ(A::None, DecideElementEvent(false, {L"", L"ui_title1"}).action);
    // A click on the title does nothing; a mouse-down on a button does nothing.
    EXPECT_EQ(A::None, DecideElementEvent(true, {L"ui_title"}).action);
    EXPECT_EQ(A::None, DecideElementEvent(false, {L"ui_quit"}).action);
    ElementEvent quit = DecideElementEvent(true, {L"", L"ui_quit", L"ui_title"});
    EXPECT_EQ(A::Quit, quit.action);
    EXPECT_EQ(L"ui_quit", quit.elementId);
    EXPECT_EQ(A::Minimize, DecideElementEvent(true, {L"ui_minimize1"}).action);
    EXPECT_EQ(A::Menu, DecideElementEvent(true, {L"ui_menu"}).action);
    EXPECT_EQ(A::Close, DecideElementEvent(true, {L"ui_close"}).action);
    EXPECT_EQ(A::None, DecideElementEvent(true, {L"btn", L"body"}).action);
    EXPECT_EQ(A::None, DecideElementEvent(true, {}).action);
}

TEST(ProgressFilterTest, NegativeBeforeAnyProgressAndRestartsAtZero)
{
    ProgressFilter f;
    int sent = 7;
    EXPECT_FALSE(f.Next(-1, &sent)); // one from the starting 0
    EXPECT_TRUE(f.Next(-3, &sent));  // nothing sent yet: the failure is passed on as it is
    EXPECT_EQ(-3, sent);
    EXPECT_TRUE(f.Next(0, &sent));
    EXPECT_TRUE(f.Next(0, &sent)); // 0 always goes out
    EXPECT_FALSE(f.Next(1, &sent));
    EXPECT_TRUE(f.Next(99, &sent));
    EXPECT_FALSE(f.Next(100, &sent));
    EXPECT_FALSE(f.Next(-5, &sent)); // shown as 100, which is one from 99
    EXPECT_EQ(99, f.Last());
}

} // namespace
