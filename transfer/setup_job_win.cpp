#include "transfer/setup_job_win.h"

#include "toolkit/file_win.h"
#include "toolkit/log_win.h"
#include "toolkit/private_folder_win.h"
#include "toolkit/process_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_win.h"
#include "transfer/package_check_win.h"

namespace kelto {

namespace {

// One run of the job; the worker's alone.
struct SetupRun {
    SetupJob& job;
    PrivateFolder folder{};
    int attempt = 0;
    std::string setupFile{};       // where the current attempt stores the package
    std::string setupUrl{};        // what the current attempt asks for first
    FileHandle package{};          // the checked package, held unwritable until it has run
    ResumableDownload download{};  // what a broken request kept, for the next one
    DWORD exitCode = 0;
};

bool IsAbandoned(const SetupJob& job) {
    return job.abandoned.load();
}

// Passes every piece on to the window, unless the user has left: then the
// transfer stops here and its unfinished file goes with it.
bool GuardedProgress(const SetupJob& job, int32_t contentLength, int32_t received,
                     uint32_t startTick) {
    if (IsAbandoned(job)) {
        return false;
    }
    return job.progress == nullptr || job.progress(contentLength, received, startTick);
}

// What an attempt that had no file to download into comes to, with the
// error its failing call left.
HttpResult NoSetupFile() {
    DWORD error = GetLastError();
    return {kHttpNoResponse, HttpFailure::kWrite, error};
}

bool PackageFetched(const HttpResult& result) {
    return result.status == kHttpOk && result.failure == HttpFailure::kNone;
}

// The folder is made at the first attempt that needs it and kept for the
// run; an attempt that cannot have it fails rather than fall back to a
// folder others may change. It is made in the system's temporary folder
// whatever TMP and TEMP say: they come from the user's environment, which
// any program of the user may point at a folder or a share of theirs.
bool EnsureRunFolder(SetupRun& run) {
    if (run.folder.path.empty()) {
        std::string parent =
            run.job.folderParent.empty() ? SystemTempFolder() : run.job.folderParent;
        run.folder = CreatePrivateFolder(parent, std::string(kSetupFolderPrefix));
        if (!run.folder.path.empty()) {
            run.job.folder = run.folder.path;
            run.job.folderMade.store(true);
        }
    }
    return !run.folder.path.empty();
}

// A package that fails its check counts as a failed request: it goes at
// once, and the fall-back or the next attempt follows as after any other.
HttpResult FetchSetupPackage(SetupRun& run, const std::string& url) {
    const SetupJob& job = run.job;
    HttpResult result = DownloadResuming(url, run.setupFile, run.download,
                                         [&job](int32_t total, int32_t received, uint32_t tick) {
                                             return GuardedProgress(job, total, received, tick);
                                         });
    if (!PackageFetched(result)) {
        return result;
    }
    PackageVerdict verdict =
        VerifyPackageFile(run.setupFile, job.checks, job.releaseKey, run.package);
    if (verdict == PackageVerdict::kOk) {
        return result;
    }
    WriteLog(PackageCheckFailedLine(verdict));
    DeleteFileW(WidePath(run.setupFile).c_str());
    return {kHttpOk, HttpFailure::kPackageCheck};
}

// One attempt: a new file, the configured URL, then once the default one
// unless they are the same text. Comes to what its last request came to.
HttpResult DownloadSetupAttempt(SetupRun& run) {
    run.setupFile.clear();
    if (!EnsureRunFolder(run)) {
        return NoSetupFile();
    }
    // The ".tmp" file stays until the run's folder goes: it holds its
    // number, so that every attempt writes a file of its own.
    std::string tempFile = MakeTempFileName(run.folder.path, std::string(kSetupFilePrefix));
    if (tempFile.empty()) {
        return NoSetupFile();
    }
    run.setupFile = SetupFilePathFor(tempFile);
    run.setupUrl = run.job.setupUrl;
    HttpResult result = FetchSetupPackage(run, run.setupUrl);
    if (PackageFetched(result) || run.setupUrl == run.job.defaultSetupUrl || IsAbandoned(run.job)) {
        return result;
    }
    return FetchSetupPackage(run, run.job.defaultSetupUrl);
}

void RunSetupPackage(SetupRun& run) {
    WriteLog(std::string(kSetupRunLine));
    // No wait at all would hand over while the package still installs.
    DWORD waitMs = run.job.setupWaitMs > 0 ? run.job.setupWaitMs : 1;
    // A package that could not be started leaves the exit code at 0: an
    // installed Downloader may still be there to take over.
    // Checked and unwritable to the user: it keeps the launcher's rights,
    // and its own folder as its current one. What it unpacks (an
    // installer's plug-in DLLs, which it then loads) goes there too, not
    // into the user's temporary folder.
    if (IsAbandoned(run.job)) {
        return;  // the user has said no to the whole download
    }
    ProcessStart start;
    start.exe = run.setupFile;
    start.parameters = std::string(kSetupParameters);
    start.inItsFolder = true;
    start.tempFolder = run.folder.path;
    start.waitMs = waitMs;
    run.exitCode = RunProcess(start).exitCode;
    run.package.Close();
    if (run.exitCode == 0 && !IsAbandoned(run.job) && run.job.handOver) {
        run.job.handOver();
    }
}

// However an attempt ends, it counts, and its package goes: after a
// success that is the file that has just been run.
void EndAttempt(SetupRun& run) {
    ++run.attempt;
    run.package.Close();
    if (!run.setupFile.empty()) {
        DeleteFileW(WidePath(run.setupFile).c_str());
    }
}

void RunAttempts(SetupRun& run) {
    WriteLog(std::string(kSetupStartLine) + std::to_string(run.attempt));
    // A release this build must not install is not downloaded at all, and
    // asking again would not change the answer.
    if (PackageVerdict release = JudgeRelease(run.job.checks.version, run.job.releaseKey);
        release != PackageVerdict::kOk) {
        WriteLog(PackageCheckFailedLine(release));
        return;
    }
    while (run.attempt < kSetupAttempts && !IsAbandoned(run.job)) {
        bool downloaded = false;
        try {
            HttpResult result = DownloadSetupAttempt(run);
            downloaded = PackageFetched(result);
            // After the user has left, a stop is no failure and a
            // download is not to be run.
            if (downloaded && !IsAbandoned(run.job)) {
                RunSetupPackage(run);
            } else if (!downloaded && !IsAbandoned(run.job)) {
                WriteLog(std::string(kSetupFailedLine));
                TraceHttpResult("download mvsetup.exe", result);
            }
        } catch (...) {
            EndAttempt(run);
            throw;
        }
        EndAttempt(run);
        if (downloaded) {
            if (!IsAbandoned(run.job)) {
                WriteLog(std::string(kSetupDoneLine));
            }
            return;
        }
    }
}

// Nothing of the run stays behind: the ".tmp" files, a package that could
// not be deleted before, the folder. A package that still runs keeps its
// file, and so the folder.
void RemoveRunFolder(SetupRun& run) {
    try {
        run.download.Reset();
        run.package.Close();
        run.folder.handle.Close();
        if (!run.folder.path.empty()) {
            RemoveFolderAndFiles(run.folder.path);
        }
    } catch (...) {
        // Out of memory for a path: the folder stays, the job still ends.
    }
}

void EndWindow(HWND window) {
    // A null window would post to this thread's own queue instead.
    if (window != nullptr) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        PostMessageW(window, WM_QUIT, 0, 0);
    }
}

DWORD WINAPI SetupJobThread(void* job) {
    SetupDownloadJob(*static_cast<SetupJob*>(job));
    return 0;
}

}  // namespace

void StartSetupJob(SetupJob& job) {
    if (job.launched || (job.started && job.started->load())) {
        return;
    }
    job.worker =
        ThreadHandle(CreateThread(nullptr, 0, SetupJobThread, &job, CREATE_SUSPENDED, nullptr));
    if (!job.worker.IsValid()) {
        LogLastError("start the setup job");
        return;  // a later show tries again
    }
    job.launched = true;
    if (ResumeThread(job.worker.Get()) == static_cast<DWORD>(-1)) {
        LogLastError("resume the setup job");
    }
}

void SetupDownloadJob(SetupJob& job) {
    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    if (job.started) {
        job.started->store(true);
    }
    // Marked running before abandoned is read; AbandonSetupJob does the
    // reverse, so either this run sees the user gone or the main thread
    // waits for it.
    job.stage.store(SetupJobStage::Running);
    SetupRun run{job};
    run.download.stop = &job.stop;
    try {
        if (!IsAbandoned(job)) {
            // What runs that were ended midway left behind goes first.
            RemoveAbandonedFolders(TempFolder(), std::string(kSetupFolderPrefix));
            RemoveAbandonedFolders(SystemTempFolder(), std::string(kSetupFolderPrefix));
            RunAttempts(run);
        }
    } catch (...) {
        // An error of the hand-over (the registry) or of memory ends the
        // run; the clean-up and the window's end below still happen.
    }
    RemoveRunFolder(run);
    // Finished before the close is posted: the window tells the job's own
    // close from the user's by it, and must never ask the cancel question.
    job.stage.store(SetupJobStage::Finished);
    EndWindow(job.window);
}

void AbandonSetupJob(SetupJob& job, uint32_t waitMs) {
    job.abandoned.store(true);
    job.stop.Stop();
    if (job.worker.IsValid()) {
        DWORD wait = WaitForSingleObject(job.worker.Get(), waitMs);
        if (wait == WAIT_FAILED) {
            LogLastError("wait for the setup job");
        } else if (wait == WAIT_TIMEOUT) {
            TraceStep("setup job still running after " + std::to_string(waitMs) + " ms");
        }
    }
    // A worker that has not ended in time still holds its folder open; its
    // files are deleted as far as it lets them go.
    if (job.folderMade.load()) {
        RemoveFolderAndFiles(job.folder);
    }
    TraceStep("setup job abandoned");
}

}  // namespace kelto
