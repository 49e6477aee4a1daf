#include "toolkit/process_win.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "toolkit/command_text.h"
#include "toolkit/file_security_win.h"
#include "toolkit/file_win.h"
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

// Whether the start takes the user's rights; when it keeps the launcher's,
// held is the program as checked, to be held until it has started.
bool NeedsUserRights(const ProcessStart& start, HANDLE userToken, HeldProgram& held) {
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
    held = HoldProgram(start.exe, check.Get());
    return held.path.empty();
}

struct Launch {
    std::wstring exe;
    std::wstring commandLine;  // CreateProcess may write into it
    std::wstring folder;
    std::wstring environment;  // a block for CREATE_UNICODE_ENVIRONMENT; "" the launcher's
    STARTUPINFOW startup{};
    DWORD flags = 0;
    ProcessHandle process;  // of the start that worked
    ThreadHandle thread;    // its first thread
    DWORD error = 0;        // of the last way that failed
};

// Owns what a start returned, the moment it returns.
void Adopt(Launch& launch, const PROCESS_INFORMATION& started) {
    launch.process = ProcessHandle(started.hProcess);
    launch.thread = ThreadHandle(started.hThread);
}

bool Failed(Launch& launch, const char* step) {
    launch.error = GetLastError();
    TraceError(step, launch.error);
    return false;
}

const wchar_t* CurrentFolderOf(const Launch& launch) {
    return launch.folder.empty() ? nullptr : launch.folder.c_str();
}

void* EnvironmentOf(Launch& launch) {
    return launch.environment.empty() ? nullptr : launch.environment.data();
}

// The token's user and its logon session.
bool ReadTokenUser(HANDLE token, std::vector<BYTE>& user, LUID& logon) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    TOKEN_STATISTICS statistics{};
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
        !GetTokenInformation(token, TokenStatistics, &statistics, sizeof(statistics), &size)) {
        return false;
    }
    logon = statistics.AuthenticationId;
    return true;
}

// The shell's token is lent only when it is the user's own: the launcher's
// user, in the logon session of the launcher's linked token. Under UAC the
// shell runs with the filtered token, which shares its logon session
// (TokenStatistics.AuthenticationId) with the elevated token's linked one;
// another user's shell (a switched user, a shell started elsewhere) does not.
bool IsUsersOwnShell(HANDLE shellToken, HANDLE userToken) {
    std::vector<BYTE> shellUser, ownUser;
    LUID shellLogon{}, ownLogon{};
    if (!ReadTokenUser(shellToken, shellUser, shellLogon) ||
        !ReadTokenUser(userToken, ownUser, ownLogon)) {
        LogLastError("read the tokens' users");
        return false;
    }
    return EqualSid(reinterpret_cast<TOKEN_USER*>(shellUser.data())->User.Sid,
                    reinterpret_cast<TOKEN_USER*>(ownUser.data())->User.Sid) &&
           shellLogon.LowPart == ownLogon.LowPart && shellLogon.HighPart == ownLogon.HighPart;
}

// The desktop shell's own token, as a primary token to start with; invalid
// when there is no shell (Wine), it is elevated or it is not the user's.
TokenHandle ShellToken(Launch& launch, HANDLE userToken) {
    DWORD shellProcessId = 0;
    HWND shell = GetShellWindow();
    if (shell == nullptr || GetWindowThreadProcessId(shell, &shellProcessId) == 0) {
        return {};
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
        type == TokenElevationTypeFull) {
        Failed(launch, "take the shell's token");
        return {};
    }
    if (!IsUsersOwnShell(shellToken.Get(), userToken)) {
        TraceStep("the shell's token is not the user's own: not used");
        return {};
    }
    if (!DuplicateTokenEx(shellToken.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, primary.Put())) {
        Failed(launch, "copy the shell's token");
    }
    return primary;
}

// Windows: the desktop shell runs with the user's own rights, and an
// elevated administrator holds what CreateProcessWithTokenW needs (the
// impersonate privilege). Wine has no shell window.
bool StartWithShellToken(Launch& launch, HANDLE userToken) {
    TokenHandle primary = ShellToken(launch, userToken);
    if (!primary.IsValid()) {
        return false;
    }
    PROCESS_INFORMATION started{};
    if (!CreateProcessWithTokenW(primary.Get(), 0, launch.exe.c_str(), launch.commandLine.data(),
                                 launch.flags, EnvironmentOf(launch), CurrentFolderOf(launch),
                                 &launch.startup, &started)) {
        return Failed(launch, "start with the shell's token");
    }
    Adopt(launch, started);
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
    PROCESS_INFORMATION started{};
    if (!CreateProcessAsUserW(primary.Get(), launch.exe.c_str(), launch.commandLine.data(), nullptr,
                              nullptr, FALSE, launch.flags, EnvironmentOf(launch),
                              CurrentFolderOf(launch), &launch.startup, &started)) {
        return Failed(launch, "start with the linked token");
    }
    Adopt(launch, started);
    return true;
}

bool StartWithOwnToken(Launch& launch) {
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(launch.exe.c_str(), launch.commandLine.data(), nullptr, nullptr, FALSE,
                        launch.flags, EnvironmentOf(launch), CurrentFolderOf(launch),
                        &launch.startup, &started)) {
        return Failed(launch, "start with the launcher's token");
    }
    Adopt(launch, started);
    return true;
}

// CreateProcess is not among the functions that take the long form
// ("Maximum Path Length Limitation"): no program path of MAX_PATH
// characters or more, nor a current folder of MAX_PATH less 2 (as
// SetCurrentDirectory documents). Those are given by their short (8.3)
// names, where the volume keeps them: another name of the same entry, in
// folders held or made only by administrators, so it leads where the long
// one does.
std::wstring StartablePath(const std::string& path, size_t limit) {
    std::wstring plain = ToWide(WithoutLongPrefix(path));
    if (plain.size() < limit) {
        return plain;
    }
    std::wstring longForm = WidePath(WithoutLongPrefix(path));
    std::wstring shortForm(MAX_PATH, L'\0');
    DWORD len = GetShortPathNameW(longForm.c_str(), shortForm.data(), MAX_PATH);
    if (len == 0 || len >= MAX_PATH) {
        TraceStep("no short name for " + path);
        return longForm;
    }
    shortForm.resize(len);
    return ToWide(WithoutLongPrefix(ToUtf8(shortForm)));
}

// The launcher's environment with TMP and TEMP set to folder, as a block.
std::wstring EnvironmentWithTempBlock(const std::string& folder) {
    std::vector<std::string> entries;
    EnvironmentBlock block(GetEnvironmentStringsW());
    if (block.IsValid()) {
        for (const wchar_t* at = block.Get(); *at != L'\0'; at += wcslen(at) + 1) {
            entries.push_back(ToUtf8(at));
        }
    }
    std::wstring environment;
    for (const std::string& entry : EnvironmentWithTemp(std::move(entries), folder)) {
        environment += ToWide(entry);
        environment += L'\0';
    }
    environment += L'\0';
    return environment;
}

Launch LaunchFor(const ProcessStart& start, const std::string& exe) {
    Launch launch;
    launch.exe = StartablePath(exe, MAX_PATH);
    launch.commandLine = ToWide(CommandLineOf(ToUtf8(launch.exe), start.parameters));
    if (start.inItsFolder) {
        launch.folder = StartablePath(FolderOf(WithoutLongPrefix(exe)), MAX_PATH - 2);
    }
    if (!start.tempFolder.empty()) {
        launch.environment = EnvironmentWithTempBlock(WithoutLongPrefix(start.tempFolder));
        launch.flags = CREATE_UNICODE_ENVIRONMENT;
    }
    launch.startup.cb = sizeof(launch.startup);
    launch.startup.dwFlags = STARTF_USESHOWWINDOW;
    launch.startup.wShowWindow = start.hidden ? SW_HIDE : SW_SHOWNORMAL;
    return launch;
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
    if (StartWithShellToken(launch, userToken)) {
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

// The job whose processes a wait covers, when the wait covers the processes
// the program starts; invalid otherwise or when none could be made.
JobHandle JobFor(const ProcessStart& start) {
    JobHandle job;
    if (start.waitMs > 0 && start.waitForItsProcesses) {
        job = JobHandle(CreateJobObjectW(nullptr, nullptr));
        if (!job.IsValid()) {
            LogLastError("make a job");
        }
    }
    return job;
}

// Starts with the user's rights or the launcher's own; false when it did
// not start.
bool Start(Launch& launch, bool userRights, HANDLE userToken, const std::string& exe) {
    if (userRights) {
        return StartWithUserRights(launch, userToken, exe);
    }
    bool started = StartWithOwnToken(launch);
    TraceStep((started ? "started with the launcher's token: " : "not started: ") + exe);
    return started;
}

// Puts the suspended program into job and lets it run. Before Windows 8 a
// process belongs to one job at most, and one started from a job starts in
// it: for a launcher in a job this fails (ERROR_ACCESS_DENIED), the job is
// closed and the wait finds its processes by parent id.
void PutIntoJob(Launch& launch, JobHandle& job) {
    if (!AssignProcessToJobObject(job.Get(), launch.process.Get())) {
        LogLastError("put the program into its job");
        job.Close();
    }
    if (ResumeThread(launch.thread.Get()) == static_cast<DWORD>(-1)) {
        LogLastError("resume the program");
    }
}

}  // namespace

ProcessResult RunProcess(const ProcessStart& start) {
    ProcessResult result;
    TokenHandle userToken = UserToken();
    HeldProgram held;  // until the start has returned
    bool userRights = NeedsUserRights(start, userToken.Get(), held);
    const std::string exe = held.path.empty() ? start.exe : held.path;
    Launch launch = LaunchFor(start, exe);
    // Suspended until it is in the job, so that nothing it starts escapes.
    JobHandle job = JobFor(start);
    launch.flags |= job.IsValid() ? CREATE_SUSPENDED : 0;
    bool started = Start(launch, userRights, userToken.Get(), exe);
    held = HeldProgram{};
    if (!started) {
        // The shell's way may fail before any call reports an error.
        result.error = launch.error != 0 ? launch.error : ERROR_ACCESS_DENIED;
        return result;
    }
    result.started = true;
    if (job.IsValid()) {
        PutIntoJob(launch, job);
    }
    if (start.waitMs > 0) {
        WaitAndEnd(launch.process.Get(), job.Get(), start.waitForItsProcesses, start.waitMs,
                   result);
    }
    return result;
}

}  // namespace kelto
