#include "launcher/launch_decision.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/launcher_config.h"
#include "toolkit/text.h"

using namespace kelto;

namespace {

using Entries = std::vector<std::string>;

LauncherConfig WithEntries(Entries entries) {
    LauncherConfig config;
    config.forceupdate = std::move(entries);
    return config;
}

int g_probeCalls = 0;
bool WindowPresent() {
    ++g_probeCalls;
    return true;
}
bool WindowAbsent() {
    ++g_probeCalls;
    return false;
}

TEST(LaunchDecisionTest, ForceLevel) {
    struct Case {
        Entries entries;
        std::string installed;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {{}, "1.6.5.2282", std::nullopt},
        {{"latest=1.6.5.2288"}, "1.6.5.2282", std::nullopt},
        {{"1.6.5.2282=1"}, "1.6.5.2282", 1},
        {{"1.6.5.2282=2"}, "1.6.5.2282", 2},
        // The version's own entry wins over the default, even with 0.
        {{"0=1", "1.6.5.2282=0"}, "1.6.5.2282", 0},
        {{"0=1"}, "1.6.5.2288", 1},
        {{"0=1"}, "0", 1},
        {{"0=2"}, "", 2},
        {{"=5", "0=1"}, "", 1},  // an empty version never matches a name
        {{"=5"}, "", std::nullopt},
        {{"1.6.5.22820=3"}, "1.6.5.2282", std::nullopt},
        {{"1.6.5.2282=3"}, "1.6.5.22820", std::nullopt},
        {{"1.6.5.2282=1", "1.6.5.2282=2"}, "1.6.5.2282", 1},
        {{"Ab.C=2"}, "aB.c", 2},
        {{"1.6.5.2282=2abc"}, "1.6.5.2282", 2},
        {{"1.6.5.2282=abc"}, "1.6.5.2282", 0},
        {{"1.6.5.2282="}, "1.6.5.2282", 0},
        {{"1.6.5.2282=-3"}, "1.6.5.2282", -3},
        {{"1.6.5.2282=+2"}, "1.6.5.2282", 2},
        {{"1.6.5.2282=1=2"}, "1.6.5.2282", 1},
        {{"0=99999999999"}, "0", 2147483647},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ForceLevel(WithEntries(c.entries), c.installed), c.expected)
            << ::testing::PrintToString(c.entries) << " installed \"" << c.installed << '"';
    }
}

TEST(LaunchDecisionTest, ForcedAndUninstallThresholds) {
    struct Case {
        std::string level;  // "" for no entry at all
        bool forced;
        bool uninstall;
    };
    const Case cases[] = {
        {"", false, false}, {"-1", false, false}, {"0", false, false},
        {"1", true, false}, {"2", true, true},    {"3", true, true},
    };
    for (const Case& c : cases) {
        LauncherConfig config;
        if (!c.level.empty()) {
            config.forceupdate = {"1.6.5.2282=" + c.level};
        }
        EXPECT_EQ(IsForcedUpdate(config, "1.6.5.2282"), c.forced) << c.level;
        EXPECT_EQ(IsUninstallFirst(config, "1.6.5.2282"), c.uninstall) << c.level;
    }
}

TEST(LaunchDecisionTest, IsUpToDate) {
    struct Case {
        Entries entries;
        std::string installed;
        bool expected;
    };
    const Case cases[] = {
        {{}, "0", true},  // no "latest": everything is up to date
        {{}, "1.6.5.2282", true},
        {{}, "", true},
        {{"latest=1.6.5.2288"}, "1.6.5.2282", false},
        {{"latest=1.6.5.2288"}, "1.6.5.2288", true},
        {{"latest=1.6.5.2288"}, "1.6.5.2289", true},
        {{"latest=1.6.5.2288"}, "1.10.0.0", true},
        {{"latest=1.6.5.2288"}, "0", false},
        {{"latest=1.6.5.2288"}, "", false},
        {{"LATEST=1.7.0.1"}, "1.6.5.2288", false},
        {{"latest="}, "0", true},
        {{"latest=1.6.5.2288", "latest=0"}, "1.0.0.0", false},
        {{"latestx=9.0.0.0"}, "1.0.0.0", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsUpToDate(WithEntries(c.entries), c.installed), c.expected)
            << ::testing::PrintToString(c.entries) << " installed \"" << c.installed << '"';
    }
}

// Every row of the decision table; "any" columns are spelled out.
TEST(LaunchDecisionTest, DecideLaunchTable) {
    struct Case {
        bool testMode, upToDate, forced, uninstall;
        bool windowExists;
        LaunchOutcome expected;
        bool probeAsked;
    };
    using enum LaunchOutcome;
    const Case cases[] = {
        // Up to date: hand over, whatever else holds.
        {false, true, false, false, false, HandOver, false},
        {false, true, false, false, true, HandOver, false},
        {false, true, true, false, true, HandOver, false},
        {false, true, true, true, false, HandOver, false},
        // Not forced: a running Downloader is handed over to.
        {false, false, false, false, true, HandOver, true},
        {false, false, false, false, false, Update, true},
        // Forced: update, uninstalling first at level 2, window not asked.
        {false, false, true, false, true, Update, false},
        {false, false, true, false, false, Update, false},
        {false, false, true, true, true, UninstallThenUpdate, false},
        {false, false, true, true, false, UninstallThenUpdate, false},
        // Test mode: always the update path, never the window.
        {true, true, false, false, true, Update, false},
        {true, false, false, false, true, Update, false},
        {true, false, true, false, false, Update, false},
        {true, true, true, true, true, UninstallThenUpdate, false},
        {true, false, true, true, false, UninstallThenUpdate, false},
    };
    for (const Case& c : cases) {
        LaunchFacts facts{c.testMode, c.upToDate, c.forced, c.uninstall};
        g_probeCalls = 0;
        LaunchOutcome got = DecideLaunch(facts, c.windowExists ? WindowPresent : WindowAbsent);
        SCOPED_TRACE(::testing::Message()
                     << "test " << c.testMode << " upToDate " << c.upToDate << " forced "
                     << c.forced << " uninstall " << c.uninstall << " window " << c.windowExists);
        EXPECT_EQ(got, c.expected) << LaunchOutcomeName(got);
        EXPECT_EQ(g_probeCalls, c.probeAsked ? 1 : 0);
    }
}

TEST(LaunchDecisionTest, MissingProbeMeansNoWindow) {
    LaunchFacts facts;  // not up to date, not forced, no test mode
    EXPECT_EQ(DecideLaunch(facts, nullptr), LaunchOutcome::Update);
}

// From the configuration and the installed version to the outcome.
TEST(LaunchDecisionTest, Scenarios) {
    struct Case {
        const char* name;
        Entries entries;
        std::string installed;
        bool testMode;
        bool windowExists;
        LaunchOutcome expected;
        bool probeAsked;
    };
    using enum LaunchOutcome;
    const Entries latest = {"latest=1.6.5.2288"};
    const Case cases[] = {
        {"nothing fetched, nothing installed", {}, "0", false, false, HandOver, false},
        {"nothing fetched, installed", {}, "1.6.5.2282", false, true, HandOver, false},
        {"nothing installed, no window", latest, "0", false, false, Update, true},
        {"nothing installed, stray window", latest, "0", false, true, HandOver, true},
        {"nothing installed, forced by 0=1",
         {"latest=1.6.5.2288", "0=1"},
         "0",
         false,
         true,
         Update,
         false},
        {"up to date", latest, "1.6.5.2288", false, true, HandOver, false},
        {"old and running", latest, "1.6.5.2282", false, true, HandOver, true},
        {"old, forced, running",
         {"latest=1.6.5.2288", "1.6.5.2282=1"},
         "1.6.5.2282",
         false,
         true,
         Update,
         false},
        {"old, level 2",
         {"latest=1.6.5.2288", "1.6.5.2282=2"},
         "1.6.5.2282",
         false,
         true,
         UninstallThenUpdate,
         false},
        {"own entry 0 beats 0=1",
         {"latest=1.6.5.2288", "0=1", "1.6.5.2282=0"},
         "1.6.5.2282",
         false,
         true,
         HandOver,
         true},
        {"test mode, up to date", latest, "1.6.5.2288", true, true, Update, false},
        {"test mode, level 2",
         {"latest=1.6.5.2288", "1.6.5.2288=2"},
         "1.6.5.2288",
         true,
         true,
         UninstallThenUpdate,
         false},
        {"no version resource, default level 1",
         {"latest=1.6.5.2288", "0=1"},
         "",
         false,
         true,
         Update,
         false},
        {"no version resource, not forced", latest, "", false, false, Update, true},
    };
    for (const Case& c : cases) {
        LauncherConfig config = WithEntries(c.entries);
        LaunchFacts facts = GatherLaunchFacts(config, c.installed, c.testMode);
        g_probeCalls = 0;
        LaunchOutcome got = DecideLaunch(facts, c.windowExists ? WindowPresent : WindowAbsent);
        EXPECT_EQ(got, c.expected) << c.name << ": got " << LaunchOutcomeName(got);
        EXPECT_EQ(g_probeCalls, c.probeAsked ? 1 : 0) << c.name;
    }
}

// A staged rollout holds back only an installed, unforced Downloader whose
// bucket is at or above the share, and only when the bucket was asked.
TEST(LaunchDecisionTest, Rollout) {
    using enum LaunchOutcome;
    struct Case {
        const char* rules;
        const char* installed;
        std::optional<int> bucket;
        bool testMode;
        LaunchOutcome expected;
    };
    const Case cases[] = {
        {"rollout=0", "1.6.5.2282", 0, false, HandOver},
        {"rollout=30", "1.6.5.2282", 30, false, HandOver},
        {"rollout=30", "1.6.5.2282", 29, false, Update},
        {"rollout=5%", "1.6.5.2282", 99, false, Update},  // malformed: every machine
        {"rollout=0", "0", 0, false, Update},
        {"rollout=0,1.6.5.2282=1", "1.6.5.2282", 0, false, Update},
        {"rollout=0", "1.6.5.2282", 0, true, Update},
        {"rollout=0", "1.6.5.2282", std::nullopt, false, Update},
    };
    for (const Case& c : cases) {
        Entries entries{"latest=1.6.5.2288"};
        for (std::string_view rule : SplitText(c.rules, ',')) {
            entries.emplace_back(rule);
        }
        LaunchFacts facts =
            GatherLaunchFacts(WithEntries(entries), c.installed, c.testMode, c.bucket);
        EXPECT_EQ(DecideLaunch(facts, WindowAbsent), c.expected)
            << c.rules << " installed " << c.installed << " bucket " << c.bucket.value_or(-1);
    }
}

TEST(LaunchDecisionTest, OutcomeNamesAreDistinct) {
    std::string handOver = LaunchOutcomeName(LaunchOutcome::HandOver);
    std::string update = LaunchOutcomeName(LaunchOutcome::Update);
    std::string uninstall = LaunchOutcomeName(LaunchOutcome::UninstallThenUpdate);
    EXPECT_FALSE(handOver.empty());
    EXPECT_NE(handOver, update);
    EXPECT_NE(update, uninstall);
    EXPECT_NE(handOver, uninstall);
}

}  // namespace
