// Lines for a debugger: what the launcher did and when. Under Wine,
// WINEDEBUG=warn+seh shows them; the benchmarks read the times.
#pragma once

#include <string_view>

namespace kelto {

// "Kelto2 +<ms since the process was created>: <what>".
void TraceStep(std::string_view what);

// "Kelto2: <line>", for facts rather than steps (the launch decision).
void DebugTrace(std::string_view line);

}  // namespace kelto
