#include "toolkit/process_win.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "toolkit/command_text.h"
#include "toolkit/handles_win.h"
#include "toolkit/path.h"
#include "toolkit/process_tree_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// TerminateProcess only starts the end; the exit code reads STILL_ACTIVE
// until the process is gone.
constexpr DWORD kTerminationWaitMs = 5000;
// How often the job is asked whether its processes have all ended.
constexpr DWORD kJobPollMs = 20;

// What lets someone swap a program: its bytes, its name, its permissions,
// its owner; in its folder also a file of their own beside it (a DLL it
// loads from there) or the removal of the program.
constexpr DWORD kFileChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kFolderChangeRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

// The descriptor of path with what AccessCheck needs; empty when it
// cannot be read.
std::vector<BYTE> FileSecurity(const std::wstring& path) {
    constexpr SECURITY_INFORMATION kParts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(path.c_str(), kParts, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    if (size == 0 || !GetFileSecurityW(path.c_str(), kParts, descriptor.data(), size, &size)) {
        TraceError("read the security of " + ToUtf8(path), GetLastError());
        return {};
    }
    return descriptor;
}

// The linked token of an elevated launcher: the user's own, limited one.
// Invalid when the launcher is not elevated or has none (no UAC).
TokenHandle UserToken() {
    TokenHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Put())) {
        LogLastError("open the launcher's token");
        return {};
    }
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!GetTokenInformation(own.Get(), TokenElevationType, &type, sizeof(type), &size) ||
        type != TokenElevationTypeFull) {
        return {};
    }
    TOKEN_LINKED_TOKEN linked{};
    if (!GetTokenInformation(own.Get(), TokenLinkedToken, &linked, sizeof(linked), &size)) {
        LogLastError("read the linked token");
        return {};
    }
    return TokenHandle(linked.LinkedToken);
}

bool NeedsUserRights(const ProcessStart& start, HANDLE userToken) {
    if (userToken == nullptr || start.rights == StartRights::kLauncher) {
        return false;
    }
    if (start.rights == StartRights::kUser) {
        return true;
    }
    // AccessCheck asks for an impersonation token; the linked one may come
    // as a primary one.
    TokenHandle check;
    if (!DuplicateToken(userToken, SecurityIdentification, check.Put())) {
        LogLastError("copy the linked token");
        return true;
    }
    return IsReplaceableWith(check.Get(), start.exe);
}

struct Launch {
    std::wstring exe;
    std::wstring commandLine;  // CreateProcess may write into it
    std::wstring folder;
    STARTUPINFOW startup{};
    DWORD flags = 0;
    PROCESS_INFORMATION process{};
    DWORD error = 0;  // of the last way that failed
};

bool Failed(Launch& launch, const char* step) {
    launch.error = GetLastError();
    TraceError(step, launch.error);
    return false;
}

// Windows: the desktop shell runs with the user's own rights, and an
// elevated administrator holds what CreateProcessWithTokenW needs (the
// impersonate privilege). Wine has no shell window.
bool StartWithShellToken(Launch& launch) {
    DWORD shellProcessId = 0;
    HWND shell = GetShellWindow();
    if (shell == nullptr || GetWindowThreadProcessId(shell, &shellProcessId) == 0) {
        return false;
    }
    ProcessHandle shellProcess(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
    TokenHandle shellToken;
    TokenHandle primary;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!shellProcess.IsValid() ||
        !OpenProcessToken(shellProcess.Get(), TOKEN_DUPLICATE | TOKEN_QUERY, shellToken.Put()) ||
        !GetTokenInformation(shellToken.Get(), TokenElevationType, &type, sizeof(type), &size) ||
        type == TokenElevationTypeFull ||
        !DuplicateTokenEx(shellToken.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, primary.Put())) {
        return Failed(launch, "take the shell's token");
    }
    if (!CreateProcessWithTokenW(primary.Get(), 0, launch.exe.c_str(), launch.commandLine.data(),
                                 launch.flags, nullptr,
                                 launch.folder.empty() ? nullptr : launch.folder.c_str(),
                                 &launch.startup, &launch.process)) {
        return Failed(launch, "start with the shell's token");
    }
    return true;
}

// Wine lets the linked token start a process; Windows asks for a privilege
// that an elevated administrator does not hold.
bool StartWithLinkedToken(Launch& launch, HANDLE userToken) {
    TokenHandle primary;
    if (!DuplicateTokenEx(userToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.Put())) {
        return Failed(launch, "copy the linked token");
    }
    if (!CreateProcessAsUserW(primary.Get(), launch.exe.c_str(), launch.commandLine.data(), nullptr,
                              nullptr, FALSE, launch.flags, nullptr,
                              launch.folder.empty() ? nullptr : launch.folder.c_str(),
                              &launch.startup, &launch.process)) {
        return Failed(launch, "start with the linked token");
    }
    return true;
}

bool StartWithOwnToken(Launch& launch) {
    if (!CreateProcessW(launch.exe.c_str(), launch.commandLine.data(), nullptr, nullptr, FALSE,
                        launch.flags, nullptr,
                        launch.folder.empty() ? nullptr : launch.folder.c_str(), &launch.startup,
                        &launch.process)) {
        return Failed(launch, "start with the launcher's token");
    }
    return true;
}

DWORD ActiveProcesses(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof(accounting), nullptr)) {
        LogLastError("ask the job for its processes");
        return 0;
    }
    return accounting.ActiveProcesses;
}

bool WaitForJob(HANDLE job, DWORD start, DWORD waitMs) {
    while (ActiveProcesses(job) > 0) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= waitMs) {
            return false;
        }
        Sleep(std::min(kJobPollMs, waitMs - elapsed));
    }
    return true;
}

// After the program's own end, what it started is waited for in what is
// left of the wait; at the limit those are left to run.
void WaitForTheRest(HANDLE job, ProcessTree* tree, DWORD start, DWORD waitMs,
                    ProcessResult& result) {
    bool ended = tree != nullptr ? tree->WaitForAll(start, waitMs) : WaitForJob(job, start, waitMs);
    if (!ended) {
        TraceStep("stopped waiting for the processes it started");
        result.finished = false;
    }
}

// Without a job, what the program starts is found by parent id.
void WaitAndEnd(HANDLE process, HANDLE job, bool withItsProcesses, DWORD waitMs,
                ProcessResult& result) {
    DWORD start = GetTickCount();
    std::optional<ProcessTree> tree;
    if (withItsProcesses) {
        TraceStep(job != nullptr ? "waits for the processes of its job"
                                 : "waits for the processes found by parent id");
        if (job == nullptr) {
            tree.emplace(process);
        }
    }
    DWORD wait = tree ? tree->WaitForRoot(start, waitMs) : WaitForSingleObject(process, waitMs);
    if (wait == WAIT_FAILED) {
        LogLastError("wait for the program");
    }
    if (wait != WAIT_TIMEOUT) {
        result.finished = wait == WAIT_OBJECT_0;
        DWORD code = 0;
        if (GetExitCodeProcess(process, &code)) {
            result.exitCode = code;
        }
        if (withItsProcesses && result.finished) {
            WaitForTheRest(job, tree ? &*tree : nullptr, start, waitMs, result);
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

// Starts with the user's rights, by the first way that works here; false
// when there is none. A program that asks for elevation fails each of them
// with ERROR_ELEVATION_REQUIRED and is not run.
bool StartWithUserRights(Launch& launch, HANDLE userToken, const std::string& exe) {
    if (StartWithShellToken(launch)) {
        TraceStep("started with the shell's token: " + exe);
        return true;
    }
    if (StartWithLinkedToken(launch, userToken)) {
        TraceStep("started with the linked token: " + exe);
        return true;
    }
    TraceStep("not started, no start with the user's rights: " + exe);
    return false;
}

}  // namespace

bool LetsChange(HANDLE token, PSECURITY_DESCRIPTOR descriptor, bool isFolder) {
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(descriptor, token, MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize,
                     &granted, &allowed)) {
        LogLastError("check the user's access");
        return true;
    }
    return allowed && (granted & (isFolder ? kFolderChangeRights : kFileChangeRights)) != 0;
}

bool IsReplaceableWith(HANDLE token, const std::string& path) {
    std::wstring file = ToWide(path);
    std::wstring folder = ToWide(FolderOf(path));
    const struct {
        const std::wstring& path;
        bool isFolder;
    } parts[] = {{file, false}, {folder, true}};
    for (const auto& part : parts) {
        std::vector<BYTE> descriptor = FileSecurity(part.path);
        if (descriptor.empty() || LetsChange(token, descriptor.data(), part.isFolder)) {
            return true;
        }
    }
    return false;
}

ProcessResult RunProcess(const ProcessStart& start) {
    ProcessResult result;
    Launch launch;
    launch.exe = ToWide(start.exe);
    launch.commandLine = ToWide(CommandLineOf(start.exe, start.parameters));
    launch.folder = ToWide(start.folder);
    launch.startup.cb = sizeof(launch.startup);
    launch.startup.dwFlags = STARTF_USESHOWWINDOW;
    launch.startup.wShowWindow = start.hidden ? SW_HIDE : SW_SHOWNORMAL;

    // Suspended until it is in the job, so that nothing it starts escapes.
    JobHandle job;
    if (start.waitMs > 0 && start.waitForItsProcesses) {
        job = JobHandle(CreateJobObjectW(nullptr, nullptr));
        if (!job.IsValid()) {
            LogLastError("make a job");
        }
    }
    launch.flags = job.IsValid() ? CREATE_SUSPENDED : 0;

    TokenHandle userToken = UserToken();
    bool started = false;
    if (NeedsUserRights(start, userToken.Get())) {
        started = StartWithUserRights(launch, userToken.Get(), start.exe);
    } else {
        started = StartWithOwnToken(launch);
        TraceStep((started ? "started with the launcher's token: " : "not started: ") + start.exe);
    }
    if (!started) {
        // The shell's way may fail before any call reports an error.
        result.error = launch.error != 0 ? launch.error : ERROR_ACCESS_DENIED;
        return result;
    }
    ProcessHandle process(launch.process.hProcess);
    ThreadHandle thread(launch.process.hThread);
    result.started = true;
    if (job.IsValid()) {
        // Before Windows 8 a process belongs to one job at most, and one
        // started from a job starts in it: for a launcher in a job this fails
        // (ERROR_ACCESS_DENIED) and the wait finds its processes by parent id.
        if (!AssignProcessToJobObject(job.Get(), process.Get())) {
            LogLastError("put the program into its job");
            job.Close();
        }
        if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
            LogLastError("resume the program");
        }
    }
    if (start.waitMs > 0) {
        WaitAndEnd(process.Get(), job.Get(), start.waitForItsProcesses, start.waitMs, result);
    }
    return result;
}

}  // namespace kelto
