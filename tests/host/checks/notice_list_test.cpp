#include "checks/notice_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

using List = std::vector<std::string>;

TEST(NoticeList, ReadsEveryAcceptedForm)
{
    const struct {
        std::string text;
        List expected;
    } cases[] = {
        {"// notices for March\n"
         "window.notices = ['<p>维护通知：3月2日</p>', \"second \\\"quoted\\\" notice\", 'it\\'s\\u00e9'];",
         {"<p>维护通知：3月2日</p>", "second \"quoted\" notice", "it's\xC3\xA9"}},
        {"\xEF\xBB\xBFnotices=[]", {}},
        {"var notices = ['x', \"\",];", {"x", ""}},
        {"/*a*/window/*b*/./*c*/notices/*d*/=/*e*/[/*f*/'a'/*g*/,/*h*/]/*i*/;// end", {"a"}},
        {"window.notices\t=\r\n[\r\n  \"it's\",\r\n  'say \"hi\"'\r\n];\r\n", {"it's", "say \"hi\""}},
        {"notices = ['\\n\\r\\t\\b\\f\\v', '\\0', '\\'\\\"\\\\', '\\x41\\x7e\\xE9']",
         {"\n\r\t\b\f\v", std::string(1, '\0'), "'\"\\", "A~\xC3\xA9"}},
        {"notices = ['\\u4e2d\\uD83D\\uDE00', '\\u{1F600}\\u{41}\\u{0000000041}', '\\u{10FFFF}']",
         {"中\xF0\x9F\x98\x80",
          "\xF0\x9F\x98\x80"
          "AA",
          "\xF4\x8F\xBF\xBF"}},
        {"notices = ['\\uD83D\\u{DE00}', '\\uD83D\\\n\\uDE00', '\\uD83D\\uD83D\\uDE00', "
         "'\\uD800x', '\\uDC00', '\\uD800']",
         {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD\xF0\x9F\x98\x80", "\xEF\xBF\xBDx",
          "\xEF\xBF\xBD", "\xEF\xBF\xBD"}},
        {"notices = ['a\\\nb', 'c\\\r\nd', 'e\\\rf', 'g\\\xE2\x80\xA8h', 'i\xE2\x80\xA8j']",
         {"ab", "cd", "ef", "gh", "i\xE2\x80\xA8j"}},
        {"notices = ['\\a\\q\\中\\ ']", {"aq中 "}},
    };
    for (const auto& c : cases) {
        const auto notices = ParseNoticeList(c.text);
        ASSERT_TRUE(notices.has_value()) << c.text;
        EXPECT_EQ(*notices, c.expected) << c.text;
    }
}

TEST(NoticeList, RefusesEverythingElse)
{
    const std::string refused[] = {
        "",
        "window.notices = [alert(1)]",
        "window.notices = ['a' + 'b']",
        "window.notices = ['a']; alert(1)",
        "window.notices = ['a'], alert(1)",
        "window.notices = ['a'];;",
        "window.notices = ['a']\n['b']",
        "window.notices = [`x`]",
        "window.notices = [['a']]",
        "window.notices = [1]",
        "window.notices = [notice]",
        "window.notices = [,'a']",
        "window.notices = ['a',,'b']",
        "window.notices = 'a'",
        "window.notices = ['a] ",
        "window.notices = ['a\\",
        "window.notices = ['a'] /* tail",
        "window.notices = ['a\nb']",
        "window.notices = ['a\rb']",
        "window.notices = ['a'] // x\xE2\x80\xA8"
        "alert(1)",
        "window.notices = ['a'] <!-- x",
        "window.x = ['a']",
        "window['notices'] = ['a']",
        "Window.notices = ['a']",
        "windownotices = ['a']",
        "varnotices = ['a']",
        "let notices = ['a']",
        "notices == ['a']",
        "(notices = ['a'])",
        "notices\xC2\xA0= ['a']",
        "notices = ['a']\xEF\xBB\xBF",
        "notices = ['\\1']",
        "notices = ['\\08']",
        "notices = ['\\8']",
        "notices = ['\\x4']",
        "notices = ['\\u12']",
        "notices = ['\\u{}']",
        "notices = ['\\u{41']",
        "notices = ['\\u{110000}']",
        "notices = ['\xC3']",
        "notices = ['\xED\xA0\x80']",
        "notices = ['\xC0\xAF']",
        "notices = ['\xF4\x90\x80\x80']",
    };
    for (const std::string& text : refused)
        EXPECT_EQ(ParseNoticeList(text), std::nullopt) << text;
}

TEST(NoticeList, RefusesTooLongATextOrTooManyNotices)
{
    std::string list = "notices=[";
    for (std::size_t i = 0; i < kNoticeListMaxCount; ++i)
        list += "'',";
    EXPECT_EQ(ParseNoticeList(list + "]").value_or(List{}).size(), kNoticeListMaxCount);
    EXPECT_EQ(ParseNoticeList(list + "'']"), std::nullopt);

    const std::string frame = "notices=['']";
    const std::string longest = "notices=['" + std::string(kNoticeTextMaxBytes - frame.size(), 'x') + "']";
    ASSERT_EQ(longest.size(), kNoticeTextMaxBytes);
    EXPECT_EQ(ParseNoticeList(longest).value_or(List{}).size(), 1u);
    EXPECT_EQ(ParseNoticeList(longest + " "), std::nullopt);
}

} // namespace
} // namespace Velmora::Assistant
