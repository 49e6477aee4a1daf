#include "toolkit/trace_win.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "toolkit/handles_win.h"
#include "toolkit/text_win.h"

namespace kelto {

namespace {

// WinInet's own errors, whose texts are in wininet.dll.
constexpr DWORD kFirstInternetError = INTERNET_ERROR_BASE;
constexpr DWORD kLastInternetError = INTERNET_ERROR_BASE + 199;

std::atomic<TraceSink> gSink{nullptr};

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

void Emit(const std::string& line) {
    if (TraceSink sink = gSink.load()) {
        sink(line);
        return;
    }
    OutputDebugStringW(ToWide(line + "\n").c_str());
}

// The message table text of id in module (nullptr: the system's), on one
// line without its trailing line break; "" when there is none.
std::string MessageText(DWORD id, HMODULE module) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                  (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    LocalMemory<wchar_t*> text;
    DWORD chars =
        FormatMessageW(flags, module, id, 0, reinterpret_cast<wchar_t*>(text.Put()), 0, nullptr);
    if (chars == 0 || !text.IsValid()) {
        return {};
    }
    std::wstring line(text.Get(), chars);
    for (wchar_t& c : line) {
        if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
    }
    size_t end = line.find_last_not_of(L' ');
    line.resize(end == std::wstring::npos ? 0 : end + 1);
    return ToUtf8(line);
}

// ntdll is in every process: its table holds the NTSTATUS texts. Where it
// has none (Wine's has few), the Win32 error the status maps to speaks.
std::string StatusText(LONG status) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    std::string text = MessageText(static_cast<DWORD>(status), ntdll);
    using ToDosError = ULONG(WINAPI*)(LONG);
    auto toDos = reinterpret_cast<ToDosError>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    if (!text.empty() || toDos == nullptr) {
        return text;
    }
    ULONG error = toDos(status);
    return error == ERROR_MR_MID_NOT_FOUND ? std::string() : MessageText(error, nullptr);
}

// Tracing never changes what the caller reads from GetLastError next: the
// text lookups and the debugger output set it on their own.
class LastErrorKept {
public:
    LastErrorKept() : error_(GetLastError()) {}
    ~LastErrorKept() { SetLastError(error_); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

private:
    DWORD error_;
};

void TraceFailure(std::string_view step, const std::string& code, const std::string& text) {
    std::string line(step);
    line += " failed: ";
    line += code;
    if (!text.empty()) {
        line += ": ";
        line += text;
    }
    TraceStep(line);
}

}  // namespace

void TraceStep(std::string_view what) {
    const LastErrorKept kept;
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "Kelto2 +%.1fms: ", MillisecondsSinceStart());
    std::string line = stamp;
    line += what;
    Emit(line);
}

void DebugTrace(std::string_view line) {
    const LastErrorKept kept;
    Emit("Kelto2: " + std::string(line));
}

std::string ErrorText(DWORD error) {
    const LastErrorKept kept;
    if (error >= kFirstInternetError && error <= kLastInternetError) {
        if (HMODULE wininet = GetModuleHandleW(L"wininet.dll")) {
            std::string text = MessageText(error, wininet);
            if (!text.empty()) {
                return text;
            }
        }
    }
    return MessageText(error, nullptr);
}

void TraceError(std::string_view step, DWORD error) {
    const LastErrorKept kept;
    TraceFailure(step, "error " + std::to_string(error), ErrorText(error));
}

void TraceStatus(std::string_view step, LONG status) {
    const LastErrorKept kept;
    char code[24];
    std::snprintf(code, sizeof code, "status 0x%08lX", static_cast<unsigned long>(status));
    TraceFailure(step, code, StatusText(status));
}

void LogLastError(const char* step) {
    DWORD error = GetLastError();
    TraceError(step, error);
}

TraceSink SetTraceSinkForTesting(TraceSink sink) {
    return gSink.exchange(sink);
}

}  // namespace kelto
