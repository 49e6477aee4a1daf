// Handing over to the Downloader, refreshing its software.xml, running its
// uninstaller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/handover.h"
#include "toolkit/product.h"
#include "transfer/http_pending_win.h"

namespace kelto {

bool DownloaderWindowExists();

// Starts the installed Downloader with "/u", waits for its message window
// and sends it the game number. Returns the window, or 0 when no Downloader
// is installed or its window never came. A RegistryError of the search for
// the executable reaches the caller; one of the software.xml refresh does
// not. serverRoot is the product's server; tests pass their own.
// firstRefresh, when given, is a request for serverRoot's software2.xml
// already on its way (StartGet), taken as the refresh's first attempt.
uintptr_t RunDownloader(int gameNumber, const HandOverTiming& timing = {},
                        std::string_view serverRoot = kServerRoot,
                        PendingGet* firstRefresh = nullptr);

// Replaces software.xml in the current product's folder from the server:
// up to timing.refreshAttempts attempts, each logged, with a pause after
// every failed one; the first is the answer of firstRefresh when given.
// Without such a folder nothing is fetched and one failure is logged; once
// the refresh's time is spent, no further attempt is made or logged.
void UpdateSoftwareXml(const HandOverTiming& timing = {}, std::string_view serverRoot = kServerRoot,
                       PendingGet* firstRefresh = nullptr);

// Runs "uninst.exe /S" of the folder (with its trailing '\') hidden and
// waits for it and for what it starts; a hanging uninstaller is ended after
// waitMs, and what it started is then no longer waited for.
void UninstallDownloader(const std::string& folder, uint32_t waitMs = kUninstallWaitMs);

}  // namespace kelto
