// The process-wide application object: owns the message loop and, through
// its own window, every window of the process.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/handles_win.h"

namespace kelto {

struct Application {
    std::string caption;
    // A classic application window: titled with the caption, 0 by 0 so that
    // nothing of it is seen, the owner of every top-level window. Its taskbar
    // button stands for the program, and minimising it takes the owned
    // windows off the screen with it. Made with the first top-level window:
    // a run that hands over shows nothing and should not pay for it.
    // Destroyed when the application object is replaced; let go of when it
    // goes by itself (closed while there is no main window).
    WindowHandle window;
    // Destroying the main window ends the message loop.
    HWND mainWindow = nullptr;
};

// Replaces the application object of the process (and destroys the window
// of the one before, with every window it owns). The object is never
// destroyed at exit: its window goes with the process.
Application& CreateApplication(std::string caption);
Application* TheApplication();
// The application's window, made at the first call. Null, with the error
// traced, when it cannot be made (the next call tries again): top-level
// windows are then made without an owner.
HWND ApplicationWindow(Application& app);

// Registers a class for the toolkit's top-level windows (standard icon and
// arrow pointer) unless it exists; returns the module they belong to.
HINSTANCE RegisterTopLevelClass(const wchar_t* className, WNDPROC procedure);

// Shows the main window (and the application window, for its taskbar
// button) unless it is visible already, then runs until WM_QUIT; returns
// its exit code.
int RunMessageLoop(Application& app);

bool IsApplicationMinimized(const Application& app);
// Minimises without activating; the owned windows leave the screen with it.
void MinimizeApplicationWindow(Application& app);
// Keeps the size (0 by 0) and puts the top-left corner at the screen point.
void MoveApplicationWindow(Application& app, int left, int top);

// The general error handler's report: a system-modal box with the message.
void ShowFatalError(const std::string& message);

}  // namespace kelto
