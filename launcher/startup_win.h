// Start-up: configuration, detection and the launch decision.
#pragma once

#include <string>
#include <vector>

#include "config/remote_config_win.h"

namespace kelto {

struct Application;
struct ProgressWindow;

// What start-up has sent before the process readied anything else: the
// command line's arguments and the configuration's requests.
struct StartUpRequests {
    std::vector<std::string> args;
    RemoteConfigFetch config;
};

// Starts WinInet (OpenHttpSession) and sends the configuration's requests,
// first of all, so that the server's answers are on their way while the
// process gets ready.
StartUpRequests SendStartUpRequests();

// Either ends the process (hand-over; another launcher of the session
// installing, whose window it brings to the front) or returns the built progress window
// for the message loop to show; null when the window could not be made
// (traced), and then nothing was started.
ProgressWindow* StartUp(Application& app, StartUpRequests& requests);

}  // namespace kelto
