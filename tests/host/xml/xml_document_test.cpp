#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Velmora::Xml::XmlDocument;

namespace {

// Walks every element reachable through navigation and checks the links agree with each other:
// parents, sibling chains both ways, the first child's back link to the last child, levels.
void ExpectConsistentIndex(const XmlDocument& doc)
{
    const auto& e = doc.Elements();
    for (std::uint32_t p = 0; p < e.size(); ++p) {
        std::uint32_t child = e[p].firstChild;
        if (!child)
            continue;
        EXPECT_TRUE(e[child].flags & XmlDocument::FirstChild) << "first child " << child;
        std::uint32_t prev = 0;
        std::uint32_t last = 0;
        for (std::uint32_t c = child; c; c = e[c].nextSibling) {
            EXPECT_EQ(e[c].parent, p) << "element " << c;
            EXPECT_EQ(e[c].level, e[p].level + 1) << "element " << c;
            if (prev) {
                EXPECT_EQ(e[c].prevSibling, prev) << "element " << c;
                EXPECT_FALSE(e[c].flags & XmlDocument::FirstChild) << "element " << c;
            }
            prev = last = c;
        }
        EXPECT_EQ(e[child].prevSibling, last) << "parent " << p;
    }
}

std::vector<std::pair<std::string, std::string>> AllAttributes(const XmlDocument& doc)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::string name, value;
    for (std::size_t i = 0; doc.AttributeAt(i, name, value); ++i)
        out.emplace_back(name, value);
    return out;
}

const char* const kCheckDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- bank check document -->
<!DOCTYPE checkitems [ <!ENTITY x "y"> ]>
<checkitems version="3" base="https://bank.example/assist/" name='Ａ&amp;B'>
  <config type="host">
    <data>bank.example</data>
    <data>  www.bank.example  </data>
  </config>
  <items>
    <item name="first" />
  </items>
  <config type="dns"><data><![CDATA[a<b]]> &amp; c<!-- skipped --><?pi skipped?></data></config>
  <item name="second" ver="&gt;=1.2"><detect type="reg" /></item>
</checkitems>
)";

} // namespace

TEST(XmlDocument, WalksACheckDocumentTheWayTheConfigurationParserDoes)
{
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText(kCheckDocument)) << doc.ParseLog();
    ExpectConsistentIndex(doc);

    ASSERT_TRUE(doc.FindElement("checkitems"));
    const auto root = AllAttributes(doc);
    ASSERT_EQ(root.size(), 3u);
    EXPECT_EQ(root[0], std::make_pair(std::string("version"), std::string("3")));
    EXPECT_EQ(root[2].second, "Ａ&B");
    EXPECT_EQ(doc.GetAttribute("base"), "https://bank.example/assist/");

    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("config"));
    EXPECT_EQ(doc.GetAttribute("type"), "host");
    EXPECT_EQ(doc.ElementText(), "") << "an element with children has no text";
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("data"));
    EXPECT_EQ(doc.ElementText(), "bank.example");
    ASSERT_TRUE(doc.FindElement("data"));
    EXPECT_EQ(doc.ElementText(), "  www.bank.example  ") << "values are returned untrimmed by default";
    EXPECT_FALSE(doc.FindElement("data"));
    EXPECT_EQ(doc.ElementText(), "  www.bank.example  ") << "a failed search keeps the position";
    ASSERT_TRUE(doc.LeaveElement());

    // Second config section: CDATA joined to decoded text; comments and PIs give nothing.
    ASSERT_TRUE(doc.FindElement("config"));
    EXPECT_EQ(doc.GetAttribute("type"), "dns");
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("data"));
    EXPECT_EQ(doc.ElementText(), "a<b & c");
    ASSERT_TRUE(doc.LeaveElement());

    // "item" must not match "items"; the search continues after the current main element.
    doc.RestartLevel();
    ASSERT_TRUE(doc.FindElement("item"));
    EXPECT_EQ(doc.GetAttribute("name"), "second");
    EXPECT_EQ(doc.GetAttribute("ver"), ">=1.2");
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("detect"));
    EXPECT_EQ(doc.GetAttribute("type"), "reg");
    EXPECT_FALSE(doc.EnterElement() && doc.FindElement("anything"));
    ASSERT_TRUE(doc.LeaveElement());
    ASSERT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.GetAttribute("name"), "second") << "leaving returns to the element we entered";

    // Restart finds the first section again; items/item is reachable through "items".
    doc.RestartLevel();
    ASSERT_TRUE(doc.FindElement("items"));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("item"));
    EXPECT_EQ(doc.GetAttribute("name"), "first");

    // Up to the top and no further.
    ASSERT_TRUE(doc.LeaveElement());
    ASSERT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.GetAttribute("version"), "3");
    EXPECT_FALSE(doc.LeaveElement());
}

TEST(XmlDocument, LeaveRemembersTheChildPositionForTheNextEnter)
{
    XmlDocument doc("<r><a><x/><y/><x id='2'/></a><b/></r>");
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("a"));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("x"));
    ASSERT_TRUE(doc.LeaveElement());
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("x")) << "search resumes after the remembered child";
    EXPECT_EQ(doc.GetAttribute("id"), "2");
    ASSERT_TRUE(doc.LeaveElement());
    ASSERT_TRUE(doc.FindElement("b"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_FALSE(doc.FindElement("x")) << "moving main forgets the child position of the old main";
}

TEST(XmlDocument, AttributesAreReadFromTheTagOfMainHoweverItWasReached)
{
    // Names of different lengths, so that a tag read with another element's name in mind shows.
    const char* const text = "<root first='r1' type='rt'><x first='x1'/><longer first='l1'/></root>";
    enum Step { Find, Enter, Leave, Restart, NewText };
    struct Move {
        Step step;
        const char* name;  // for Find
        const char* first; // "name=value" of main's first attribute afterwards; "" for none
    };
    const Move moves[] = {
        {Find, "root", "first=r1"},   {Enter, nullptr, ""},         {Find, "x", "first=x1"},
        {Leave, nullptr, "first=r1"}, {Enter, nullptr, "first=x1"}, {Find, "longer", "first=l1"},
        {Leave, nullptr, "first=r1"}, {Enter, nullptr, "first=l1"}, {Restart, nullptr, ""},
        {Find, "x", "first=x1"},      {Leave, nullptr, "first=r1"}, {Find, "root", "first=r1"},
        {Restart, nullptr, ""},       {Find, "root", "first=r1"},   {NewText, nullptr, ""},
        {Find, "a", "b=2"},
    };
    XmlDocument doc(text);
    std::string name, value;
    int at = 0;
    for (const Move& move : moves) {
        SCOPED_TRACE("move " + std::to_string(at++));
        switch (move.step) {
        case Find:
            doc.FindElement(move.name);
            break;
        case Enter:
            ASSERT_TRUE(doc.EnterElement());
            break;
        case Leave:
            ASSERT_TRUE(doc.LeaveElement());
            break;
        case Restart:
            doc.RestartLevel();
            break;
        case NewText:
            ASSERT_TRUE(doc.SetText("<a b='2'/>"));
            break;
        }
        const bool any = doc.AttributeAt(0, name, value);
        EXPECT_EQ(any ? name + "=" + value : "", move.first);
        const std::string firstName = std::string(move.first).substr(0, std::string(move.first).find('='));
        if (any) {
            EXPECT_EQ(doc.GetAttribute(firstName), value);
        }
        EXPECT_EQ(doc.GetAttribute("type"), std::string(move.first) == "first=r1" ? "rt" : "");
    }
}

TEST(XmlDocument, NavigationOnEmptyDocumentFailsWithoutMoving)
{
    XmlDocument doc;
    EXPECT_FALSE(doc.FindElement("a"));
    EXPECT_FALSE(doc.EnterElement());
    EXPECT_FALSE(doc.LeaveElement());
    EXPECT_EQ(doc.ElementText(), "");
    EXPECT_EQ(doc.GetAttribute("a"), "");
    std::string name = "keep", value = "keep";
    EXPECT_FALSE(doc.AttributeAt(0, name, value));
    EXPECT_EQ(name, "keep");

    EXPECT_FALSE(doc.SetText(""));
    EXPECT_NE(doc.ParseLog().find("<no_root_element"), std::string::npos) << doc.ParseLog();
    EXPECT_FALSE(doc.SetText("just text, <!-- and a comment -->"));
    EXPECT_NE(doc.ParseLog().find("<no_root_element"), std::string::npos) << doc.ParseLog();
}

TEST(XmlDocument, UnclosedStartTagInsideClosedParentStaysNavigable)
{
    XmlDocument doc;
    const std::string text = "<root><item name='a'><detect type='x'/><data>t</data></root>";
    EXPECT_FALSE(doc.SetText(text));
    EXPECT_TRUE(doc.Elements()[0].flags & XmlDocument::IllFormed);
    EXPECT_NE(doc.ParseLog().find("<unended_start_tag tagname=\"item\" offset=\"6\"/>"), std::string::npos)
        << doc.ParseLog();
    ExpectConsistentIndex(doc);

    ASSERT_TRUE(doc.FindElement("root"));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("item"));
    EXPECT_EQ(doc.GetAttribute("name"), "a");
    EXPECT_TRUE(doc.Elements()[doc.MainElement()].flags & XmlDocument::UnendedStart);
    EXPECT_EQ(doc.ElementText(), "") << "an unended element is empty";
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_FALSE(doc.FindElement("detect")) << "its children moved up";
    ASSERT_TRUE(doc.LeaveElement());
    // The former children follow it as siblings, in document order.
    ASSERT_TRUE(doc.FindElement("detect"));
    ASSERT_TRUE(doc.FindElement("data"));
    EXPECT_EQ(doc.ElementText(), "t");
    ASSERT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.Elements()[doc.MainElement()].length, text.size()) << "root still spans its end tag";
}

TEST(XmlDocument, NestedUnendedElementsFlattenInDocumentOrder)
{
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r><a><a1/><b><b1/><c><c1/><c2/></r><z/>"));
    ExpectConsistentIndex(doc);
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.EnterElement());
    std::vector<std::string> order;
    const auto& e = doc.Elements();
    for (std::uint32_t c = e[doc.ParentElement()].firstChild; c; c = e[c].nextSibling)
        order.emplace_back(doc.TagName(c));
    EXPECT_EQ(order, (std::vector<std::string>{"a", "a1", "b", "b1", "c", "c1", "c2"}));
    // The trailing sibling of the root is reported too.
    EXPECT_NE(doc.ParseLog().find("<root_has_sibling tagname=\"z\""), std::string::npos) << doc.ParseLog();
}

TEST(XmlDocument, ElementsLeftOpenAtEndOfTextAreClosedAsUnended)
{
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r><a>text"));
    ExpectConsistentIndex(doc);
    EXPECT_NE(doc.ParseLog().find("tagname=\"r\""), std::string::npos) << doc.ParseLog();
    EXPECT_NE(doc.ParseLog().find("tagname=\"a\""), std::string::npos) << doc.ParseLog();
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.FindElement("a"));
}

TEST(XmlDocument, EndTagClosesTheInnermostOpenElementOfItsName)
{
    struct Case {
        const char* text;
        unsigned options;
        const char* log; // the whole parse log
    };
    const Case cases[] = {
        {"<a><a><b></a></a>", 0, "<unended_start_tag tagname=\"b\" offset=\"6\"/>"},
        {"<r><x></x></x></r>", 0, "<lone_end_tag tagname=\"x\" offset=\"10\"/>"},
        {"<r><x><y></x><y></y></y></r>", 0,
         "<unended_start_tag tagname=\"y\" offset=\"6\"/><lone_end_tag tagname=\"y\" offset=\"20\"/>"},
        {"<r><x><y><z></x></y></r>", 0,
         "<unended_start_tag tagname=\"y\" offset=\"6\"/><unended_start_tag tagname=\"z\" offset=\"9\"/>"
         "<lone_end_tag tagname=\"y\" offset=\"16\"/>"},
        {"<A><b></a></A>", 0,
         "<lone_end_tag tagname=\"a\" offset=\"6\"/><unended_start_tag tagname=\"b\" offset=\"3\"/>"},
        {"<A><b></a>", XmlDocument::MatchNameNoCase, "<unended_start_tag tagname=\"b\" offset=\"3\"/>"},
        // A name that begins another one is a different name, whichever is open.
        {"<ab></a></ab>", 0, "<lone_end_tag tagname=\"a\" offset=\"4\"/>"},
        {"<a></ab></a>", 0, "<lone_end_tag tagname=\"ab\" offset=\"3\"/>"},
        {"<ab><a></ab>", 0, "<unended_start_tag tagname=\"a\" offset=\"4\"/>"},
        {"<a x='1'><ab></a>", 0, "<unended_start_tag tagname=\"ab\" offset=\"9\"/>"},
        // Closing several open elements of one name leaves none of them to be found afterwards.
        {"<a><a><b><b></a></b></a>", 0,
         "<unended_start_tag tagname=\"b\" offset=\"6\"/><unended_start_tag tagname=\"b\" offset=\"9\"/>"
         "<lone_end_tag tagname=\"b\" offset=\"16\"/>"},
        // Once the inner one is closed, the outer one of the same name is found.
        {"<a><x><a></y></a></a>", 0,
         "<lone_end_tag tagname=\"y\" offset=\"9\"/><unended_start_tag tagname=\"x\" offset=\"3\"/>"},
        // Elements opened after the first miss are found too, the innermost first.
        {"<r><x></y><x><z></x></x></r>", 0,
         "<lone_end_tag tagname=\"y\" offset=\"6\"/><unended_start_tag tagname=\"z\" offset=\"13\"/>"},
        {"<R><x></y><X><z></r>", XmlDocument::MatchNameNoCase,
         "<lone_end_tag tagname=\"y\" offset=\"6\"/><unended_start_tag tagname=\"x\" offset=\"3\"/>"
         "<unended_start_tag tagname=\"X\" offset=\"10\"/><unended_start_tag tagname=\"z\" offset=\"13\"/>"},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        doc.SetOptions(c.options);
        EXPECT_FALSE(doc.SetText(c.text)) << c.text;
        EXPECT_EQ(doc.ParseLog(), c.log) << c.text;
        ExpectConsistentIndex(doc);
    }

    // Many names open at once, each once or twice: an end tag for any of them closes the inner one.
    for (const int names : {1, 8, 9, 40, 300}) {
        for (const int rounds : {1, 2}) {
            std::string text;
            for (int round = 0; round < rounds; ++round)
                for (int i = 0; i < names; ++i)
                    text += "<n" + std::to_string(i) + ">";
            for (const int closed : {names - 1, names / 2, 0}) {
                SCOPED_TRACE(std::to_string(names) + " names " + std::to_string(rounds) + " times, </n" +
                             std::to_string(closed) + ">");
                XmlDocument doc;
                EXPECT_FALSE(doc.SetText(text + "</zz></n" + std::to_string(closed) + ">"));
                const auto& e = doc.Elements();
                ASSERT_EQ(e.size(), static_cast<std::size_t>(rounds * names + 1));
                for (std::uint32_t i = 1; i < e.size(); ++i) {
                    const bool ended = i == static_cast<std::uint32_t>((rounds - 1) * names + closed + 1);
                    EXPECT_EQ(e[i].endTagLength != 0, ended) << doc.TagName(i);
                    EXPECT_EQ((e[i].flags & XmlDocument::UnendedStart) != 0, !ended) << doc.TagName(i);
                }
                ExpectConsistentIndex(doc);
            }
        }
    }
}

TEST(XmlDocument, AttributeAtAnswersInAnyOrderAcrossElementsAndTexts)
{
    XmlDocument doc("<r a='0' b='1' c='2'><x p='x0' q='x1'/></r>");
    ASSERT_TRUE(doc.FindElement("r"));
    std::string name, value;
    const std::pair<std::size_t, const char*> reads[] = {{2, "2"}, {0, "0"},     {1, "1"},
                                                         {1, "1"}, {3, nullptr}, {2, "2"}};
    for (const auto& [n, expected] : reads) {
        EXPECT_EQ(doc.AttributeAt(n, name, value), expected != nullptr) << n;
        if (expected) {
            EXPECT_EQ(value, expected) << n;
        }
    }
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("x"));
    ASSERT_TRUE(doc.AttributeAt(1, name, value)) << "another element is read from its own tag";
    EXPECT_EQ(value, "x1");
    ASSERT_TRUE(doc.LeaveElement());
    ASSERT_TRUE(doc.AttributeAt(0, name, value));
    EXPECT_EQ(name, "a");

    // A new text reuses the element numbers; nothing of the old tag may be read.
    ASSERT_TRUE(doc.SetText("<r long-name='L' b='B'/>"));
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.AttributeAt(1, name, value));
    EXPECT_EQ(name + "=" + value, "b=B");
    EXPECT_FALSE(doc.AttributeAt(2, name, value));
}

TEST(XmlDocument, LoneEndTagAndTwoRootsAreErrors)
{
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r><a/></b></r>"));
    EXPECT_NE(doc.ParseLog().find("<lone_end_tag tagname=\"b\""), std::string::npos) << doc.ParseLog();
    ASSERT_TRUE(doc.FindElement("r"));
    EXPECT_TRUE(doc.Elements()[doc.MainElement()].flags & XmlDocument::ErrorBelow);

    EXPECT_FALSE(doc.SetText("<a/><b/>"));
    EXPECT_NE(doc.ParseLog().find("<root_has_sibling"), std::string::npos) << doc.ParseLog();
    ASSERT_TRUE(doc.FindElement("a"));
    ASSERT_TRUE(doc.FindElement("b"));

    EXPECT_TRUE(doc.SetText("<a></a>")) << doc.ParseLog();
    EXPECT_EQ(doc.ParseLog(), "");
    EXPECT_FALSE(doc.SetText("<a></A>")) << "names are case-sensitive";
}

TEST(XmlDocument, SyntaxErrorsAreLoggedByKind)
{
    struct Case {
        const char* text;
        const char* entry;
    };
    const Case cases[] = {
        {"<r><!-- never closed </r>", "<comment_tag_syntax"},
        {"<r><![CDATA[ never closed </r>", "<cdata_section_syntax"},
        {"<!DOCTYPE r [ <!ENTITY a 'b'> <r/>", "<doctype_tag_syntax"},
        {"<r><!bogus</r>", "<exclamation_tag_syntax"},
        {"<r attr='x", "<unterminated_tag_syntax"},
        {"<r>a < b</r>", "<first_tag_syntax"},
        {"<r><?pi never closed</r>", "<unterminated_tag_syntax"},
        {"<r></r", "<unterminated_tag_syntax"},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        EXPECT_FALSE(doc.SetText(c.text)) << c.text;
        EXPECT_NE(doc.ParseLog().find(c.entry), std::string::npos) << c.text << " -> " << doc.ParseLog();
        ExpectConsistentIndex(doc);
    }
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r><!-- open"));
    ASSERT_TRUE(doc.FindElement("r"));
    EXPECT_TRUE(doc.Elements()[doc.MainElement()].flags & XmlDocument::ErrorBelow);
}

// Names of the children of the root element, in navigation order.
std::vector<std::string> RootChildren(const XmlDocument& doc)
{
    std::vector<std::string> out;
    const auto& e = doc.Elements();
    if (!e[0].firstChild)
        return out;
    for (std::uint32_t c = e[e[0].firstChild].firstChild; c; c = e[c].nextSibling)
        out.emplace_back(doc.TagName(c));
    return out;
}

TEST(XmlDocument, UnquotedLessThanInsideATagLeavesItUnterminated)
{
    struct Case {
        const char* text;
        const char* entry;
        std::vector<std::string> children; // of the root, after recovery
    };
    const Case cases[] = {
        // Two elements must not merge into one clean one: the first tag is dropped, the second read.
        {R"(<r><entry path="a" <entry path="b"/></r>)", "<unterminated_tag_syntax offset=\"3\"/>", {"entry"}},
        {R"(<r><a></a <b/></r>)", "<unterminated_tag_syntax offset=\"6\"/>", {"a", "b"}},
        {R"(<r><!bogus <x/></r>)", "<exclamation_tag_syntax offset=\"3\"/>", {"x"}},
        {R"(<r><d>a<b c='1' </d></r>)", "<unterminated_tag_syntax offset=\"7\"/>", {"d"}},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        EXPECT_FALSE(doc.SetText(c.text)) << c.text;
        EXPECT_NE(doc.ParseLog().find(c.entry), std::string::npos) << c.text << " -> " << doc.ParseLog();
        EXPECT_TRUE(doc.Elements()[0].flags & XmlDocument::IllFormed) << c.text;
        EXPECT_EQ(RootChildren(doc), c.children) << c.text;
        ExpectConsistentIndex(doc);
    }

    XmlDocument doc(R"(<r><entry path="a" <entry path="b"/><d>a<b c='1' </d></r>)");
    ASSERT_TRUE(doc.FindElement("r"));
    EXPECT_TRUE(doc.Elements()[doc.MainElement()].flags & XmlDocument::ErrorBelow);
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("entry"));
    EXPECT_EQ(AllAttributes(doc), (std::vector<std::pair<std::string, std::string>>{{"path", "b"}}));
    ASSERT_TRUE(doc.FindElement("d"));
    EXPECT_TRUE(doc.Elements()[doc.MainElement()].flags & XmlDocument::ErrorBelow);
    EXPECT_EQ(doc.ElementText(), "a") << "the dropped tag is not text either";

    EXPECT_TRUE(doc.SetText(R"(<r a='<' b="x<y"/>)")) << "inside quotes a '<' is part of the value";
    ASSERT_TRUE(doc.FindElement("r"));
    EXPECT_EQ(doc.GetAttribute("b"), "x<y");
}

TEST(XmlDocument, DoctypeInternalSubsetIsSkippedWhateverItsMarkupQuotes)
{
    const char* const clean[] = {
        R"(<!DOCTYPE r [ <!-- it's a "remark" with ] and > in it --> ]><r a="1"/>)",
        R"(<!DOCTYPE r [ <?pi don't ] > ?> ]><r a="1"/>)",
        R"(<!DOCTYPE r [ <!ENTITY e "it's ]> here"> <!ATTLIST r a CDATA 'say "x" ]>'> ]><r a="1"/>)",
        R"(<!DOCTYPE r SYSTEM "r.dtd>" [ <!ELEMENT r EMPTY> %pe; <!-- [ --> ] ><r a="1"/>)",
        R"(<!DOCTYPE r PUBLIC '-//x' "y'z"><r a="1"/>)",
    };
    for (const char* text : clean) {
        XmlDocument doc;
        EXPECT_TRUE(doc.SetText(text)) << text << " -> " << doc.ParseLog();
        ASSERT_TRUE(doc.FindElement("r")) << text;
        EXPECT_EQ(doc.GetAttribute("a"), "1") << text;
    }

    const char* const broken[] = {
        "<!DOCTYPE r [ <!-- never closed ]><r/>",
        "<!DOCTYPE r [ <!ENTITY e \"open ]><r/>",
        "<!DOCTYPE r <r/>",
    };
    for (const char* text : broken) {
        XmlDocument doc;
        EXPECT_FALSE(doc.SetText(text)) << text;
        EXPECT_NE(doc.ParseLog().find("<doctype_tag_syntax offset=\"0\"/>"), std::string::npos)
            << text << " -> " << doc.ParseLog();
    }
    XmlDocument doc("<!DOCTYPE r <r/>");
    EXPECT_TRUE(doc.FindElement("r")) << "a tag where the declaration should end is read as a tag";
}

TEST(XmlDocument, ParseLogStopsGrowingPastItsLimit)
{
    std::string text = "<r>";
    for (int i = 0; i < 500; ++i)
        text += "</nothing>";
    text += "</r>";
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText(text));
    EXPECT_GT(doc.ParseLog().size(), 999u);
    EXPECT_LT(doc.ParseLog().size(), 1200u);
}

TEST(XmlDocument, DecodesReferencesInValuesAndKeepsUnresolvedOnesAsTyped)
{
    XmlDocument doc(R"(<r a="x&amp;y&#65;&#x42;&nosuch;z" b="&lt;&GT;&Quot;&apos;" )"
                    R"(c="&euro;&nbsp;&Omega;&#x1F600;&#128512;" d="&Aacute;&aacute;&amp" )"
                    R"(e="&#0;&#xD800;&#x110000;&#;&#x;&#12a;&toolongname;&;" f=plain g>text&hearts;</r>)");
    ASSERT_TRUE(doc.FindElement("r"));
    EXPECT_EQ(doc.GetAttribute("a"), "x&yAB&nosuch;z");
    EXPECT_EQ(doc.GetAttribute("b"), "<>\"'") << "names are looked up without case";
    EXPECT_EQ(doc.GetAttribute("c"), "\xE2\x82\xAC\xC2\xA0\xCE\xA9\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    EXPECT_EQ(doc.GetAttribute("d"), "\xC3\x81\xC3\xA1&amp");
    EXPECT_EQ(doc.GetAttribute("e"), "&#0;&#xD800;&#x110000;&#;&#x;&#12a;&toolongname;&;");
    EXPECT_EQ(doc.GetAttribute("f"), "plain");
    EXPECT_EQ(doc.GetAttribute("g"), "");
    EXPECT_EQ(doc.ElementText(), "text\xE2\x99\xA5");

    const auto all = AllAttributes(doc);
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all[6].first, "g");
    std::string name = "keep", value = "keep";
    const auto mainBefore = doc.MainElement();
    EXPECT_FALSE(doc.AttributeAt(7, name, value));
    EXPECT_EQ(name, "keep");
    EXPECT_EQ(doc.MainElement(), mainBefore);
}

TEST(XmlDocument, AttributeNamesMatchExactly)
{
    XmlDocument doc(R"(<r typeName="1" type = '2' TYPE="3"/>)");
    ASSERT_TRUE(doc.FindElement("r"));
    EXPECT_EQ(doc.GetAttribute("type"), "2");
    EXPECT_EQ(doc.GetAttribute("typ"), "");
    EXPECT_EQ(doc.GetAttribute("TYPE"), "3");
}

TEST(XmlDocument, OptionsFoldCaseAndTrimWhenAsked)
{
    XmlDocument doc;
    doc.SetOptions(XmlDocument::MatchNameNoCase | XmlDocument::TrimValues);
    EXPECT_TRUE(doc.SetText("<Root Type='  a \t b  '><Data>\n  x \n\n y  </DATA></Root>")) << doc.ParseLog();
    ASSERT_TRUE(doc.FindElement("root"));
    EXPECT_EQ(doc.GetAttribute("type"), "a b");
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("data"));
    EXPECT_EQ(doc.ElementText(), "x y");
}

std::string Repeated(const std::string& piece, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += piece;
    return out;
}

TEST(XmlDocument, IndexStartsSizedFromTheTextAndGrowsOnceToABoundOnTheRest)
{
    // A text of `head` and `tail`: `head` has more elements than the first guess (a record per 64
    // bytes, plus 8) holds, so the index grows once, when a record is wanted for the start tag at
    // `grownAt` in `head` (the first that does not fit), by at most `bound` records for the rest.
    struct Case {
        const char* what;
        std::string head;
        std::string tail;
        std::size_t grownAt; // the element, counting the document, whose record does not fit
        std::size_t bound;   // start tags counted from that one on
        std::size_t records; // in all, with the document
    };
    const std::string empties = Repeated("<e/>", 100);
    const Case cases[] = {
        {"exact for plain elements; a '<' that ends the text starts nothing", "<r>" + empties, "</r><", 14,
         88, 102},
        {"end tags, comments, instructions and declarations do not count",
         "<r>" + Repeated("<e></e><!--c--><?p?><!x>", 100), "</r>", 45, 57, 102},
        {"'<' that cannot start a name does not count", "<r>" + empties, Repeated("<=<!</", 300) + "</r>", 42,
         60, 102},
        {"tags that never close: each would need a '>'", "<r>" + empties,
         ">>>>>" + Repeated("<a <b ", 400) + "</r>", 51, 51 + 6, 102},
        {"'>' without tags: each would need a '<'", "<r>" + empties, Repeated(">", 3000) + "</r>", 61, 41,
         102},
        // Tags that never close are counted too, so the bound is not exact here; they take more
        // than 255 rounds of 8 bytes to count, two of them a round in the same two lanes.
        {"lanes summed before they overflow", "<r>" + Repeated("<e/>", 400),
         Repeated(">", 2000) + Repeated("<a  ", 1200) + "</r>", 139, 263 + 1200, 402},
    };
    for (const Case& c : cases) {
        const std::string text = c.head + c.tail;
        XmlDocument doc;
        doc.SetText(text);
        const std::size_t initial = text.size() / 64 + 8;
        EXPECT_EQ(doc.Elements().size(), c.records) << c.what;
        ASSERT_EQ(initial, c.grownAt) << c.what << ": the case no longer grows where it says";
        EXPECT_EQ(doc.IndexCapacity(), initial + c.bound) << c.what;
    }

    // A document of ordinary density keeps the first guess.
    std::string text = "<r>";
    for (int i = 0; i < 20; ++i)
        text += "<entry name=\"item " + std::to_string(i) + "\" value=\"some value of a typical size\"/>\n";
    text += "</r>";
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText(text));
    EXPECT_EQ(doc.IndexCapacity(), text.size() / 64 + 8);
}

TEST(XmlDocument, RecordsHoldTagGeometry)
{
    const std::string text = "<a x='>'><b/>hi</a>";
    XmlDocument doc(text);
    ASSERT_TRUE(doc.FindElement("a"));
    const auto& a = doc.Elements()[doc.MainElement()];
    EXPECT_EQ(a.start, 0u);
    EXPECT_EQ(a.startTagLength, 9u) << "a '>' inside quotes does not end the tag";
    EXPECT_EQ(a.endTagLength, 4u);
    EXPECT_EQ(a.length, text.size());
    EXPECT_EQ(doc.GetAttribute("x"), ">");
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.FindElement("b"));
    const auto& b = doc.Elements()[doc.MainElement()];
    EXPECT_EQ(b.length, 4u);
    EXPECT_EQ(b.endTagLength, 0u);
    EXPECT_EQ(b.level, 2u);
}
