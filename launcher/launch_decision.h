// The launch decision: hand over to the installed Downloader, or update it.
#pragma once

#include <optional>
#include <string_view>

namespace kelto {

struct LauncherConfig;

// The force level for an installed version text: the entry of that name, else
// the entry named "0", else none.
std::optional<int> ForceLevel(const LauncherConfig& config, std::string_view installedVersion);

bool IsUpToDate(const LauncherConfig& config, std::string_view installedVersion);
bool IsForcedUpdate(const LauncherConfig& config, std::string_view installedVersion);
bool IsUninstallFirst(const LauncherConfig& config, std::string_view installedVersion);

enum class LaunchOutcome { HandOver, Update, UninstallThenUpdate };

struct LaunchFacts {
    bool testMode = false;
    bool upToDate = false;
    bool forcedUpdate = false;
    bool uninstallFirst = false;
};

// Asked only when the answer matters (not forced, not up to date, no test mode).
using WindowProbe = bool (*)();

LaunchOutcome DecideLaunch(const LaunchFacts& facts, WindowProbe downloaderWindowExists);

LaunchFacts GatherLaunchFacts(const LauncherConfig& config, std::string_view installedVersion,
                              bool testMode);

const char* LaunchOutcomeName(LaunchOutcome outcome);

}  // namespace kelto
