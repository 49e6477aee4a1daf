// The setup download job: on a worker thread of its own it fetches the
// Setup package, runs it silently, hands over to the freshly installed
// Downloader and then ends the progress window, and with it the program.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "toolkit/handles_win.h"
#include "transfer/http.h"
#include "transfer/http_win.h"
#include "transfer/package_check.h"
#include "transfer/setup_job.h"

namespace kelto {

enum class SetupJobStage { NotBegun, Running, Finished };

// What the job needs from the layers above it, filled on the UI thread
// before the worker exists and only read from then on, and the few flags
// that both threads see. The window record owns it for the whole process:
// the worker may still use it while the process ends.
struct SetupJob {
    std::string setupUrl;                  // the configured package URL, tried first
    std::string defaultSetupUrl;           // the server's own, tried when that fails
    ProgressCallback progress = nullptr;   // the window's progress reporter
    void (*handOver)() = nullptr;          // runs after the package exited with 0
    HWND window = nullptr;                 // gets WM_CLOSE then WM_QUIT at the end
    std::atomic<bool>* started = nullptr;  // the window record's flag, set by the job
    uint32_t setupWaitMs = kSetupWaitMs;   // tests pass less
    PackageChecks checks;                  // what the package must match, for "latest"
    ReleaseKey releaseKey;                 // makes a valid signature and its floor mandatory
    std::string folderParent;              // of the run's folder; "" the system's Temp

    // Set by the main thread when it leaves while the job still runs.
    std::atomic<bool> abandoned{false};
    // Set with abandoned: a request that waits for its server ends at once.
    TransferStop stop;
    // Written by the worker; folder is written once, before folderMade.
    std::atomic<SetupJobStage> stage{SetupJobStage::NotBegun};
    std::atomic<bool> folderMade{false};
    std::string folder;
    // UI thread only: a worker has been created, even if it has not yet
    // set started, so that a second show starts no second one.
    bool launched = false;
    // UI thread only: the worker, for AbandonSetupJob to wait on.
    ThreadHandle worker;
};

// The show handler's work: unless a job was started already, starts one
// worker running SetupDownloadJob(job) and keeps its handle in job.worker.
// Only AbandonSetupJob waits for it.
void StartSetupJob(SetupJob& job);

// The worker's procedure: nothing when a keyed build refuses the release
// itself (JudgeRelease; its check line goes to the log), else up to
// kSetupAttempts downloads into a private
// folder, each checked against job.checks and job.releaseKey (a package that
// fails counts as a failed request; what a failed attempt came to goes to
// the debugger trace beside its log line), the package run with " /S", the
// hand-over after exit code 0, the folder removed, and WM_CLOSE then WM_QUIT
// posted to job.window, however the run went. Returns when all that is
// done; callable directly in tests.
void SetupDownloadJob(SetupJob& job);

// For the main thread once its message loop has ended: ends the transfer at
// once, even one blocked in a connect or a read, never lets the package run or the hand-over
// follow, waits up to waitMs for the worker thread to end and then removes what is left of its
// folder.
void AbandonSetupJob(SetupJob& job, uint32_t waitMs = kAbandonWaitMs);

}  // namespace kelto
