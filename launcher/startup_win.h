// Start-up: configuration, detection and the launch decision.
#pragma once

namespace kelto {

struct Application;
struct ProgressWindow;

// Either ends the process (hand-over) or returns the progress window for the
// message loop to show; nullptr while the update path has no window to show.
ProgressWindow* StartUp(Application& app);

}  // namespace kelto
