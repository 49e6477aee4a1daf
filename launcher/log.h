// The trace in "kelto2.log": switched on by the file's presence in the
// current folder, never created by the launcher.
#pragma once

#include <string>

inline constexpr const char* kLogFileName = "kelto2.log";

// Appends text and CR LF, in the system's ANSI code page, when the file
// exists and is no folder. Failures are silent: the line is lost.
// Windows only (log_win.cpp).
void WriteLog(const std::string& fileName, const std::string& text);

inline void WriteLog(const std::string& text) {
    WriteLog(kLogFileName, text);
}
