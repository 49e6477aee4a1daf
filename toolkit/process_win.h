// Starting other programs by their path, with the launcher's rights or the
// user's own.
#pragma once

#include <windows.h>

#include <string>

namespace kelto {

// Whose rights a started program gets when the launcher runs elevated.
enum class StartRights {
    kLauncher,  // the launcher's own: the checked Setup package
    // The launcher's own only when the program and every folder above it
    // are owned by administrators and the user may change none of them
    // (OnlyAdministratorsMayChange); the user's limited ones otherwise.
    kUserIfReplaceable,
    kUser,  // the user's limited ones always: the browser
};

struct ProcessStart {
    std::string exe;           // full path; nothing else is searched
    std::string parameters;    // after the quoted path and one blank, unchanged
    bool inItsFolder = false;  // its own folder as its current one, else the launcher's
    std::string tempFolder;    // its TMP and TEMP; "" keeps the launcher's environment
    DWORD waitMs = 0;          // 0: not waited for
    bool hidden = false;
    StartRights rights = StartRights::kLauncher;
    // The wait also covers every process it starts (an uninstaller that
    // hands its work to a copy of itself): those of its job or, where it
    // cannot have one, those found by parent id.
    bool waitForItsProcesses = false;
};

struct ProcessResult {
    bool started = false;   // a process was made
    bool finished = false;  // ended within the wait (always false with no wait)
    DWORD exitCode = 0;     // read after the end or after the time-out's termination
    DWORD error = 0;        // the Windows error of a failed start
};

// Starts the program with CreateProcess: no file associations, no inherited
// handles. One that keeps the launcher's rights is held from its check
// until it has started, and started by the final path that was checked. With waitMs > 0 waits that
// long and ends a program that outlives it (its exit code is then 0); with waitForItsProcesses the
// processes it started are waited for in the same time, and left alone at its end. Without an
// elevated token and its linked one, every start is the launcher's own. A program that asks for
// elevation is not started with the user's rights (ERROR_ELEVATION_REQUIRED): never elevated
// silently.
[[nodiscard]] ProcessResult RunProcess(const ProcessStart& start);

// True when the program was started and, if waited for, ended in time.
inline bool Succeeded(const ProcessResult& r, DWORD waitMs) {
    return r.started && (waitMs == 0 || r.finished);
}

}  // namespace kelto
