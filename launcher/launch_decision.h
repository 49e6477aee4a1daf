// The launch decision: hand over to the installed Downloader, or update it.
// Everything here is portable and pure: the facts come from the
// configuration and the installed version, the one question about the
// running system (is a Downloader window open?) is asked through a probe.
#pragma once

#include <optional>
#include <string_view>

namespace kelto {

struct LauncherConfig;

// The force level for an installed version text: the entry of that name, else
// the entry named "0", else none.
std::optional<int> ForceLevel(const LauncherConfig& config, std::string_view installedVersion);

// True when the installed version is at least [forceupdate] latest, both
// read by ParseVersion: a missing or empty latest reads as 0.0.0.0, so that
// anything, even nothing installed ("0"), is then up to date.
bool IsUpToDate(const LauncherConfig& config, std::string_view installedVersion);
// The installed version's force level (ForceLevel) is 1 or more: update even
// when a Downloader is running.
bool IsForcedUpdate(const LauncherConfig& config, std::string_view installedVersion);
// The force level is 2 or more: run the old version's uninstaller first.
bool IsUninstallFirst(const LauncherConfig& config, std::string_view installedVersion);

// The share of machines [forceupdate] rollout offers latest to, 0..100;
// every machine (kFullRollout) when the value is missing or malformed.
int RolloutShare(const LauncherConfig& config);

// Whether a staged rollout keeps latest from this machine, whose bucket is
// rolloutBucket: only an installed Downloader (anything but "0") whose
// version is not forced (ForceLevel below 1) can be held back, when the
// bucket is outside the share.
bool IsHeldBackByRollout(const LauncherConfig& config, std::string_view installedVersion,
                         int rolloutBucket);

enum class LaunchOutcome { HandOver, Update, UninstallThenUpdate };

// What the decision rests on, gathered once (GatherLaunchFacts).
struct LaunchFacts {
    bool testMode = false;
    bool upToDate = false;
    bool forcedUpdate = false;
    bool uninstallFirst = false;
    bool heldBack = false;  // a staged rollout does not offer latest here yet
};

// Asked only when the answer matters (not forced, not up to date, no test mode).
using WindowProbe = bool (*)();

// Outside test mode, an up-to-date Downloader, one that a staged rollout
// holds back, or a running one that is not forced to update, is handed
// over to; everything else is updated, after
// the uninstaller when the force level says so. Test mode always updates.
// downloaderWindowExists may be null (no Downloader window is assumed).
LaunchOutcome DecideLaunch(const LaunchFacts& facts, WindowProbe downloaderWindowExists);

// The facts for config and the installed version text ("0": nothing
// installed, "": a Downloader without a readable version). Without the
// machine's rolloutBucket no rollout holds it back.
LaunchFacts GatherLaunchFacts(const LauncherConfig& config, std::string_view installedVersion,
                              bool testMode, std::optional<int> rolloutBucket = std::nullopt);

// The outcome's name for the trace: "hand over", "update",
// "uninstall, then update".
const char* LaunchOutcomeName(LaunchOutcome outcome);

}  // namespace kelto
