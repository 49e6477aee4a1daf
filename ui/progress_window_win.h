// The progress window: its record, its construction and layout, its skin,
// and its reactions to the user and to the setup job.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string_view>

#include "config/launcher_config.h"
#include "toolkit/app_win.h"
#include "toolkit/window_win.h"
#include "transfer/http_pending_win.h"
#include "transfer/setup_job_win.h"
#include "ui/image_types_win.h"
#include "ui/layout.h"

namespace kelto {

// Sent by the job's worker after a piece of the Setup package arrived:
// wParam the bar's new position (0..10000), lParam the status text (GBK,
// NUL-terminated) or null, valid until the send returns.
inline constexpr UINT WM_SETUP_PROGRESS = WM_USER + 1000;

// The progress window's class: another run of the launcher finds the window
// by it.
inline constexpr std::string_view kProgressWindowClass = "TKelto2Window";

struct ProgressWindow {
    TopWindow Window;
    Element HeaderBox;
    Element CloseArea;
    Element MinimizeArea;
    Element CaptionLabel;
    Element ProgressBar;
    Element DescriptionLine;
    Element StatusLine;
    Element Link1;
    Element Link2;
    SkinImage MaskImage;
    SkinImage HeaderImage;
    SkinImage BackgroundImage;
    SkinImage CloseImage;
    LauncherConfig Config;
    std::atomic<bool> SetupJobStarted{false};

    // Wired at construction: the application that owns the window, and what
    // the job does after a successful setup (the hand-over, from above).
    Application* Owner = nullptr;
    void (*HandOver)() = nullptr;
    // What the skin pictures gave, for the layout pass.
    SkinFacts Skin;
    // The setup job's record; it lives as long as this one.
    SetupJob Job;
    // The DPI the window is laid out for, and the pictures as drawn at it:
    // copies scaled once per DPI, empty at 96, where the decoded pictures
    // are drawn as they are.
    int Dpi = kBaseDpi;
    SkinImage ScaledHeader;
    SkinImage ScaledBackground;
    // The link that Tab has marked: 0 none (as the window starts), 1 or 2.
    int FocusedLink = 0;
};

// A new record that is never destroyed: the setup job's worker may still
// read it while the process ends, after the main thread has left the loop.
ProgressWindow& NewProgressWindow();

extern ProgressWindow* CurrentProgressWindow;
// The window's handle, written once while it is built, before the worker
// exists; the worker addresses its messages to it.
extern HWND ProgressWindowHandle;

// Makes the window and its elements from the configuration and wires their
// events; the owner's window owns the progress window, and it becomes the
// main window. False, with the error traced, when the window could not be
// made: then nothing else is made or wired.
bool BuildProgressWindow(ProgressWindow& pw, Application& owner);
// The skin pictures' requests, on their way side by side; none for a
// picture without a URL.
struct SkinRequests {
    std::shared_ptr<PendingGet> header, close, mask, background;
};
// Asks for the pictures c names; the window need not exist yet.
SkinRequests RequestSkin(const LauncherConfig& c);
// Takes the pictures' answers, sizes the window to them and lays it out.
void LoadSkin(ProgressWindow& pw, const SkinRequests& requests);
// Puts every element in place at the window's DPI; called at the end of
// LoadSkin and again whenever the DPI changes.
void LayoutProgressWindow(ProgressWindow& pw);

// For the main thread after its message loop ended: a job still at work
// is stopped and its files removed.
void EndSetupJobWithTheWindow(ProgressWindow& pw);

// The progress callback of the setup download; runs on the worker.
bool ReportSetupProgress(int32_t total, int32_t done, uint32_t startTick);

}  // namespace kelto
