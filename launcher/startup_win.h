// Start-up: configuration, detection and the launch decision.
#pragma once

namespace kelto {

struct Application;
struct ProgressWindow;

// Either ends the process (hand-over; another launcher of the session
// installing, whose window it brings to the front) or returns the built
// progress window for the message loop to show; null when the window could
// not be made (traced), and then nothing was started.
ProgressWindow* StartUp(Application& app);

}  // namespace kelto
