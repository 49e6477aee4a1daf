#include "launcher/process_win.h"

#include <shellapi.h>

#include "toolkit/handles_win.h"
#include "toolkit/text_win.h"

namespace {

// TerminateProcess only starts the end; the exit code reads STILL_ACTIVE
// until the process is gone.
constexpr DWORD kTerminationWaitMs = 5000;

void WaitAndEnd(HANDLE process, DWORD waitMs, ProcessResult& result) {
    DWORD wait = WaitForSingleObject(process, waitMs);
    if (wait == WAIT_TIMEOUT) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, kTerminationWaitMs);
    } else {
        result.finished = wait == WAIT_OBJECT_0;
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) {
        result.exitCode = code;
    }
}

}  // namespace

ProcessResult RunProcess(const std::string& file, const std::string& parameters, DWORD waitMs,
                         bool hidden) {
    std::wstring wideFile = ToWide(file);
    std::wstring wideParameters = ToWide(parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = wideFile.c_str();
    info.lpParameters = wideParameters.c_str();
    info.nShow = hidden ? SW_HIDE : SW_SHOWNORMAL;

    ProcessResult result;
    if (!ShellExecuteExW(&info)) {
        result.error = GetLastError();
        return result;
    }
    result.started = true;
    ProcessHandle process(info.hProcess);
    if (waitMs > 0 && process.IsValid()) {
        WaitAndEnd(process.Get(), waitMs, result);
    }
    return result;
}

bool ShellOpen(const std::string& file, const std::string& parameters) {
    return Succeeded(RunProcess(file, parameters, 0, false), 0);
}
