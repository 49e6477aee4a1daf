#include "toolkit/process_win.h"

#include <objbase.h>
#include <shellapi.h>

#include "toolkit/file_win.h"
#include "toolkit/handles_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// TerminateProcess only starts the end; the exit code reads STILL_ACTIVE
// until the process is gone.
constexpr DWORD kTerminationWaitMs = 5000;

// ShellExecuteEx may hand the work to shell extensions, which need COM on
// the calling thread. Both the main thread and the setup job's worker start
// programs, so each initialises it at its first start and keeps it for the
// rest of its life: a shell extension may still be at work when the call
// returns. A thread already in the multi-threaded apartment stays there.
void EnsureComOnThisThread() {
    thread_local bool initialised = false;
    if (!initialised) {
        (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        initialised = true;
    }
}

void WaitAndEnd(HANDLE process, DWORD waitMs, ProcessResult& result) {
    DWORD wait = WaitForSingleObject(process, waitMs);
    if (wait == WAIT_FAILED) {
        LogLastError("wait for the program");
    }
    if (wait != WAIT_TIMEOUT) {
        result.finished = wait == WAIT_OBJECT_0;
        DWORD code = 0;
        if (GetExitCodeProcess(process, &code)) {
            result.exitCode = code;
        }
        return;
    }
    // Ended with exit code 0. Should the end not come in time, the code
    // would still read STILL_ACTIVE (259): the caller is told 0, the code
    // the program was ended with, and never mistakes 259 for its own.
    if (!TerminateProcess(process, 0)) {
        LogLastError("end the program");
    }
    WaitForSingleObject(process, kTerminationWaitMs);
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) {
        result.exitCode = code;
    }
}

}  // namespace

ProcessResult RunProcess(const std::string& file, const std::string& parameters, DWORD waitMs,
                         bool hidden) {
    EnsureComOnThisThread();
    std::wstring wideFile = ToWide(file);
    std::wstring wideParameters = ToWide(parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = wideFile.c_str();
    info.lpParameters = wideParameters.c_str();
    info.nShow = hidden ? SW_HIDE : SW_SHOWNORMAL;

    ProcessResult result;
    TraceStep("shell start " + file);
    bool started = ShellExecuteExW(&info);
    result.error = started ? 0 : GetLastError();
    // The shell hands the handle out in its record: owned from here on.
    ProcessHandle process(info.hProcess);
    if (!started) {
        TraceError("shell start " + file, result.error);
        return result;
    }
    TraceStep("shell started");
    result.started = true;
    if (waitMs > 0 && process.IsValid()) {
        WaitAndEnd(process.Get(), waitMs, result);
    }
    return result;
}

bool ShellOpen(const std::string& file, const std::string& parameters) {
    return Succeeded(RunProcess(file, parameters, 0, false), 0);
}

std::string RegisteredProgramPath(std::string_view exeName) {
    std::wstring key =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + ToWide(exeName);
    wchar_t path[MAX_PATH * 2] = {};
    DWORD bytes = sizeof(path) - sizeof(wchar_t);
    // A REG_EXPAND_SZ entry comes back expanded, "%ProgramFiles%\\..." as a
    // path: RRF_RT_REG_SZ takes both without RRF_NOEXPAND.
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path,
                     &bytes) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring text = path;
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') {
        text = text.substr(1, text.size() - 2);
    }
    std::string found = ToUtf8(text);
    return FileExists(found) ? found : std::string();
}

}  // namespace kelto
