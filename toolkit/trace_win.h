// Lines for a debugger: what the launcher did and when. Under Wine,
// WINEDEBUG=warn+seh shows them; the benchmarks read the times. None of
// these functions changes the thread's last error.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace kelto {

// "Kelto2 +<ms since the process was created>: <what>".
void TraceStep(std::string_view what);

// "Kelto2: <line>", for facts rather than steps (the launch decision).
void DebugTrace(std::string_view line);

// A step that failed, as a TraceStep line:
// "<step> failed: error <n>: <system text>" for a Win32 or WinInet error,
// "<step> failed: status 0x<8 hex digits>: <system text>" for an NTSTATUS;
// without ": <system text>" when the system has none for it.
void TraceError(std::string_view step, DWORD error);
void TraceStatus(std::string_view step, LONG status);

// TraceError with GetLastError, read before anything else. The argument is
// made before the call: a step built at run time (it may allocate) takes
// the error first and goes to TraceError instead.
void LogLastError(const char* step);

// The system's text for a Win32 or WinInet error on one line; "" when it
// has none. WinInet's texts come from wininet.dll only when it is already
// loaded (a WinInet call loaded it): nothing is loaded to find them.
std::string ErrorText(DWORD error);

// Test hook: receives every trace line (without its "\n") in place of the
// debugger; nullptr restores the debugger. Returns the previous one.
using TraceSink = void (*)(std::string_view line);
TraceSink SetTraceSinkForTesting(TraceSink sink);

}  // namespace kelto
