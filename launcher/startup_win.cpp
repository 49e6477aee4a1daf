#include "launcher/startup_win.h"

#include <windows.h>

#include "config/config_signature.h"
#include "config/remote_config_win.h"
#include "launcher/command_line.h"
#include "launcher/handover.h"
#include "launcher/handover_win.h"
#include "launcher/installed_downloader_win.h"
#include "launcher/launch_decision.h"
#include "launcher/rollout_win.h"
#include "launcher/single_install_win.h"
#include "launcher/version.h"
#include "toolkit/app_win.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_pending_win.h"
#include "ui/progress_window_win.h"

namespace kelto {

namespace {

std::vector<std::string> ProcessArguments() {
    return SplitCommandLine(ToUtf8(GetCommandLineW()));
}

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

// Where this machine stands in a staged release.
void TraceRollout(const LauncherConfig& config, int bucket, const LaunchFacts& facts) {
    DebugTrace("rollout " + std::to_string(RolloutShare(config)) + ", this machine's bucket " +
               std::to_string(bucket) + (facts.heldBack ? ": held back" : ""));
}

// The decision for this run, traced. The machine's place in a staged
// release is looked up only for one.
LaunchOutcome DecideThisLaunch(const LauncherConfig& config, const std::string& installed,
                               bool testMode) {
    std::optional<int> bucket;
    if (RolloutShare(config) < kFullRollout) {
        bucket = MachineRolloutBucket(LatestText(config));
    }
    LaunchFacts facts = GatherLaunchFacts(config, installed, testMode, bucket);
    LaunchOutcome outcome = DecideLaunch(facts, &DownloaderWindowExists);
    if (bucket) {
        TraceRollout(config, *bucket, facts);
    }
    TraceDecision(config, installed, facts, outcome);
    return outcome;
}

// A Downloader whose software.xml a hand-over would refresh gets the
// refresh's first request at once, beside the configuration's: when the
// decision is to hand over, its answer is there by then. Null when no
// Downloader executable was found, when it is found only under the older
// product name (whose refresh makes no request), and in test mode, which
// never hands over from here.
std::shared_ptr<PendingGet> StartEarlyRefresh(const std::string& exe, bool testMode) {
    if (testMode || exe.empty() || GetInstallLocation(kProductName).empty()) {
        return nullptr;
    }
    return StartGet(SoftwareXmlUrl(kServerRoot), kServerFileLimits);
}

// Whether the Downloader was found, started and messaged or not, the run
// ends here: there is nothing else the launcher could do for the user.
[[noreturn]] void HandOverAndExit(PendingGet* firstRefresh) {
    (void)RunDownloader(kGameNumber, {}, kServerRoot, firstRefresh);
    ExitProcess(0);
}

// After a successful setup the job's worker hands over to the fresh
// Downloader; its result changes nothing.
void HandOverAfterSetup() {
    (void)RunDownloader(kGameNumber);
}

// The old Downloader's uninstaller runs before the new one is fetched; its
// outcome does not change the update path.
void UninstallOutdated() {
    std::string folder = GetInstalledDir();
    if (!folder.empty()) {
        UninstallDownloader(folder);
    }
}

// Held by the main thread from the decision to install until the process
// ends; the system lets go of it then.
InstallLock gInstallLock;

// A user who sees nothing happen starts the launcher again. While another
// launcher of the session installs, this run brings that one's window to
// the front and ends without downloading; when none is shown in time, it
// installs all the same.
void LeaveTheInstallToAnother() {
    gInstallLock = TakeInstallLock(kInstallLockName);
    if (gInstallLock.state == InstallLockState::kHeldByAnother &&
        BringOtherProgressWindowForward(kOtherWindowWaitMs)) {
        ExitProcess(0);
    }
}

}  // namespace

StartUpRequests SendStartUpRequests() {
    OpenHttpSession();
    StartUpRequests requests;
    requests.args = ProcessArguments();
    requests.config = StartRemoteConfigFetch(BaseUrlArgument(requests.args));
    return requests;
}

ProgressWindow* StartUp(Application& app, StartUpRequests& requests) {
    ProgressWindow& window = NewProgressWindow();
    LauncherConfig& config = window.Config;

    // The configuration is on its way while the installed Downloader is
    // looked at; so is its software.xml when there is one to refresh.
    std::string exe = FindDownloaderExe();
    bool testMode = CommandLineHasSwitch(requests.args, "testui");
    std::shared_ptr<PendingGet> earlyRefresh = StartEarlyRefresh(exe, testMode);
    std::string installed = InstalledVersionOf(exe);
    FinishRemoteConfigFetch(requests.config, config);

    LaunchOutcome outcome = DecideThisLaunch(config, installed, testMode);
    if (outcome == LaunchOutcome::HandOver) {
        HandOverAndExit(earlyRefresh.get());
    }
    // The refresh after the setup asks the server anew.
    earlyRefresh.reset();
    LeaveTheInstallToAnother();
    if (outcome == LaunchOutcome::UninstallThenUpdate) {
        UninstallOutdated();
    }
    window.HandOver = &HandOverAfterSetup;
    // The pictures are on their way while the window is made.
    SkinRequests skin = RequestSkin(config);
    TraceStep("building the window");
    if (!BuildProgressWindow(window, app)) {
        return nullptr;
    }
    TraceStep("window built");
    LoadSkin(window, skin);
    SetTitle(window.Window, config.caption);
    if (!config.headerurl.empty()) {
        SetHandPointer(window.HeaderBox);
    }
    return &window;
}

}  // namespace kelto
