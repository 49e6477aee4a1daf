#include "launcher/launch_decision.h"

#include "config/config_signature.h"
#include "config/launcher_config.h"
#include "launcher/version.h"
#include "toolkit/text.h"

namespace kelto {

std::optional<int> ForceLevel(const LauncherConfig& config, std::string_view installedVersion) {
    // An empty version finds no entry of its own. "0" is both the default
    // for unlisted versions and the entry for "nothing installed".
    std::optional<ForceEntry> entry = FindEntry(config, installedVersion);
    if (!entry) {
        entry = FindEntry(config, kNoVersion);
    }
    if (!entry) {
        return std::nullopt;
    }
    return ParseLeadingInt(entry->value);
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

int RolloutShare(const LauncherConfig& config) {
    std::optional<ForceEntry> rollout = FindEntry(config, kRolloutKey);
    std::optional<int> share = rollout ? ParseRolloutShare(rollout->value) : std::nullopt;
    return share.value_or(kFullRollout);
}

bool IsHeldBackByRollout(const LauncherConfig& config, std::string_view installedVersion,
                         int rolloutBucket) {
    // Nothing installed gets the release whatever the share: a paused
    // release must not leave a machine without a Downloader.
    return installedVersion != kNoVersion && !IsForcedUpdate(config, installedVersion) &&
           !IsInRollout(rolloutBucket, RolloutShare(config));
}

LaunchFacts GatherLaunchFacts(const LauncherConfig& config, std::string_view installedVersion,
                              bool testMode, std::optional<int> rolloutBucket) {
    LaunchFacts facts;
    facts.testMode = testMode;
    facts.upToDate = IsUpToDate(config, installedVersion);
    facts.forcedUpdate = IsForcedUpdate(config, installedVersion);
    facts.uninstallFirst = IsUninstallFirst(config, installedVersion);
    facts.heldBack = rolloutBucket && IsHeldBackByRollout(config, installedVersion, *rolloutBucket);
    return facts;
}

LaunchOutcome DecideLaunch(const LaunchFacts& facts, WindowProbe downloaderWindowExists) {
    if (!facts.testMode) {
        if (facts.upToDate || facts.heldBack) {
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

}  // namespace kelto
