#include "toolkit/trace_win.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "toolkit/text_win.h"

namespace kelto {

namespace {

uint64_t FileTimeTicks(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// Milliseconds since the process was created, in 100 ns ticks' precision.
double MillisecondsSinceStart() {
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    GetSystemTimeAsFileTime(&now);
    return static_cast<double>(FileTimeTicks(now) - FileTimeTicks(created)) / 10000.0;
}

}  // namespace

void TraceStep(std::string_view what) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "Kelto2 +%.1fms: ", MillisecondsSinceStart());
    std::string line = stamp;
    line += what;
    line += '\n';
    OutputDebugStringW(ToWide(line).c_str());
}

void DebugTrace(std::string_view line) {
    OutputDebugStringW(ToWide("Kelto2: " + std::string(line) + "\n").c_str());
}

}  // namespace kelto
