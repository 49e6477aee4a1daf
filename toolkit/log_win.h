// The trace in "kelto2.log": switched on by the file's presence in the
// current folder, never created by the launcher.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/product.h"

namespace kelto {

// Appends text and CR LF, in the system's ANSI code page, when the file
// exists and is no folder. Failures are silent: the line is lost.
void WriteLog(std::string_view fileName, const std::string& text);

inline void WriteLog(const std::string& text) {
    WriteLog(kLogFileName, text);
}

}  // namespace kelto
