#include "launcher/handover_win.h"

#include <windows.h>

#include <algorithm>
#include <exception>

#include "launcher/installed_downloader_win.h"
#include "toolkit/log_win.h"
#include "toolkit/process_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_pending_win.h"
#include "transfer/http_win.h"

namespace kelto {

namespace {

// The wait runs on the main thread before its message loop, or on the
// setup job's thread: whatever this thread owns must not stall meanwhile.
void HandlePendingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

HWND FindDownloaderWindow() {
    return FindWindowW(ToWide(kDownloaderWindowClass).c_str(), nullptr);
}

HWND WaitForDownloaderWindow(const HandOverTiming& timing) {
    Sleep(timing.pollMs);
    DWORD start = GetTickCount();
    HWND window = nullptr;
    while (window == nullptr || !IsWindow(window)) {
        Sleep(timing.pollMs);
        window = FindDownloaderWindow();
        HandlePendingMessages();
        // Unsigned, so the tick count's wrap after 49 days does not matter.
        if (GetTickCount() - start > timing.windowSearchLimitMs) {
            WriteLog("Failed to get Tmvna_downloader_MsgWin");
            return nullptr;
        }
    }
    return window;
}

}  // namespace

bool DownloaderWindowExists() {
    return FindDownloaderWindow() != nullptr;
}

uintptr_t RunDownloader(int gameNumber, const HandOverTiming& timing, std::string_view serverRoot,
                        PendingGet* firstRefresh) {
    std::string exe = FindDownloaderExe();
    if (exe.empty()) {
        return 0;
    }
    // A stale software.xml is no reason to keep the user from the Downloader.
    try {
        UpdateSoftwareXml(timing, serverRoot, firstRefresh);
    } catch (const std::exception&) {
    }
    WriteLog("Executing " + exe);
    // A failed start is no failure yet: a Downloader that already runs is
    // still found and told.
    // Shown and not waited for; with the user's rights unless only
    // administrators could have written it; in its own folder, never the
    // one the user ran the launcher from (their Downloads folder, say).
    ProcessStart start;
    start.exe = exe;
    start.parameters = "/u";
    start.inItsFolder = true;
    start.rights = StartRights::kUserIfReplaceable;
    (void)RunProcess(start);

    HWND window = WaitForDownloaderWindow(timing);
    if (window == nullptr) {
        return 0;
    }
    TraceStep("Downloader window found");
    WriteLog(SendMessageLogLine(reinterpret_cast<intptr_t>(window), kHandOverMessage, gameNumber));
    // Waits until the Downloader has taken the message; what it answers
    // means nothing to the launcher. Only a Downloader that does not take
    // it within the time limit is given up on: one that Windows merely
    // thinks hung (busy for 5 s) still gets the game, where SMTO_ABORTIFHUNG
    // would give up on it at once.
    DWORD_PTR ignored = 0;
    // A Downloader that never answers reads ERROR_TIMEOUT here.
    if (!SendMessageTimeoutW(window, kHandOverMessage, static_cast<WPARAM>(gameNumber), 0,
                             SMTO_NORMAL, timing.hungSendLimitMs, &ignored)) {
        LogLastError("send the hand-over message");
    } else {
        TraceStep("hand-over message sent");
    }
    return reinterpret_cast<uintptr_t>(window);
}

void UpdateSoftwareXml(const HandOverTiming& timing, std::string_view serverRoot,
                       PendingGet* firstRefresh) {
    const std::string url = SoftwareXmlUrl(serverRoot);
    const uint32_t start = GetTickCount();
    for (uint32_t attempt = 0; attempt < timing.refreshAttempts; ++attempt) {
        // Each attempt gets what is left of the refresh's time, up to the
        // limit of one request; once it is spent, no attempt is made.
        uint32_t spent = GetTickCount() - start;
        if (spent >= timing.refreshBudgetMs) {
            return;
        }
        RequestLimits limits = kServerFileLimits;
        limits.totalMs = std::min(limits.totalMs, timing.refreshBudgetMs - spent);
        // Asked again on every attempt; the file belongs to the current
        // product name even when only the older one is installed.
        std::string folder = GetInstallLocation(kProductName);
        if (folder.empty()) {
            // Without a folder the file would land at the root of the
            // current drive.
            WriteLog("update software.xml failed");
            return;
        }
        std::string path = folder + "\\" + std::string(kSoftwareXmlName);
        // The answer that came early is held in memory and written only now.
        HttpResult result = attempt == 0 && firstRefresh
                                ? AwaitDownloadToFile(*firstRefresh, path)
                                : DownloadToFile(url, path, "", nullptr, nullptr, limits);
        if (result.status == kHttpOk) {
            WriteLog("software.xml updated");
            return;
        }
        WriteLog("update software.xml failed");
        Sleep(timing.refreshPauseMs);
    }
}

void UninstallDownloader(const std::string& folder, uint32_t waitMs) {
    // An uninstaller may leave its work to a copy of itself and return at
    // once: what it starts is waited for too, or the copy would remove what
    // the update installs next.
    ProcessStart start;
    start.exe = folder + std::string(kUninstallerName);
    start.parameters = std::string(kUninstallParameters);
    start.waitMs = waitMs;
    start.hidden = true;
    start.inItsFolder = true;
    start.rights = StartRights::kUserIfReplaceable;
    start.waitForItsProcesses = true;
    (void)RunProcess(start);
}

}  // namespace kelto
