#include "checks/check_config.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

constexpr const char* kDocument = R"(<?xml version="1.0" encoding="utf-8"?>
<checkitems Version="3" base="https://cdn.example/files/" empty="">
  <config type="registry">
    <entry Name="a" name="b" hive="HKLM" value="">SOFTWARE\One</entry>
    <entry name="second">SOFTWARE\Two</entry>
  </config>
  <config type="file"><entry path="%windir%\a.dll" version="&gt;=8.0"/></config>
  <unknown type="registry"><entry>ignored</entry></unknown>
  <config type="registry"><entry name="third">SOFTWARE\Three</entry></config>
  <config type="cfca"/>
  <appinfo version="1.2" url="a">
    <installer md5="AB">setup.exe</installer>
    <detect dtype="file">x</detect>
  </appinfo>
  <data name="Notice">first</data>
  <data name="notice">lower</data>
  <data name="Notice">second</data>
  <item name="Control" type="ocx" flag="ctl" keyid="">
    <installer>ctl.exe</installer>
    <uninstaller type="cmd">a</uninstaller>
    <detect dtype="clsid">{1}</detect>
    <installer>ctl2.exe</installer>
    <detect dtype="file">b</detect>
  </item>
  <item name="Key driver" type="key" flag="k1" keyid="096E0201"/>
  <appinfo url="b" size="10"/>
</checkitems>)";

TEST(ParseCheckConfig, BuildsTheModelOfADocument)
{
    CheckConfig config;
    ASSERT_TRUE(ParseCheckConfig(config, kDocument));

    EXPECT_EQ(config.RootAttribute("version"), "3") << "root attribute names are lower-cased";
    EXPECT_EQ(config.RootAttribute("base"), "https://cdn.example/files/");
    EXPECT_FALSE(config.RootAttributes.Has("empty"));

    // Groups merge by type in order of first appearance; an element that is not `config` adds
    // nothing even when it looks like one; a `config` without entries still makes its group.
    ASSERT_EQ(config.Groups.size(), 3u);
    EXPECT_EQ(config.Groups[0].Type, "registry");
    EXPECT_EQ(config.Groups[1].Type, "file");
    EXPECT_EQ(config.Groups[2].Type, "cfca");
    EXPECT_TRUE(config.Groups[2].Entries.empty());
    const auto& registry = config.Groups[0].Entries;
    ASSERT_EQ(registry.size(), 3u);
    EXPECT_EQ(registry[0].Text, "SOFTWARE\\One");
    EXPECT_EQ(registry[1].Attributes.Get("name"), "second");
    EXPECT_EQ(registry[2].Text, "SOFTWARE\\Three");
    EXPECT_EQ(config.Groups[1].Entries[0].Attributes.Get("version"), ">=8.0") << "values are entity-decoded";

    // Attribute rule: one `name` holding the later value, empty values absent.
    const AttributeMap& first = registry[0].Attributes;
    EXPECT_EQ(first.Get("name"), "b");
    EXPECT_EQ(first.Size(), 2u) << "name and hive only";
    EXPECT_FALSE(first.Has("value"));
    EXPECT_EQ(first.Get("Name"), "") << "lookups use lower-case names";

    EXPECT_EQ(config.DataValue("Notice"), "second") << "a later data element replaces the value";
    EXPECT_EQ(config.DataValue("notice"), "lower") << "data names are case-sensitive";
    EXPECT_EQ(config.DataValue("missing"), "");

    ASSERT_EQ(config.ItemCount(), 2u);
    const ConfigItem* control = config.ItemAt(0);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->Attributes.Get("flag"), "ctl");
    EXPECT_FALSE(control->Attributes.Has("keyid"));
    // Each child kind is collected from the first child on, whatever the interleaving.
    ASSERT_EQ(control->Detect.size(), 2u);
    EXPECT_EQ(control->Detect[0].Attributes.Get("dtype"), "clsid");
    EXPECT_EQ(control->Detect[1].Text, "b");
    ASSERT_EQ(control->Installers.size(), 2u);
    EXPECT_EQ(control->Installers[1].Text, "ctl2.exe");
    ASSERT_EQ(control->Uninstallers.size(), 1u);
    EXPECT_EQ(config.ItemAt(1)->Attributes.Get("keyid"), "096E0201");
    EXPECT_EQ(config.ItemAt(2), nullptr);

    // Both appinfo elements merge; the later `url` wins.
    EXPECT_EQ(config.AppInfoAttributes.Get("version"), "1.2");
    EXPECT_EQ(config.AppInfoAttributes.Get("url"), "b");
    EXPECT_EQ(config.AppInfoAttributes.Get("size"), "10");
    ASSERT_EQ(config.AppInfoInstaller.size(), 1u);
    EXPECT_EQ(config.AppInfoInstaller[0].Attributes.Get("md5"), "AB");
    ASSERT_EQ(config.AppInfoDetect.size(), 1u);
    EXPECT_TRUE(config.AppInfoReserved.empty());
    for (const ConfigGroup& group : config.Groups) {
        for (const ConfigEntry& entry : group.Entries)
            EXPECT_EQ(entry.State, 0);
    }
}

TEST(ParseCheckConfig, ItemsAreSearchedAfterTheLastDataElement)
{
    CheckConfig before;
    ASSERT_TRUE(ParseCheckConfig(before, R"(<checkitems><item name="a"/><item name="b"/>
        <data name="x">1</data></checkitems>)"));
    EXPECT_EQ(before.ItemCount(), 0u);
    EXPECT_EQ(before.DataValue("x"), "1");

    CheckConfig between;
    ASSERT_TRUE(ParseCheckConfig(between, R"(<checkitems><data name="x">1</data><item name="lost"/>
        <data name="y">2</data><item name="kept"/><config type="url"><entry>u</entry></config>
        <item name="also"/></checkitems>)"));
    ASSERT_EQ(between.ItemCount(), 2u);
    EXPECT_EQ(between.ItemAt(0)->Attributes.Get("name"), "kept");
    EXPECT_EQ(between.ItemAt(1)->Attributes.Get("name"), "also");
    EXPECT_NE(between.GroupByType("url"), nullptr) << "config elements may stand anywhere";

    CheckConfig noData;
    ASSERT_TRUE(ParseCheckConfig(noData, R"(<checkitems><item name="a"/></checkitems>)"));
    EXPECT_EQ(noData.ItemCount(), 1u) << "without data elements the search starts at the first child";
}

TEST(ParseCheckConfig, RejectsTextThatIsNoCheckDocument)
{
    const char* bad[] = {
        "",
        "<checkitems><config type=\"a\"></checkitems>", // unended start tag
        "<items><config type=\"a\"/></items>",          // other root
        "<checkitems/><checkitems/>",                   // two roots
        "<checkitems attr=\"unterminated></checkitems>",
        // An unquoted '<' in a tag: two entries must not become one that looks clean.
        "<checkitems><config type=\"file\"><entry path=\"a\" <entry path=\"b\"/></config></checkitems>",
    };
    for (const char* text : bad) {
        CheckConfig config;
        EXPECT_FALSE(ParseCheckConfig(config, text)) << text;
        EXPECT_TRUE(config.Groups.empty() && config.RootAttributes.Size() == 0) << text;
    }
    CheckConfig empty;
    EXPECT_TRUE(ParseCheckConfig(empty, "<checkitems/>")) << "no sections at all is not an error";

    CheckConfig withDoctype;
    ASSERT_TRUE(ParseCheckConfig(withDoctype, R"(<!DOCTYPE checkitems [ <!-- the bank's items --> ]>
        <checkitems><config type="host"><entry>a</entry></config>
        <config Type="registry"><entry>b</entry></config><data NAME="key">value</data></checkitems>)"));
    ASSERT_NE(withDoctype.GroupByType("host"), nullptr);
    EXPECT_EQ(withDoctype.GroupByType("host")->Entries.size(), 1u);
    // Attribute names in any letter case, the group's `type` and the data's `name` too.
    ASSERT_NE(withDoctype.GroupByType("registry"), nullptr);
    EXPECT_EQ(withDoctype.GroupByType("registry")->Entries.size(), 1u);
    EXPECT_EQ(withDoctype.DataValue("key"), "value");
}

TEST(CheckConfig, LookupsNeverCreateAndClearEmptiesEverything)
{
    CheckConfig config;
    ASSERT_TRUE(ParseCheckConfig(config, kDocument));
    const std::size_t groups = config.Groups.size();
    EXPECT_EQ(config.GroupByType("Registry"), nullptr) << "type lookup is case-sensitive";
    EXPECT_EQ(config.GroupByType("host"), nullptr);
    EXPECT_EQ(config.GroupByType(""), nullptr);
    EXPECT_EQ(config.Groups.size(), groups);
    ASSERT_NE(config.GroupByType("file"), nullptr);
    EXPECT_EQ(config.GroupByType("file")->Entries.size(), 1u);

    config.Clear();
    EXPECT_EQ(config.ItemCount(), 0u);
    EXPECT_TRUE(config.Groups.empty() && config.DataValues.empty() && config.AppInfoDetect.empty());
    EXPECT_EQ(config.RootAttribute("base"), "");
    EXPECT_EQ(config.AppInfoAttributes.Size(), 0u);

    // A config element without a type feeds the group of the empty name.
    ASSERT_TRUE(ParseCheckConfig(config, "<checkitems><config><entry>x</entry></config></checkitems>"));
    ASSERT_NE(config.GroupByType(""), nullptr);
    EXPECT_EQ(config.GroupByType("")->Entries.size(), 1u);
}

TEST(ResolveRemoteUrl, JoinsRelativeLocationsToTheBase)
{
    CheckConfig config;
    config.RootAttributes.Set("base", "https://bank.example/EBANK/ocx/");
    EXPECT_EQ(ResolveRemoteUrl(config, "setup/ctl.exe"), "https://bank.example/EBANK/ocx/setup/ctl.exe");
    EXPECT_EQ(ResolveRemoteUrl(config, "http://other.example/a.exe"), "http://other.example/a.exe");
    EXPECT_EQ(ResolveRemoteUrl(config, "ftp://x/y"), "ftp://x/y");
    EXPECT_EQ(ResolveRemoteUrl(config, ""), "");
    EXPECT_EQ(ResolveRemoteUrl(CheckConfig(), "a.exe"), "a.exe") << "no base: the value alone";
}

TEST(IsHttpsUrl, OnlyAbsoluteHttpsAddressesWithAHost)
{
    const struct {
        const char* url;
        bool https;
    } rows[] = {
        {"https://ebank.bank.example/ocx/item.xml", true},
        {"HTTPS://Ebank.Bank.Example:8443/item.xml", true},
        {"http://ebank.bank.example/item.xml", false},
        {"C:\\Users\\Public\\item.xml", false},
        {"\\\\server\\share\\item.xml", false},
        {"file://C:/item.xml", false},
        {"https:///item.xml", false},
        {"https://user@evil.test/item.xml", false},
        {" https://ebank.bank.example/item.xml", false},
        {"httpsx://ebank.bank.example/", false},
        {"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsHttpsUrl(row.url), row.https) << row.url;
}

TEST(NoticeFileUrl, OnlyOverHttpsFromTheDocumentsOwnDomainAndNeverFromTheCache)
{
    const struct {
        const char* source;
        const char* script;
        bool fromCache;
        bool allowed;
    } rows[] = {
        {"https://ebank.bank.example/ocx/item.xml", "https://ebank.bank.example/var.js", false, true},
        {"https://ebank.bank.example/ocx/item.xml", "HTTPS://Static.Bank.Example:8443/var.js", false, true},
        {"http://ebank.bank.example/item.xml", "https://bank.example/var.js", false, true},
        {"https://ebank.bank.com.cn/item.xml", "https://www.bank.com.cn/var.js", false, true},
        {"https://ebank.bank.example/item.xml", "https://ebank.bank.example/var.js", true, false},
        {"https://ebank.bank.example/item.xml", "http://ebank.bank.example/var.js", false, false},
        {"https://ebank.bank.example/item.xml", "https://bank.example.evil.test/var.js", false, false},
        {"https://ebank.bank.example/item.xml", "https://evilbank.example/var.js", false, false},
        {"https://ebank.bank.com.cn/item.xml", "https://other.com.cn/var.js", false, false},
        {"https://ebank.bank.example/item.xml", "https://ebank.bank.example@evil.test/var.js", false, false},
        {"https://ebank.bank.example/item.xml", "https://evil.test\\@ebank.bank.example/", false, false},
        {"https://10.0.0.1/item.xml", "https://0.0.1/var.js", false, false},
        {"https://10.0.0.1/item.xml", "https://10.0.0.1/var.js", false, true},
        {"", "https://ebank.bank.example/var.js", false, false}, // a local file
        {"https://ebank.bank.example/item.xml", "//ebank.bank.example/var.js", false, false},
        {"https://ebank.bank.example/item.xml", "javascript:alert(1)//https://x", false, false},
    };
    for (const auto& row : rows) {
        CheckConfig config;
        config.SourceUrl = row.source;
        config.FromCache = row.fromCache;
        config.DataValues["var_url"] = row.script;
        EXPECT_EQ(NoticeFileUrl(config), row.allowed ? row.script : "") << row.source << " " << row.script;
    }
}

} // namespace
} // namespace Velmora::Assistant
