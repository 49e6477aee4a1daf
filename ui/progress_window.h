// The progress window's record. It owns the configuration and lives until the
// process ends; the setup job's worker reaches it through CurrentProgressWindow.
#pragma once

#include <windows.h>

#include <atomic>

#include "config/launcher_config.h"

struct ProgressWindow {
    LauncherConfig Config;
    HWND Window = nullptr;
    HWND HeaderBox = nullptr;
    std::atomic<bool> SetupJobStarted{false};
};

extern ProgressWindow* CurrentProgressWindow;
