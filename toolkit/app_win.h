// The process-wide application object: owns the message loop and, through
// their parent chain, every window of the process.
#pragma once

#include <string>

namespace kelto {

struct Application {
    std::string caption;
};

Application& CreateApplication(std::string caption);
Application* TheApplication();

// Runs until WM_QUIT; returns its exit code.
int RunMessageLoop(Application& app);

// The general error handler's report: a system-modal box with the message.
void ShowFatalError(const std::string& message);

// A line for a debugger (DebugView, or WINEDEBUG=warn+seh under Wine).
void DebugTrace(const std::string& line);

}  // namespace kelto
