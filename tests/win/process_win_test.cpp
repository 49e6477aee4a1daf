#include "toolkit/process_win.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "launcher/handover_win.h"
#include "toolkit/file_win.h"
#include "toolkit/handles_win.h"
#include "toolkit/process_tree_win.h"
#include "toolkit/trace_win.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

constexpr DWORD kGenerousWaitMs = 30000;
constexpr DWORD kShortWaitMs = 1500;

ProcessResult RunHidden(const std::string& exe, const std::string& parameters, DWORD waitMs,
                        bool withItsProcesses = false) {
    ProcessStart start;
    start.exe = exe;
    start.parameters = parameters;
    start.waitMs = waitMs;
    start.hidden = true;
    start.waitForItsProcesses = withItsProcesses;
    return RunProcess(start);
}

// The uninstaller stand-in, copied into a folder of its own (it removes
// everything beside itself) whose path has a blank and Chinese characters.
// It writes what it sees into a log outside that folder.
class ProcessRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> standins = StandinDir();
        if (!standins) {
            GTEST_SKIP() << "KELTO2_STANDIN_DIR is not set: it names the folder of the "
                            "stand-ins (build/<dir>/bin)";
        }
        scratch_ = ScratchFolder("run-process");
        folder_ = scratch_ + "\\卸载 程序";
        ASSERT_TRUE(MakeFolders(folder_));
        uninst_ = folder_ + "\\" + std::string(kUninstallerName);
        ASSERT_TRUE(
            CopyFileW(ToWide(*standins + "\\uninst.exe").c_str(), ToWide(uninst_).c_str(), FALSE));
        log_ = scratch_ + "\\standin.log";
        env_.push_back(std::make_unique<ScopedEnv>(L"KELTO2_STANDIN_LOG", log_));
        env_.push_back(std::make_unique<ScopedEnv>(L"KELTO2_UNINST_EXIT", ""));
        env_.push_back(std::make_unique<ScopedEnv>(L"KELTO2_UNINST_HANG", ""));
        env_.push_back(std::make_unique<ScopedEnv>(L"KELTO2_UNINST_COPY_MS", ""));
        current_ = std::make_unique<ScopedCurrentFolder>(scratch_);
        ASSERT_TRUE(WriteBytes(scratch_ + "\\kelto2.log", ""));
    }
    void TearDown() override {
        if (scratch_.empty()) {
            return;
        }
        EXPECT_EQ(EndProcessesOf(uninst_), 0) << "a stand-in outlived its test";
        current_.reset();
        env_.clear();
        RemoveTree(scratch_);
    }

    void SetEnv(const wchar_t* name, const std::string& value) {
        SetEnvironmentVariableW(name, ToWide(value).c_str());  // restored by env_
    }
    std::vector<std::string> StandinLines() { return ReadLines(log_); }

    std::string scratch_;
    std::string folder_;
    std::string uninst_;
    std::string log_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
    std::unique_ptr<ScopedCurrentFolder> current_;
};

TEST_F(ProcessRun, ExitCodeOfAProgramThatEnds) {
    struct Case {
        const char* exitText;
        DWORD expected;
    };
    const Case cases[] = {{"0", 0}, {"3", 3}, {"1234", 1234}, {"-2", 0xFFFFFFFE}};
    for (const Case& c : cases) {
        SetEnv(L"KELTO2_UNINST_EXIT", c.exitText);
        ProcessResult result = RunHidden(uninst_, " /S", kGenerousWaitMs);
        EXPECT_TRUE(result.started) << c.exitText;
        EXPECT_TRUE(result.finished) << c.exitText;
        EXPECT_EQ(result.exitCode, c.expected) << c.exitText;
        EXPECT_EQ(result.error, 0u) << c.exitText;
        EXPECT_TRUE(Succeeded(result, kGenerousWaitMs)) << c.exitText;
    }
}

TEST_F(ProcessRun, ParametersArePassedUnchanged) {
    struct Case {
        std::string parameters;
        std::string seen;
    };
    const Case cases[] = {
        {" /S", "uninst args  /S"},
        {"/u", "uninst args /u"},
        {"", "uninst args "},
        {"/D=C:\\游戏 目录 \"a b\"", "uninst args /D=C:\\游戏 目录 \"a b\""},
    };
    for (const Case& c : cases) {
        DeleteFileW(ToWide(log_).c_str());
        ProcessResult result = RunHidden(uninst_, c.parameters, kGenerousWaitMs);
        ASSERT_TRUE(result.finished) << c.parameters;
        std::vector<std::string> lines = StandinLines();
        ASSERT_FALSE(lines.empty()) << c.parameters;
        EXPECT_EQ(lines.front(), c.seen);
    }
}

TEST_F(ProcessRun, ProgramThatOutlivesItsWaitIsEnded) {
    SetEnv(L"KELTO2_UNINST_HANG", "1");
    SetEnv(L"KELTO2_UNINST_EXIT", "7");
    DWORD start = GetTickCount();
    ProcessResult result = RunHidden(uninst_, " /S", kShortWaitMs);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.finished);
    EXPECT_FALSE(Succeeded(result, kShortWaitMs));
    EXPECT_EQ(result.exitCode, 0u) << "the exit code is read after the termination";
    EXPECT_GE(elapsed, kShortWaitMs - 50);  // the tick count is coarse
    EXPECT_TRUE(HasLine(StandinLines(), "uninst hang"));
    EXPECT_EQ(CountProcessesOf(uninst_), 0);
}

TEST_F(ProcessRun, WithoutWaitTheExitCodeStaysZero) {
    SetEnv(L"KELTO2_UNINST_EXIT", "5");
    ProcessResult result = RunHidden(uninst_, " /S", 0);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(Succeeded(result, 0));
    // It did run; let it end before the folder goes.
    EXPECT_TRUE(WaitForLine(log_, "uninst removed failures=0 self=kept", kGenerousWaitMs));
    for (int i = 0; i < 100 && CountProcessesOf(uninst_) > 0; ++i) {
        Sleep(50);
    }
}

TEST_F(ProcessRun, MissingProgramIsNotStarted) {
    struct Case {
        const char* name;
        std::string file;
        DWORD waitMs;
    };
    const Case cases[] = {
        {"missing file, waited for", folder_ + "\\missing.exe", kShortWaitMs},
        {"missing file, no wait", folder_ + "\\missing.exe", 0},
        {"missing folder", scratch_ + "\\gone\\uninst.exe", kShortWaitMs},
        {"empty name", "", kShortWaitMs},
    };
    for (const Case& c : cases) {
        ProcessResult result = RunHidden(c.file, " /S", c.waitMs);
        EXPECT_FALSE(result.started) << c.name;
        EXPECT_FALSE(result.finished) << c.name;
        EXPECT_EQ(result.exitCode, 0u) << c.name;
        EXPECT_NE(result.error, 0u) << c.name;
        EXPECT_FALSE(Succeeded(result, c.waitMs)) << c.name;
    }
    EXPECT_FALSE(PathExists(log_)) << "nothing ran";
}

// ---- The Downloader's uninstaller ----

TEST_F(ProcessRun, UninstallerRunsSilentlyAndIsWaitedFor) {
    ASSERT_TRUE(WriteBytes(folder_ + "\\mvdown.exe", "MZ"));
    ASSERT_TRUE(WriteBytes(folder_ + "\\software.xml", "<x/>"));
    UninstallDownloader(folder_ + "\\", kGenerousWaitMs);
    std::vector<std::string> lines = StandinLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "uninst args  /S");
    EXPECT_EQ(lines[1], "uninst removed failures=0 self=kept") << "returned before the end";
    EXPECT_FALSE(PathExists(folder_ + "\\mvdown.exe"));
    EXPECT_FALSE(PathExists(folder_ + "\\software.xml"));
    EXPECT_EQ(ReadBytes(scratch_ + "\\kelto2.log"), "") << "the uninstall is not logged";
}

TEST_F(ProcessRun, HangingUninstallerIsEnded) {
    SetEnv(L"KELTO2_UNINST_HANG", "1");
    DWORD start = GetTickCount();
    UninstallDownloader(folder_ + "\\", kShortWaitMs);
    EXPECT_GE(GetTickCount() - start, kShortWaitMs - 50);
    EXPECT_TRUE(HasLine(StandinLines(), "uninst hang"));
    EXPECT_EQ(CountProcessesOf(uninst_), 0);
    EXPECT_EQ(ReadBytes(scratch_ + "\\kelto2.log"), "");
}

TEST_F(ProcessRun, MissingUninstallerIsQuiet) {
    UninstallDownloader(scratch_ + "\\nothing here\\", kShortWaitMs);
    EXPECT_FALSE(PathExists(log_));
    EXPECT_EQ(ReadBytes(scratch_ + "\\kelto2.log"), "");
}

// ---- What the uninstaller starts ----

std::vector<std::string> gTrace;

void CaptureTrace(std::string_view line) {
    gTrace.emplace_back(line);
}

// Starts the uninstaller without a job and waits for its processes found
// by parent id, as RunProcess does where the job cannot be used.
bool WaitForItsTree(const std::string& exe, DWORD waitMs) {
    std::wstring commandLine = L"\"" + ToWide(exe) + L"\"  /S";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(ToWide(exe).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
        return false;
    }
    ProcessHandle process(info.hProcess);
    ThreadHandle thread(info.hThread);
    ProcessTree tree(process.Get());
    DWORD start = GetTickCount();
    return tree.WaitForRoot(start, waitMs) == WAIT_OBJECT_0 && tree.WaitForAll(start, waitMs);
}

// The uninstaller hands its work to a copy of itself and ends: the wait
// ends after the copy's, or at the limit with the copy left to run.
TEST_F(ProcessRun, ProcessesItStartsAreWaitedFor) {
    const struct {
        bool job;  // or its tree found by parent id
        const char* copyMs;
        DWORD waitMs;
        bool finished;
    } cases[] = {
        {true, "1000", kGenerousWaitMs, true},
        {true, "30000", kShortWaitMs, false},
        {false, "1000", kGenerousWaitMs, true},
        {false, "30000", kShortWaitMs, false},
    };
    for (const auto& c : cases) {
        SetEnv(L"KELTO2_UNINST_COPY_MS", c.copyMs);
        ASSERT_TRUE(WriteBytes(folder_ + "\\mvdown.exe", "MZ"));
        gTrace.clear();
        TraceSink previous = SetTraceSinkForTesting(CaptureTrace);
        bool finished = c.job ? RunHidden(uninst_, " /S", c.waitMs, true).finished
                              : WaitForItsTree(uninst_, c.waitMs);
        SetTraceSinkForTesting(previous);
        EXPECT_EQ(finished, c.finished) << c.job << c.copyMs;
        EXPECT_EQ(PathExists(folder_ + "\\mvdown.exe"), !c.finished) << c.job << c.copyMs;
        EXPECT_EQ(EndProcessesOf(uninst_), c.finished ? 0 : 1) << c.job << c.copyMs;
        if (c.job) {
            EXPECT_TRUE(std::any_of(gTrace.begin(), gTrace.end(), [](const std::string& line) {
                return line.ends_with("waits for the processes of its job");
            }));
        }
    }
}

}  // namespace
