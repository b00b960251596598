#include "checks/check_fix.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

// Answers each entry with the code written in its text (check) or in its `fix` attribute, and
// records every call.
class ScriptedHandler : public ICheckFix {
public:
    std::int32_t beginCheck = kResultPassed, endCheck = kResultPassed;
    std::int32_t beginFix = kResultPassed, endFix = kResultPassed;
    std::vector<std::string> calls;

    std::int32_t BeginCheck() override { return Log("BeginCheck", beginCheck); }
    std::int32_t CheckEntry(ConfigEntry& entry) override
    {
        calls.push_back("Check " + entry.Attributes.Get("id"));
        return std::stoi(entry.Text);
    }
    std::int32_t EndCheck() override { return Log("EndCheck", endCheck); }
    std::int32_t BeginFix() override { return Log("BeginFix", beginFix); }
    std::int32_t FixEntry(ConfigEntry& entry) override
    {
        calls.push_back("Fix " + entry.Attributes.Get("id"));
        return std::stoi(entry.Attributes.Get("fix"));
    }
    std::int32_t EndFix() override { return Log("EndFix", endFix); }

private:
    std::int32_t Log(const char* step, std::int32_t code)
    {
        calls.emplace_back(step);
        return code;
    }
};

// Entries "a", "b", ... whose checks answer `checks` and whose fixes answer `fixes`.
std::vector<ConfigEntry> Entries(std::vector<int> checks, std::vector<int> fixes = {})
{
    std::vector<ConfigEntry> entries(checks.size());
    for (std::size_t i = 0; i < checks.size(); ++i) {
        entries[i].Attributes.Set("id", std::string(1, static_cast<char>('a' + i)));
        entries[i].Text = std::to_string(checks[i]);
        entries[i].Attributes.Set("fix", std::to_string(i < fixes.size() ? fixes[i] : 2));
        entries[i].State = 77; // left over from some earlier run
    }
    return entries;
}

std::vector<int> States(const std::vector<ConfigEntry>& entries)
{
    std::vector<int> states;
    for (const ConfigEntry& entry : entries)
        states.push_back(entry.State);
    return states;
}

using Calls = std::vector<std::string>;

TEST(RunCheck, FailedBeginLeavesEveryEntryUntouched)
{
    ScriptedHandler handler;
    handler.beginCheck = -2;
    auto entries = Entries({2, 2});
    EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), false), -2);
    EXPECT_EQ(States(entries), (std::vector<int>{77, 77}));
    EXPECT_EQ(handler.calls, Calls{"BeginCheck"});
}

TEST(RunCheck, WithoutStopEveryEntryIsCheckedAndTheLastFailureIsTheResult)
{
    ScriptedHandler handler;
    auto entries = Entries({-2, 2, 1, -3, 2});
    EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), false), -3);
    EXPECT_EQ(States(entries), (std::vector<int>{-2, 2, 1, -3, 2}));
    EXPECT_EQ(handler.calls, (Calls{"BeginCheck", "Check a", "Check b", "Check c", "Check d", "Check e"}))
        << "EndCheck is not called after a failure";
}

TEST(RunCheck, StopOnFailureEndsAtTheFirstFailingEntry)
{
    ScriptedHandler handler;
    auto entries = Entries({1, -1, -2});
    EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), true), -1);
    EXPECT_EQ(States(entries), (std::vector<int>{1, -1, 0})) << "every State is reset before the run";
    EXPECT_EQ(handler.calls, (Calls{"BeginCheck", "Check a", "Check b"}));
}

TEST(RunCheck, AMismatchIsRememberedThroughTheEndStep)
{
    struct Case {
        std::vector<int> checks;
        std::int32_t endCheck;
        std::int32_t expected;
    } cases[] = {
        {{2, 1, 2}, 2, 1}, {{1, 2}, 2, 1}, {{2, 2}, 2, 2}, {{2, 1}, -2, -2}, // the end step's failure wins
        {{}, 2, 2},                                                          // an empty group passes
        {{}, -1, -1},
    };
    for (const Case& c : cases) {
        for (bool stop : {false, true}) {
            ScriptedHandler handler;
            handler.endCheck = c.endCheck;
            auto entries = Entries(c.checks);
            EXPECT_EQ(RunCheck(handler, entries.data(), entries.size(), stop), c.expected)
                << c.checks.size() << " entries, end " << c.endCheck << ", stop " << stop;
            EXPECT_EQ(handler.calls.back(), "EndCheck");
        }
    }
}

TEST(RunFix, RepairsWhatDidNotPassAndStopsAtTheFirstFailure)
{
    ScriptedHandler handler;
    auto entries = Entries({2, -2, 1, -2, -2}, {2, 2, 2, -1, 2});
    RunCheck(handler, entries.data(), entries.size(), false);
    handler.calls.clear();
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), -1);
    EXPECT_EQ(handler.calls, (Calls{"BeginFix", "Fix b", "Fix c", "Fix d"}));
    EXPECT_EQ(States(entries), (std::vector<int>{2, 2, 2, -1, -2}));

    // A second repair resumes with the entries still not in order.
    handler.calls.clear();
    entries[3].Attributes.Set("fix", "2");
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), 2);
    EXPECT_EQ(handler.calls, (Calls{"BeginFix", "Fix d", "Fix e", "EndFix"}));
}

TEST(RunFix, BeginAndEndStepsDecide)
{
    ScriptedHandler handler;
    auto entries = Entries({-2, -2});
    for (ConfigEntry& entry : entries)
        entry.State = 0; // never checked: every entry is repaired

    handler.beginFix = -1;
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), -1);
    EXPECT_EQ(handler.calls, Calls{"BeginFix"});
    EXPECT_EQ(States(entries), (std::vector<int>{0, 0}));

    handler.calls.clear();
    handler.beginFix = 2;
    handler.endFix = -2;
    EXPECT_EQ(RunFix(handler, entries.data(), entries.size()), -2);
    EXPECT_EQ(handler.calls, (Calls{"BeginFix", "Fix a", "Fix b", "EndFix"}));
}

int g_made = 0;
struct First : ScriptedHandler {
    First() { ++g_made; }
};
struct Second : ScriptedHandler {
    Second() { g_made *= 10; }
};

TEST(HandlerRegistry, MakesEachHandlerOnceOnFirstLookupInTableOrder)
{
    const HandlerRegistry::Row rows[] = {
        {"first", &MakeHandler<First>}, {"absent", nullptr}, {"second", &MakeHandler<Second>}};
    g_made = 0;
    HandlerRegistry registry(rows, 3);
    EXPECT_EQ(g_made, 0) << "nothing is made before the first lookup";

    ICheckFix* second = registry.Find("second");
    EXPECT_EQ(g_made, 10) << "made in table order: (0 + 1) * 10";
    ASSERT_NE(second, nullptr);
    EXPECT_NE(dynamic_cast<Second*>(second), nullptr);
    EXPECT_EQ(registry.Find("second"), second) << "one shared instance per type";
    EXPECT_NE(dynamic_cast<First*>(registry.Find("first")), nullptr);
    EXPECT_EQ(g_made, 10);

    EXPECT_EQ(registry.Find("absent"), nullptr) << "a type without a handler is unknown";
    EXPECT_EQ(registry.Find("First"), nullptr) << "matching is case-sensitive";
    EXPECT_EQ(registry.Find("firs"), nullptr);
    EXPECT_EQ(registry.Find(""), nullptr);
}

} // namespace
} // namespace Velmora::Assistant
