#include "launcher/launch_decision.h"

#include "config/launcher_config.h"
#include "launcher/version.h"
#include "toolkit/text.h"

// The value of the first [forceupdate] entry whose name (the text before its
// first '=') equals name; a line without '=' is all name and has an empty value.
static std::optional<std::string_view> EntryValueByName(const LauncherConfig& config,
                                                        std::string_view name) {
    for (const std::string& line : config.forceupdate) {
        std::string_view entry = line;
        size_t eq = entry.find('=');
        std::string_view entryName = entry.substr(0, eq);
        if (EqualsIgnoreAsciiCase(entryName, name)) {
            return eq == std::string_view::npos ? std::string_view() : entry.substr(eq + 1);
        }
    }
    return std::nullopt;
}

std::optional<int> ForceLevel(const LauncherConfig& config, std::string_view installedVersion) {
    std::optional<std::string_view> value;
    if (!installedVersion.empty()) {
        value = EntryValueByName(config, installedVersion);
    }
    if (!value) {
        // "0" is both the default for unlisted versions and the entry for
        // "nothing installed".
        value = EntryValueByName(config, kNoVersion);
    }
    if (!value) {
        return std::nullopt;
    }
    return ParseLeadingInt(*value);
}

bool IsUpToDate(const LauncherConfig& config, std::string_view installedVersion) {
    std::optional<ForceEntry> latest = FindEntry(config, "latest");
    std::string_view latestText = latest ? std::string_view(latest->value) : std::string_view();
    return CompareVersion(ParseVersion(installedVersion), ParseVersion(latestText)) >= 0;
}

bool IsForcedUpdate(const LauncherConfig& config, std::string_view installedVersion) {
    std::optional<int> level = ForceLevel(config, installedVersion);
    return level && *level >= 1;
}

bool IsUninstallFirst(const LauncherConfig& config, std::string_view installedVersion) {
    std::optional<int> level = ForceLevel(config, installedVersion);
    return level && *level >= 2;
}

LaunchFacts GatherLaunchFacts(const LauncherConfig& config, std::string_view installedVersion,
                              bool testMode) {
    LaunchFacts facts;
    facts.testMode = testMode;
    facts.upToDate = IsUpToDate(config, installedVersion);
    std::optional<int> level = ForceLevel(config, installedVersion);
    facts.forcedUpdate = level && *level >= 1;
    facts.uninstallFirst = level && *level >= 2;
    return facts;
}

LaunchOutcome DecideLaunch(const LaunchFacts& facts, WindowProbe downloaderWindowExists) {
    if (!facts.testMode) {
        if (facts.upToDate) {
            return LaunchOutcome::HandOver;
        }
        // A running Downloader that is not forced to update is good enough.
        if (!facts.forcedUpdate && downloaderWindowExists && downloaderWindowExists()) {
            return LaunchOutcome::HandOver;
        }
    }
    return facts.uninstallFirst ? LaunchOutcome::UninstallThenUpdate : LaunchOutcome::Update;
}

const char* LaunchOutcomeName(LaunchOutcome outcome) {
    switch (outcome) {
        case LaunchOutcome::HandOver:
            return "hand over";
        case LaunchOutcome::Update:
            return "update";
        case LaunchOutcome::UninstallThenUpdate:
            return "uninstall, then update";
    }
    return "unknown";
}
