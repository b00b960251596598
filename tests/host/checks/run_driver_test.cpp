#include "checks/run_driver.h"
#include "install/self_update.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

// The state of the machine the fake handlers look at: each entry's text names a thing whose
// current check code is kept here; a repair sets it to the entry's `fix` attribute (2 if none).
struct FakeMachine {
    std::map<std::string, std::int32_t> codes;
    std::vector<std::string> calls;
};

class FakeHandler : public ICheckFix {
public:
    FakeHandler(std::string name, FakeMachine& machine) : name_(std::move(name)), machine_(machine) {}

    std::int32_t CheckEntry(ConfigEntry& entry) override
    {
        machine_.calls.push_back(name_ + " check " + entry.Text);
        auto it = machine_.codes.find(entry.Text);
        return it == machine_.codes.end() ? kResultFailed : it->second;
    }
    std::int32_t FixEntry(ConfigEntry& entry) override
    {
        machine_.calls.push_back(name_ + " fix " + entry.Text);
        const std::string& fix = entry.Attributes.Get("fix");
        const std::int32_t code = fix.empty() ? kResultPassed : std::stoi(fix);
        if (code == kResultPassed)
            machine_.codes[entry.Text] = kResultPassed;
        return code;
    }

private:
    std::string name_;
    FakeMachine& machine_;
};

ConfigEntry Entry(std::string text, std::map<std::string, std::string> attributes = {})
{
    ConfigEntry entry;
    entry.Text = std::move(text);
    for (const auto& [name, value] : attributes)
        entry.Attributes.Set(name, value);
    return entry;
}

class RunDriverTest : public testing::Test {
protected:
    RunDriverTest() : registry_("registry", machine_), clsid_("clsid", machine_), trust_("trust", machine_)
    {
        services_.handlerFor = [this](std::string_view type) -> ICheckFix* {
            if (type == "registry")
                return &registry_;
            if (type == "clsid")
                return &clsid_;
            if (type == "trust" || type == "compatibility")
                return &trust_;
            return nullptr;
        };
        services_.is64BitWindows = true;
        services_.installItem = [this](std::vector<ConfigEntry>& detect,
                                       std::vector<ConfigEntry>& installers) {
            std::string call = "install";
            for (const ConfigEntry& e : installers)
                call += " " + e.Text;
            call += " detect " + std::to_string(detect.size());
            machine_.calls.push_back(call);
            for (const ConfigEntry& e : installers)
                machine_.codes[e.Attributes.Get("makes")] = kResultPassed;
            return kResultPassed;
        };
        services_.setInstallIndex = [this](std::int32_t index) { installIndex_ = index; };
        services_.builtInCheck = [this](std::string_view name, bool checkOnly) -> std::optional<bool> {
            machine_.calls.push_back("builtin " + std::string(name) + (checkOnly ? " check" : " fix"));
            if (name == "proxy")
                return true;
            return std::nullopt;
        };
        services_.sm2Certificates = [this](bool checkOnly) {
            machine_.calls.push_back(checkOnly ? "sm2 check" : "sm2 fix");
            return !checkOnly;
        };
    }

    void AddGroup(const std::string& type, std::vector<ConfigEntry> entries)
    {
        config_.Groups.push_back({type, std::move(entries)});
    }

    std::string Run(RunTarget target, bool checkOnly)
    {
        machine_.calls.clear();
        return RunRequest(config_, target, checkOnly, services_).value_or("<none>");
    }

    FakeMachine machine_;
    FakeHandler registry_, clsid_, trust_;
    RunServices services_;
    CheckConfig config_;
    std::int32_t installIndex_ = 99;
};

TEST_F(RunDriverTest, TypeRequestsRunTheirGroupOrABuiltInAndAnswerInThePagesFormat)
{
    AddGroup("trust", {Entry("site", {{"fix", "2"}})});
    AddGroup("compatibility", {Entry("list", {{"fix", "-2"}})});
    AddGroup("registry", {Entry("ok"), Entry("bad"), Entry("bad2", {{"fix", "-1"}})});
    AddGroup("zone", {Entry("z")}); // no handler for this type
    AddGroup("cfca", {});
    AddGroup("proxy", {Entry("ok")}); // a group shadows the built-in of the same name (no handler)
    machine_.codes = {{"ok", 2}, {"bad", -2}, {"bad2", -2}, {"site", -2}, {"list", -2}};

    struct Row {
        const char* type;
        bool checkOnly;
        const char* answer;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        // Trust and compatibility are repaired by a plain check as well.
        {"trust", true, R"({ "type" : "trust", "result" : true})", {"trust check site", "trust fix site"}},
        {"trust", true, R"({ "type" : "trust", "result" : true})", {"trust check site"}},
        {"compatibility",
         false,
         R"({ "type" : "compatibility", "result" : false})",
         {"trust check list", "trust fix list"}},
        // Other types: a check looks at every entry, a repair works on what the last check found.
        {"registry",
         true,
         R"({ "type" : "registry", "result" : false})",
         {"registry check ok", "registry check bad", "registry check bad2"}},
        {"registry",
         false,
         R"({ "type" : "registry", "result" : false})",
         {"registry fix bad", "registry fix bad2"}},
        {"zone", true, R"({ "type" : "zone", "result" : false})", {}},
        {"zone", false, R"({ "type" : "zone", "result" : false})", {}},
        {"cfca", true, R"({ "type" : "cfca", "result" : false})", {"sm2 check"}},
        {"cfca", false, R"({ "type" : "cfca", "result" : true})", {"sm2 fix"}},
        {"proxy", true, R"({ "type" : "proxy", "result" : false})", {}},
        {"connection", false, R"({ "type" : "connection", "result" : false})", {"builtin connection fix"}},
        {"Level", true, R"({ "type" : "Level", "result" : false})", {"builtin Level check"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.type) + (row.checkOnly ? " check" : " fix"));
        EXPECT_EQ(row.answer, Run(std::string(row.type), row.checkOnly));
        EXPECT_EQ(row.calls, machine_.calls);
    }
    // The repair of `bad` worked, so the next check passes up to `bad2`, which could not be repaired.
    EXPECT_EQ(kResultPassed, machine_.codes["bad"]);

    config_.Groups.clear();
    EXPECT_EQ(R"({ "type" : "proxy", "result" : true})", Run(std::string("proxy"), true));
}

TEST(RunAnswerTest, NamesAreEscapedAndShortenedWithoutBreakingTheAnswer)
{
    EXPECT_EQ(R"({ "type" : "a\"b\\c\u0001", "result" : true})", TypeAnswer("a\"b\\c\x01", true));
    EXPECT_EQ(R"({ "index" : -7, "result" : 3})", ItemAnswer(-7, kItemNotInstalled));

    const std::string longAscii(400, 'x');
    const std::string cut = TypeAnswer(longAscii, false);
    EXPECT_EQ(kMaxAnswerLength, cut.size());
    EXPECT_EQ("\", \"result\" : false}", cut.substr(cut.size() - 20));

    // Neither a three-byte character nor an escape is ever split.
    std::string wide;
    for (int i = 0; i < 100; ++i)
        wide += "\xE6\xA3\x80"; // 检
    const std::string wideCut = TypeAnswer(wide, true);
    EXPECT_LE(wideCut.size(), kMaxAnswerLength);
    const std::size_t nameBytes = wideCut.size() - std::string(R"({ "type" : "", "result" : true})").size();
    EXPECT_EQ(0u, nameBytes % 3);
    EXPECT_GT(nameBytes, 200u);

    const std::string quotes(200, '"');
    const std::string quoteCut = TypeAnswer(quotes, true);
    EXPECT_LE(quoteCut.size(), kMaxAnswerLength);
    const std::size_t quoteBytes = quoteCut.size() - std::string(R"({ "type" : "", "result" : true})").size();
    EXPECT_EQ(0u, quoteBytes % 2);
}

TEST_F(RunDriverTest, ItemRequestsDetectInstallOrEnableAndAnswerTheStatus)
{
    ConfigItem control;
    control.Detect = {Entry("ctl", {{"dtype", "clsid"}, {"fix", "2"}}),
                      Entry("ctl.ver", {{"dtype", "registry"}})};
    control.Installers = {Entry("setup.exe", {{"makes", "ctl"}}),
                          Entry("setup64.exe", {{"makes", "ctl.ver"}, {"bit", "64"}})};
    config_.Items.push_back(control);

    struct Row {
        const char* name;
        std::map<std::string, std::int32_t> codes;
        bool checkOnly;
        const char* answer;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        {"missing, check only",
         {{"ctl", -2}, {"ctl.ver", 2}},
         true,
         R"({ "index" : 0, "result" : 3})",
         {"clsid check ctl", "registry check ctl.ver"}},
        {"missing, installed by the repair",
         {{"ctl", -2}, {"ctl.ver", -2}},
         false,
         R"({ "index" : 0, "result" : 0})",
         {"clsid check ctl", "registry check ctl.ver", "install setup.exe setup64.exe detect 2",
          "clsid check ctl", "registry check ctl.ver"}},
        {"update available",
         {{"ctl", 2}, {"ctl.ver", 1}},
         false,
         R"({ "index" : 0, "result" : 0})",
         {"clsid check ctl", "registry check ctl.ver", "install setup.exe setup64.exe detect 2",
          "clsid check ctl", "registry check ctl.ver"}},
        {"installed: nothing to do",
         {{"ctl", 2}, {"ctl.ver", 2}},
         false,
         R"({ "index" : 0, "result" : 0})",
         {"clsid check ctl", "registry check ctl.ver", "clsid check ctl", "registry check ctl.ver"}},
        {"disabled add-on switched back on",
         {{"ctl", -3}, {"ctl.ver", 2}},
         false,
         R"({ "index" : 0, "result" : 0})",
         {"clsid check ctl", "registry check ctl.ver", "clsid check ctl", "clsid fix ctl", "clsid check ctl",
          "registry check ctl.ver", "clsid check ctl", "registry check ctl.ver"}},
        {"unknown detection code: nothing installed",
         {{"ctl", -1}, {"ctl.ver", 2}},
         false,
         R"({ "index" : 0, "result" : 3})",
         {"clsid check ctl", "registry check ctl.ver", "clsid check ctl", "registry check ctl.ver"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        machine_.codes = row.codes;
        installIndex_ = 99;
        EXPECT_EQ(row.answer, Run(0, row.checkOnly));
        EXPECT_EQ(row.calls, machine_.calls);
        EXPECT_EQ(row.checkOnly ? 99 : 0, installIndex_);
    }

    // Still disabled after the add-on repair: the whole item is installed.
    machine_.codes = {{"ctl", -3}, {"ctl.ver", 2}};
    config_.Items[0].Detect[0].Attributes.Set("fix", "-2");
    config_.Items[0].Installers[0].Attributes.Set("makes", "other");
    EXPECT_EQ(R"({ "index" : 0, "result" : 1})", Run(0, false));
    EXPECT_EQ(1, std::count(machine_.calls.begin(), machine_.calls.end(),
                            "install setup.exe setup64.exe detect 2"));

    EXPECT_EQ("<none>", Run(1, true));
    EXPECT_EQ("<none>", Run(-1, false));
    EXPECT_TRUE(machine_.calls.empty());

    // Shown switched off while the component itself is missing (its entry comes before the
    // add-on's): switched on, then installed as a missing one is, in the same request.
    ConfigItem missing;
    missing.Detect = {Entry("ctl.ver", {{"dtype", "registry"}}),
                      Entry("ctl", {{"dtype", "clsid"}, {"fix", "2"}})};
    missing.Installers = {Entry("setup.exe", {{"makes", "ctl.ver"}})};
    config_.Items.push_back(missing);
    machine_.codes = {{"ctl.ver", -2}, {"ctl", -3}};
    EXPECT_EQ(R"({ "index" : 1, "result" : 1})", Run(1, true));
    EXPECT_EQ(R"({ "index" : 1, "result" : 0})", Run(1, false));
    EXPECT_EQ(1, std::count(machine_.calls.begin(), machine_.calls.end(), "install setup.exe detect 2"));
}

TEST_F(RunDriverTest, On32BitWindowsEntriesFor64BitSystemsAreLeftOut)
{
    services_.is64BitWindows = false;
    ConfigItem item;
    item.Attributes.Set("name", "key driver");
    item.Detect = {Entry("drv", {{"dtype", "registry"}}),
                   Entry("drv64", {{"dtype", "registry"}, {"bit", "64"}})};
    item.Installers = {Entry("a.exe", {{"makes", "drv"}}), Entry("b64.exe", {{"bit", "64"}}),
                       Entry("c.exe", {{"bit", "32"}})};
    config_.Items.push_back(item);
    machine_.codes = {{"drv", -2}, {"drv64", -2}};

    EXPECT_EQ(R"({ "index" : 0, "result" : 0})", Run(0, false));
    const std::vector<std::string> expected = {"registry check drv", "install a.exe c.exe detect 0",
                                               "registry check drv"};
    EXPECT_EQ(expected, machine_.calls);
    // The item's own entries were never checked: the 32-bit run works on copies.
    EXPECT_EQ(kResultNotRun, config_.Items[0].Detect[1].State);
}

TEST(DetectEntriesTest, WarningsFailuresAndMissingHandlers)
{
    FakeMachine machine;
    FakeHandler handler("h", machine);
    const HandlerLookup lookup = [&](std::string_view type) -> ICheckFix* {
        return type == "h" ? &handler : nullptr;
    };
    struct Row {
        std::vector<std::int32_t> codes;
        bool stopOnFailure;
        std::int32_t expected;
        std::size_t checked;
    };
    const Row rows[] = {
        {{}, true, kResultPassed, 0},          {{2, 1, 2}, true, kResultMismatch, 3},
        {{1, -2, -3}, true, kResultFailed, 2}, {{1, -2, -3}, false, kResultDisabled, 3},
        {{-3, 2}, false, kResultDisabled, 2},
    };
    for (const Row& row : rows) {
        std::vector<ConfigEntry> entries;
        machine.codes.clear();
        machine.calls.clear();
        for (std::size_t i = 0; i < row.codes.size(); ++i) {
            entries.push_back(Entry("e" + std::to_string(i), {{"dtype", "h"}}));
            machine.codes["e" + std::to_string(i)] = row.codes[i];
        }
        EXPECT_EQ(row.expected, DetectEntries(entries, row.stopOnFailure, lookup));
        EXPECT_EQ(row.checked, machine.calls.size());
    }
    std::vector<ConfigEntry> unknown = {Entry("e0", {{"dtype", "h"}}), Entry("x", {{"dtype", "nosuch"}}),
                                        Entry("e1", {{"dtype", "h"}})};
    machine.codes = {{"e0", 1}, {"e1", 2}};
    machine.calls.clear();
    EXPECT_EQ(kResultNoHandler, DetectEntries(unknown, false, lookup));
    EXPECT_EQ(1u, machine.calls.size());
}

TEST(UpdateNeededTest, DetectionOfTheAppInfoRecordAndTheMandatoryFlag)
{
    FakeMachine machine;
    FakeHandler handler("file", machine);
    const HandlerLookup lookup = [&](std::string_view type) -> ICheckFix* {
        return type == "file" ? &handler : nullptr;
    };
    CheckConfig config;
    bool mandatory = true;
    EXPECT_FALSE(UpdateNeeded(config, lookup, &mandatory)); // no appinfo: up to date
    EXPECT_FALSE(mandatory);

    config.AppInfoDetect = {Entry("exe", {{"dtype", "file"}, {"bit", "64"}})};
    machine.codes = {{"exe", 2}};
    EXPECT_FALSE(UpdateNeeded(config, lookup, nullptr)); // checked although marked 64-bit
    EXPECT_EQ(1u, machine.calls.size());
    machine.codes = {{"exe", 1}};
    EXPECT_TRUE(UpdateNeeded(config, lookup, nullptr)); // an older version
    config.AppInfoDetect[0].Attributes.Set("dtype", "nosuch");
    EXPECT_TRUE(UpdateNeeded(config, lookup, nullptr));

    const std::pair<const char*, bool> flags[] = {{"TRUE", true},  {"1", true},  {"True", true},
                                                  {"yes", false},  {"0", false}, {"", false},
                                                  {" true", false}};
    for (const auto& [value, expected] : flags) {
        AttributeMap appInfo;
        appInfo.Set("imperative", value);
        EXPECT_EQ(expected, IsMandatoryUpdate(appInfo)) << value;
    }
}

} // namespace
} // namespace Velmora::Assistant
