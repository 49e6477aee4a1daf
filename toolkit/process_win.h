// Starting other programs through the shell.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kelto {

struct ProcessResult {
    bool started = false;   // ShellExecuteEx succeeded
    bool finished = false;  // ended within the wait (always false with no wait)
    DWORD exitCode = 0;     // read after the end or after the time-out's termination
    DWORD error = 0;        // GetLastError of a failed start
};

// Starts file with parameters (passed unchanged, " /S" keeps its blank),
// shown or hidden, in the launcher's current folder. With waitMs > 0 waits
// that long and ends a program that outlives it (its exit code is then 0).
// When the shell hands the work to a program that already runs, there is
// no process to wait for: started, not finished, exit code 0.
[[nodiscard]] ProcessResult RunProcess(const std::string& file, const std::string& parameters,
                                       DWORD waitMs, bool hidden);

// True when the program was started and, if waited for, ended in time.
inline bool Succeeded(const ProcessResult& r, DWORD waitMs) {
    return r.started && (waitMs == 0 || r.finished);
}

// Opens a program shown, without waiting (web links use it).
bool ShellOpen(const std::string& file, const std::string& parameters);

// The full path under which a program is registered (the App Paths entry
// of its file name), when that names an existing file; "" otherwise.
std::string RegisteredProgramPath(std::string_view exeName);

}  // namespace kelto
