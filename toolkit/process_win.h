// Starting other programs by their path, with the launcher's rights or the
// user's own.
#pragma once

#include <windows.h>

#include <string>

namespace kelto {

// Whose rights a started program gets when the launcher runs elevated.
enum class StartRights {
    kLauncher,  // the launcher's own: the checked Setup package
    // The user's limited ones when someone who is no administrator could
    // change the program or its folder; the launcher's own otherwise.
    kUserIfReplaceable,
    kUser,  // the user's limited ones always: the browser
};

struct ProcessStart {
    std::string exe;         // full path; nothing else is searched
    std::string parameters;  // after the quoted path and one blank, unchanged
    std::string folder;      // its current folder; "" keeps the launcher's
    DWORD waitMs = 0;        // 0: not waited for
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
// handles. With waitMs > 0 waits that long and ends a program that outlives
// it (its exit code is then 0); with waitForItsProcesses the processes it
// started are waited for in the same time, and left alone at its end.
// Without an elevated token and its linked one, every start is the
// launcher's own. A program that asks for elevation is not started with
// the user's rights (ERROR_ELEVATION_REQUIRED): never elevated silently.
[[nodiscard]] ProcessResult RunProcess(const ProcessStart& start);

// True when the program was started and, if waited for, ended in time.
inline bool Succeeded(const ProcessResult& r, DWORD waitMs) {
    return r.started && (waitMs == 0 || r.finished);
}

// True when the descriptor lets the holder of token (an impersonation or
// identification token) change a file (write, delete, rename it, change its
// permissions or owner) or, with isFolder, a folder (also: add files to it,
// a DLL beside a program, or remove them). A failed check counts as a yes.
bool LetsChange(HANDLE token, PSECURITY_DESCRIPTOR descriptor, bool isFolder);

// LetsChange of the file at path and of its folder; a security that cannot
// be read counts as changeable.
bool IsReplaceableWith(HANDLE token, const std::string& path);

}  // namespace kelto
