#include "launcher/startup.h"

#include <windows.h>

#include <memory>

#include "config/remote_config.h"
#include "launcher/command_line.h"
#include "launcher/handover.h"
#include "launcher/installed_downloader.h"
#include "launcher/launch_decision.h"
#include "toolkit/app_win.h"
#include "toolkit/text_win.h"
#include "ui/progress_window.h"

ProgressWindow* CurrentProgressWindow = nullptr;

namespace {

std::vector<std::string> ProcessArguments() { return SplitCommandLine(ToUtf8(GetCommandLineW())); }

std::string LatestText(const LauncherConfig& config) {
    auto latest = FindEntry(config, "latest");
    return latest ? latest->value : std::string();
}

void TraceDecision(const LauncherConfig& config, const std::string& installed,
                   const LaunchFacts& facts, LaunchOutcome outcome) {
    auto level = ForceLevel(config, installed);
    DebugTrace("installed version \"" + installed + "\", latest \"" + LatestText(config) +
               "\", force level " + (level ? std::to_string(*level) : std::string("none")) +
               (facts.testMode ? ", test mode" : "") + " -> " + LaunchOutcomeName(outcome));
}

[[noreturn]] void HandOver() {
    // The hand-over to the running or freshly started Downloader comes here.
    ExitProcess(0);
}

}  // namespace

ProgressWindow* StartUp(Application& app) {
    // The record lives until the process ends: the worker thread reaches it.
    auto window = std::make_unique<ProgressWindow>();
    LauncherConfig& config = window->Config;

    std::vector<std::string> args = ProcessArguments();
    FetchRemoteConfig(config, BaseUrlArgument(args));

    std::string installed = GetInstalledVersion();
    bool testMode = CommandLineHasSwitch(args, "testui");
    LaunchFacts facts = GatherLaunchFacts(config, installed, testMode);
    LaunchOutcome outcome = DecideLaunch(facts, &DownloaderWindowExists);
    TraceDecision(config, installed, facts, outcome);

    if (outcome == LaunchOutcome::HandOver) {
        HandOver();
    }
    // The uninstall of an outdated Downloader and the progress window of the
    // update path attach here.
    return nullptr;
}
