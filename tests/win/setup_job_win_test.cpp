#include "transfer/setup_job_win.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>

#include <gtest/gtest.h>

#include "toolkit/file_win.h"
#include "toolkit/path.h"
#include "toolkit/private_folder_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_win.h"
#include "transfer/package_check_win.h"
#include "test_release_key.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

// What the job did through its callbacks, which are plain functions.
struct JobTrace {
    std::vector<int32_t> requests;  // the announced length of each request
    int32_t lastTotal = -1;
    int32_t lastReceived = 0;
    std::set<std::string> packages;  // files being downloaded, seen in the run's folder
    int piecesBesideAPackage = 0;    // pieces that arrived while an earlier package was there
    std::atomic<int> pieces{0};
    int handOvers = 0;
    bool throwOnHandOver = false;
    const SetupJob* job = nullptr;
};
JobTrace gTrace;

bool RecordPiece(int32_t total, int32_t received, uint32_t) {
    // Within one request the count only grows.
    if (total != gTrace.lastTotal || received <= gTrace.lastReceived) {
        gTrace.requests.push_back(total);
    }
    gTrace.lastTotal = total;
    gTrace.lastReceived = received;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(ToWide(gTrace.job->folder + "\\*.part").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        gTrace.packages.insert(ToUtf8(entry.cFileName));
        FindClose(find);
    }
    find = FindFirstFileW(ToWide(gTrace.job->folder + "\\*.exe").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        ++gTrace.piecesBesideAPackage;
        FindClose(find);
    }
    ++gTrace.pieces;
    return true;
}

void CountHandOver() {
    ++gTrace.handOvers;
    if (gTrace.throwOnHandOver) {
        throw std::runtime_error("the registry failed");
    }
}

void NoPause(DWORD) {}

// What the job traced of its failed attempts; the reader threads trace too.
std::mutex gAttemptsMutex;
std::vector<std::string> gFailedAttempts;

void CaptureFailedAttempts(std::string_view line) {
    constexpr std::string_view kAttempt = "download mvsetup.exe failed: ";
    size_t at = line.find(kAttempt);
    if (at != std::string_view::npos) {
        std::lock_guard<std::mutex> lock(gAttemptsMutex);
        gFailedAttempts.emplace_back(line.substr(at + kAttempt.size()));
    }
}

// The trace of a failed attempt: what failed, with the status.
std::string AttemptFailure(HttpFailure failure, int32_t status) {
    return std::string(HttpFailureText(failure)) + ", status " + std::to_string(status);
}

std::set<std::string> TempEntries() {
    std::set<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(ToWide(TempFolder() + "*").c_str(), &entry);
    while (find != INVALID_HANDLE_VALUE) {
        names.insert(ToUtf8(entry.cFileName));
        if (!FindNextFileW(find, &entry)) {
            FindClose(find);
            break;
        }
    }
    return names;
}

const std::string kStart = std::string(kSetupStartLine) + "0";
const std::string kFailed(kSetupFailedLine);
const std::string kRun(kSetupRunLine);
const std::string kDone(kSetupDoneLine);
using Lines = std::vector<std::string>;

// The job runs on the test's thread (or its worker posts to it) with a
// message-only window of the test, the log in a scratch current folder.
class SetupJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> url = EnvVar(L"KELTO2_TEST_URL");
        if (!url) {
            GTEST_SKIP() << "KELTO2_TEST_URL names the canned test server";
        }
        base_ = *url;
        scratch_ = ScratchFolder("setup-job");
        current_ = std::make_unique<ScopedCurrentFolder>(scratch_);
        ASSERT_TRUE(current_->ok());
        log_ = scratch_ + "\\" + std::string(kLogFileName);
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
        previousPause_ = SetHttpPauseForTesting(NoPause);
        previousTrace_ = SetTraceSinkForTesting(CaptureFailedAttempts);
        // Every job removes what killed runs left: that is gone before.
        RemoveAbandonedFolders(TempFolder(), std::string(kSetupFolderPrefix));
        tempBefore_ = TempEntries();
    }
    void TearDown() override {
        if (base_.empty()) {
            return;
        }
        Posted();
        DestroyWindow(window_);
        SetHttpPauseForTesting(previousPause_);
        SetTraceSinkForTesting(previousTrace_);
        current_.reset();
        RemoveTree(scratch_);
    }
    std::string Url(const std::string& route) const { return base_ + route; }
    void Prepare(SetupJob& job, const std::string& setupUrl, const std::string& defaultUrl) {
        ASSERT_TRUE(WriteBytes(log_, ""));
        gTrace.requests.clear();
        gTrace.lastTotal = -1;
        gTrace.lastReceived = 0;
        gTrace.packages.clear();
        gTrace.piecesBesideAPackage = 0;
        gTrace.pieces = 0;
        gTrace.handOvers = 0;
        gTrace.job = &job;
        gFailedAttempts.clear();
        job.setupUrl = setupUrl;
        job.defaultSetupUrl = defaultUrl;
        job.progress = RecordPiece;
        job.handOver = CountHandOver;
        job.window = window_;
        job.setupWaitMs = 20000;
    }
    // The messages posted to the window, taken from the queue.
    std::vector<UINT> Posted() {
        std::vector<UINT> messages;
        MSG msg;
        while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
            messages.push_back(msg.message);
        }
        return messages;
    }
    // What every run leaves: the window ended, no folder, nothing in %TEMP%.
    void ExpectEnded(const SetupJob& job, const char* name) {
        EXPECT_EQ(Posted(), (std::vector<UINT>{WM_CLOSE, WM_QUIT})) << name;
        EXPECT_TRUE(job.folderMade) << name;
        EXPECT_FALSE(PathExists(job.folder)) << name;
        EXPECT_EQ(TempEntries(), tempBefore_) << name;
    }

    std::string base_;
    std::string scratch_;
    std::string log_;
    HWND window_ = nullptr;
    HttpPauseFunction previousPause_ = nullptr;
    TraceSink previousTrace_ = nullptr;
    std::set<std::string> tempBefore_;
    std::unique_ptr<ScopedCurrentFolder> current_;
};

TEST_F(SetupJobTest, AttemptsAndFallBack) {
    const std::string ok = Url("/canned/ok?size=333");
    const std::string bad = Url("/canned/truncated?size=111&cut=50");
    const std::string badDefault = Url("/canned/truncated?size=222&cut=50");
    struct Case {
        const char* name;
        std::string setupUrl;
        std::string defaultUrl;
        std::vector<int32_t> requests;
        bool ok;
    };
    const Case cases[] = {
        {"no url entry", ok, ok, {333}, true},
        {"url equal to the failing default", badDefault, badDefault, {222, 222, 222}, false},
        {"url fails, default serves", bad, ok, {111, 333}, true},
        {"url serves", ok, badDefault, {333}, true},
        {"empty url", "", ok, {333}, true},
        {"both fail", bad, badDefault, {111, 222, 111, 222, 111, 222}, false},
    };
    for (const Case& c : cases) {
        SetupJob job;
        Prepare(job, c.setupUrl, c.defaultUrl);
        SetupDownloadJob(job);
        EXPECT_EQ(gTrace.requests, c.requests) << c.name;
        // The package that is not a program cannot start: its exit code
        // stays 0, so the hand-over still runs.
        Lines lines = c.ok ? Lines{kStart, kRun, kDone} : Lines{kStart, kFailed, kFailed, kFailed};
        EXPECT_EQ(ReadLines(log_), lines) << c.name;
        EXPECT_EQ(gTrace.handOvers, c.ok ? 1 : 0) << c.name;
        EXPECT_EQ(gTrace.packages.size(), c.ok ? 1u : 3u) << c.name << ": a new file per attempt";
        EXPECT_EQ(gFailedAttempts,
                  Lines(c.ok ? 0 : 3, AttemptFailure(HttpFailure::kIncomplete, kHttpNoResponse)))
            << c.name;
        ExpectEnded(job, c.name);
    }
}

TEST_F(SetupJobTest, PackageRunAndHandOver) {
    std::string standinLog = scratch_ + "\\standin.log";
    ScopedEnv logEnv(L"KELTO2_STANDIN_LOG", standinLog);
    ScopedEnv install(L"KELTO2_SETUP_INSTALL", "0");
    const std::string standin = Url("/canned/file?name=mvsetup.exe");
    struct Case {
        const char* name;
        const char* exitCode;
        bool throwOnHandOver;
        int handOvers;
        Lines lines;
    };
    const Case cases[] = {
        {"exit code 0", "0", false, 1, {kStart, kRun, kDone}},
        {"exit code 3", "3", false, 0, {kStart, kRun, kDone}},
        {"hand-over fails", "0", true, 1, {kStart, kRun}},  // and nothing terminates
    };
    for (const Case& c : cases) {
        ScopedEnv exitCode(L"KELTO2_SETUP_EXIT", c.exitCode);
        DeleteFileW(ToWide(standinLog).c_str());
        SetupJob job;
        Prepare(job, standin, standin);
        gTrace.throwOnHandOver = c.throwOnHandOver;
        SetupDownloadJob(job);
        gTrace.throwOnHandOver = false;
        EXPECT_EQ(ReadLines(log_), c.lines) << c.name;
        EXPECT_EQ(gTrace.handOvers, c.handOvers) << c.name;
        ExpectEnded(job, c.name);
        Lines seen = ReadLines(standinLog);
        ASSERT_EQ(seen.size(), 6u) << c.name << ": does the server serve /canned/file?";
        EXPECT_EQ(seen[0], "setup args  /S");
        EXPECT_EQ(seen[1], "token setup 2");
        EXPECT_EQ(seen[2], "setup cwd " + job.folder);
        std::string runFrom = "setup path " + job.folder + "\\mvs";
        EXPECT_EQ(seen[3].substr(0, runFrom.size()), runFrom);
        EXPECT_EQ(seen[3].substr(seen[3].size() - 4), ".exe");
        // What it unpacks goes where only administrators write.
        EXPECT_EQ(seen[4], "setup tmp " + job.folder);
        EXPECT_EQ(seen[5], "setup temp " + job.folder);
        EXPECT_TRUE(SamePath(FolderOf(job.folder) + "\\", SystemTempFolder())) << job.folder;
    }
}

// A folder whose path is too long for the short forms is made, and the
// package is downloaded, checked and started there all the same (Wine
// starts no program from a path that long: there the run goes on as after
// a package that could not be started).
TEST_F(SetupJobTest, LongFolderIsMadeCheckedAndUsed) {
    ScopedEnv install(L"KELTO2_SETUP_INSTALL", "0");
    std::string parent = scratch_;
    while (parent.size() < 260) {
        parent += "\\" + std::string(60, 'L');
    }
    ASSERT_TRUE(MakeFolders(parent));
    SetupJob job;
    const std::string standin = Url("/canned/file?name=mvsetup.exe");
    Prepare(job, standin, standin);
    job.folderParent = parent;
    SetupDownloadJob(job);
    EXPECT_EQ(ReadLines(log_), (Lines{kStart, kRun, kDone}));
    EXPECT_EQ(gTrace.handOvers, 1);
    ExpectEnded(job, "long");
    EXPECT_GE(WithoutLongPrefix(job.folder).size(), 260u + 15) << job.folder;
}

// The canned 333-byte body as published by sha256sum, md5sum and openssl.
const std::string kSha333 = "61148f4d3301a0b0e04d5e3023553fb584818cd8eb72d4ed418211d199ec7bdc";
const std::string kMd5Of333 = "a2bf5cc7a0496b5f031604d5956e261b";
// The tests' key over "kelto2-setup 1.6.5.2290 " kSha333 and a line feed.
const std::string kSig333 =
    "MEUCIEIUUEDpk/Tzs6uWacJIhcOfOKcN34sdAbErYo2XWL+sAiEA/WIMU7iKIURgVhqF1Do4avT5d1S8ua+C6ftaOC"
    "yjBuE=";
const std::string kV = "1.6.5.2290";
const std::string kCheckFailed = "Package check failed: ";

TEST_F(SetupJobTest, PackageChecks) {
    const std::string ok = Url("/canned/ok?size=333");
    const ReleaseKey key = TestReleaseKey();
    const ReleaseKey bad{ReleaseKeyState::kMalformed, {}, {}, {}};
    struct Case {
        const char* name;
        PackageChecks checks;
        ReleaseKey key;
        const char* refusal;  // why every attempt fails; nullptr: the package runs
    };
    const Case cases[] = {
        {"both digests match", {kMd5Of333, kSha333, "", kV}, {}, nullptr},
        {"md5 of another package", {std::string(32, '0'), "", "", kV}, {}, "md5 mismatch"},
        {"keyed, unsigned", {"", kSha333, "", kV}, key, "signature missing"},
        {"keyed, signed", {"", "", kSig333, kV}, key, nullptr},
        {"malformed key refuses all", {}, bad, "release key is malformed"},
    };
    for (const Case& c : cases) {
        SetupJob job;
        Prepare(job, ok, ok);
        job.checks = c.checks;
        job.releaseKey = c.key;
        SetupDownloadJob(job);
        std::string line = kCheckFailed + (c.refusal ? c.refusal : "");
        Lines lines = c.refusal ? Lines{kStart, line, kFailed, line, kFailed, line, kFailed}
                                : Lines{kStart, kRun, kDone};
        EXPECT_EQ(ReadLines(log_), lines) << c.name;
        EXPECT_EQ(gTrace.requests.size(), c.refusal ? 3u : 1u) << c.name;
        EXPECT_EQ(gTrace.handOvers, c.refusal ? 0 : 1) << c.name;
        EXPECT_EQ(gFailedAttempts,
                  Lines(c.refusal ? 3 : 0, AttemptFailure(HttpFailure::kPackageCheck, kHttpOk)))
            << c.name;
        ExpectEnded(job, c.name);
    }
    // A refused package goes at once, before the fall-back request.
    SetupJob job;
    Prepare(job, Url("/canned/ok?size=334"), ok);
    job.checks.sha256 = kSha333;
    SetupDownloadJob(job);
    EXPECT_EQ(gTrace.requests, (std::vector<int32_t>{334, 333}));
    EXPECT_EQ(ReadLines(log_), (Lines{kStart, kCheckFailed + "sha256 mismatch", kRun, kDone}));
    EXPECT_EQ(gTrace.piecesBesideAPackage, 0);
    ExpectEnded(job, "fall-back");
}

// The checked package starts although the job holds it, and nobody can
// swap it while it runs: a running program's file may be renamed, and
// another put in its place, unless a handle forbids it.
TEST_F(SetupJobTest, CheckedPackageIsHeldWhileItRuns) {
    REQUIRE_STANDIN_DIR(standins);
    std::string standinLog = scratch_ + "\\standin.log";
    ScopedEnv logEnv(L"KELTO2_STANDIN_LOG", standinLog);
    ScopedEnv hang(L"KELTO2_SETUP_HANG", "1");
    FileHandle standin(CreateFileW(ToWide(standins + "\\mvsetup.exe").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::optional<PackageDigests> digests = HashFile(standin.Get(), {false, true});
    ASSERT_TRUE(digests);
    SetupJob job;
    const std::string url = Url("/canned/file?name=mvsetup.exe");
    Prepare(job, url, url);
    for (uint8_t b : digests->sha256) {
        job.checks.sha256 += "0123456789abcdef"[b >> 4];
        job.checks.sha256 += "0123456789abcdef"[b & 15];
    }
    job.setupWaitMs = 3000;
    StartSetupJob(job);
    std::string running;
    for (int i = 0; i < 400 && running.empty(); ++i) {
        Sleep(50);
        for (const std::string& line : ReadLines(standinLog)) {
            if (line.rfind("setup path ", 0) == 0) {
                running = line.substr(11);
            }
        }
    }
    ASSERT_FALSE(running.empty()) << "the checked package did not start";
    std::wstring moved = ToWide(running + ".moved");
    EXPECT_FALSE(MoveFileW(ToWide(running).c_str(), moved.c_str())) << "could be swapped";
    MoveFileW(moved.c_str(), ToWide(running).c_str());
    for (int i = 0; i < 400 && job.stage != SetupJobStage::Finished; ++i) {
        Sleep(50);
    }
    ASSERT_EQ(job.stage, SetupJobStage::Finished);
    EXPECT_EQ(ReadLines(log_), (Lines{kStart, kRun, kDone}));
    ExpectEnded(job, "held while it runs");
}

TEST_F(SetupJobTest, AbandonedDuringTheDownload) {
    SetupJob job;
    std::string slow = Url("/canned/slow?size=400000&chunk=4000&delay_ms=50");
    Prepare(job, slow, Url("/canned/ok?size=333"));
    StartSetupJob(job);
    StartSetupJob(job);  // shown again: still one job
    for (int i = 0; i < 400 && gTrace.pieces == 0; ++i) {
        Sleep(50);
    }
    ASSERT_GT(gTrace.pieces, 0);
    AbandonSetupJob(job);
    ASSERT_EQ(job.stage, SetupJobStage::Finished);
    EXPECT_LT(gTrace.pieces, 20);
    EXPECT_EQ(gTrace.requests, (std::vector<int32_t>{400000})) << "no fall-back, no new attempt";
    EXPECT_EQ(gTrace.handOvers, 0);
    EXPECT_EQ(ReadLines(log_), (Lines{kStart}));
    ExpectEnded(job, "abandoned");
}

// The worker is held inside a piece: the cancel returns after its bound,
// and the worker, once let go, still tidies up and ends the window.
ProcessHandle gInPiece;
ProcessHandle gLetGo;

bool HoldPiece(int32_t, int32_t, uint32_t) {
    SetEvent(gInPiece.Get());
    WaitForSingleObject(gLetGo.Get(), 30000);
    return true;
}

TEST_F(SetupJobTest, AbandonWaitsBoundedForAStuckWorker) {
    gInPiece = ProcessHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    gLetGo = ProcessHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SetupJob job;
    Prepare(job, Url("/canned/slow?size=400000&chunk=4000&delay_ms=50"),
            Url("/canned/ok?size=333"));
    job.progress = HoldPiece;
    StartSetupJob(job);
    ASSERT_EQ(WaitForSingleObject(gInPiece.Get(), 30000), WAIT_OBJECT_0);
    AbandonSetupJob(job, 50);
    EXPECT_EQ(job.stage, SetupJobStage::Running);
    SetEvent(gLetGo.Get());
    ASSERT_EQ(WaitForSingleObject(job.worker.Get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadLines(log_), (Lines{kStart}));
    ExpectEnded(job, "stuck, then let go");
}

}  // namespace
