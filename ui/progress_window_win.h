// The progress window's record. It owns the configuration and lives until the
// process ends; the setup job's worker reaches it through CurrentProgressWindow.
#pragma once

#include <windows.h>

#include <atomic>

#include "config/launcher_config.h"

namespace kelto {

struct ProgressWindow {
    LauncherConfig Config;
    HWND Window = nullptr;
    HWND HeaderBox = nullptr;
    std::atomic<bool> SetupJobStarted{false};
};

// A new record that is never destroyed: the setup job's worker may still
// read it while the process ends, after the main thread has left the loop.
ProgressWindow& NewProgressWindow();

extern ProgressWindow* CurrentProgressWindow;

}  // namespace kelto
