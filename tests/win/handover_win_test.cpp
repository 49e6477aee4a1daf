#include "launcher/handover_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include <gtest/gtest.h>

#include "launcher/installed_downloader_win.h"
#include "toolkit/log_win.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

constexpr int kGame = 9;
// The stand-in's first start under Wine can take a few seconds.
constexpr HandOverTiming kPatient{100, 20000, 1, 10};
constexpr DWORD kLineWaitMs = 20000;

std::string Ansi(const std::string& utf8) {
    return Utf8ToAnsi(utf8);
}

std::string ClassOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return ToUtf8(name);
}

// Installs mvdown stand-ins where the Downloader's installer would put them,
// runs the test in a scratch folder that holds an empty kelto2.log, and
// removes every process, file and key afterwards.
class HandOver : public ::testing::Test {
public:  // the cases' arrange steps reach in
    void SetUp() override {
        std::optional<std::string> standins = StandinDir();
        std::optional<std::string> url = EnvVar(L"KELTO2_TEST_URL");
        if (!standins || !url) {
            GTEST_SKIP() << "KELTO2_STANDIN_DIR and KELTO2_TEST_URL name the stand-ins' folder "
                            "and the test server";
        }
        standins_ = *standins;
        testUrl_ = *url;
        company_ = CompanyFolder();
        if (DownloaderAlreadyInstalled()) {
            GTEST_SKIP() << "this prefix already has a Downloader installed";
        }
        scratch_ = ScratchFolder("handover");
        current_ = std::make_unique<ScopedCurrentFolder>(scratch_);
        ASSERT_TRUE(current_->ok());
        log_ = scratch_ + "\\" + std::string(kLogFileName);
        ASSERT_TRUE(WriteBytes(log_, ""));
        standinLog_ = scratch_ + "\\standin.log";
        env_.push_back(std::make_unique<ScopedEnv>(L"KELTO2_STANDIN_LOG", standinLog_));
        env_.push_back(std::make_unique<ScopedEnv>(L"KELTO2_MVDOWN_WINDOW", "now"));
        // A safety net: TearDown ends them anyway.
        env_.push_back(std::make_unique<ScopedEnv>(L"KELTO2_MVDOWN_LIFETIME_MS", "30000"));
    }
    void TearDown() override {
        if (scratch_.empty()) {
            return;
        }
        for (const std::string& exe : installed_) {
            EndProcessesOf(exe);
        }
        current_.reset();
        env_.clear();
        RemoveTree(company_);
        RemoveTree(scratch_);
        DeleteKey(kProductName);
        DeleteKey(kOldProductName);
    }

    std::string ProductFolder(std::string_view product) {
        return company_ + "\\" + std::string(product);
    }
    // Returns the installed executable's path.
    std::string Install(std::string_view product) {
        std::string folder = ProductFolder(product);
        std::string exe = folder + "\\mvdown.exe";
        EXPECT_TRUE(MakeFolders(folder));
        EXPECT_TRUE(CopyFileW(ToWide(standins_ + "\\mvdown_1.6.5.2288.exe").c_str(),
                              ToWide(exe).c_str(), FALSE));
        installed_.push_back(exe);
        return exe;
    }
    void SetWindowMode(const std::string& mode) {
        SetEnvironmentVariableW(L"KELTO2_MVDOWN_WINDOW", ToWide(mode).c_str());
    }
    // Starts exe with one argument and waits until it runs with its window.
    void StartWithWindow(const std::string& exe, const std::string& argument) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        std::wstring commandLine = L"\"" + ToWide(exe) + L"\" " + ToWide(argument);
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &started));
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        ASSERT_TRUE(WaitForLine(standinLog_, "args " + argument, kLineWaitMs));
        const std::string windowClass(kDownloaderWindowClass);
        for (int i = 0; i < 200 && FindWindowA(windowClass.c_str(), nullptr) == nullptr; ++i) {
            Sleep(50);
        }
        ASSERT_TRUE(FindWindowA(windowClass.c_str(), nullptr) != nullptr);
    }
    std::vector<std::string> Trace() { return ReadLines(log_); }
    std::vector<std::string> StandinLines() { return ReadLines(standinLog_); }
    // A server root under which "/software2.xml" lands in the query of a
    // canned 200 route: the refresh succeeds with size bytes.
    std::string ServingRoot(int size) {
        return testUrl_ + "/canned/ok?size=" + std::to_string(size) + "&root=";
    }

    std::string standins_;
    std::string testUrl_;
    std::string company_;
    std::string scratch_;
    std::string log_;
    std::string standinLog_;
    std::vector<std::string> installed_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
    std::unique_ptr<ScopedCurrentFolder> current_;
};

// ---- RunDownloader ----

TEST_F(HandOver, NoDownloaderNoStartNoLog) {
    struct Case {
        const char* name;
        void (*arrange)(HandOver&);
    };
    const Case cases[] = {
        {"nothing installed", [](HandOver&) {}},
        {"Uninstall key pointing at nothing",
         [](HandOver& t) {
             ASSERT_TRUE(SetInstallLocationText(kProductName, t.scratch_ + "\\gone"));
             ASSERT_TRUE(SetInstallLocationText(kOldProductName, ""));
         }},
        {"a folder named mvdown.exe",
         [](HandOver& t) {
             ASSERT_TRUE(MakeFolders(t.ProductFolder(kProductName) + "\\mvdown.exe"));
         }},
    };
    for (const Case& c : cases) {
        c.arrange(*this);
        EXPECT_EQ(RunDownloader(kGame, kPatient, testUrl_), 0u) << c.name;
        EXPECT_EQ(ReadBytes(log_), "") << c.name;
        EXPECT_FALSE(PathExists(standinLog_)) << c.name << ": something was started";
    }
}

TEST_F(HandOver, StartsTheDownloaderAndSendsTheGame) {
    std::string exe = Install(kProductName);
    ASSERT_TRUE(WriteBytes(ProductFolder(kProductName) + "\\software.xml", "old"));

    HWND window = reinterpret_cast<HWND>(RunDownloader(kGame, kPatient, testUrl_));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(ClassOf(window), kDownloaderWindowClass);

    // The message was handled before RunDownloader returned.
    std::vector<std::string> seen = StandinLines();
    std::vector<std::string> expectedSeen = {
        "args /u",
        "token mvdown 3",                             // the user's folder: the user's rights
        "mvdown cwd " + ProductFolder(kProductName),  // not the launcher's current folder
        "window " + std::to_string(reinterpret_cast<INT_PTR>(window)),
        "msg 0x13F4 9 0",
    };
    EXPECT_EQ(seen, expectedSeen);

    std::vector<std::string> expectedTrace = {
        "update software.xml failed",
        Ansi("Executing " + exe),
        SendMessageLogLine(reinterpret_cast<intptr_t>(window), kHandOverMessage, kGame),
    };
    EXPECT_EQ(Trace(), expectedTrace);
    EXPECT_EQ(ReadBytes(ProductFolder(kProductName) + "\\software.xml"), "old");
}

TEST_F(HandOver, OlderProductNameOnly) {
    std::string exe = Install(kOldProductName);
    bool rootFileBefore = PathExists("\\software.xml");

    HWND window = reinterpret_cast<HWND>(RunDownloader(21, kPatient, ServingRoot(10)));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(HasLine(StandinLines(), "msg 0x13F4 21 0")) << "the game number as given";
    std::vector<std::string> expectedTrace = {
        "update software.xml failed",  // once: the current product has no folder
        Ansi("Executing " + exe),
        SendMessageLogLine(reinterpret_cast<intptr_t>(window), kHandOverMessage, 21),
    };
    EXPECT_EQ(Trace(), expectedTrace);
    // software.xml belongs to the current product name only.
    EXPECT_FALSE(PathExists(ProductFolder(kOldProductName) + "\\software.xml"));
    if (!rootFileBefore) {
        EXPECT_FALSE(PathExists("\\software.xml")) << "written at the root of the drive";
    }
}

TEST_F(HandOver, WindowThatComesLateIsWaitedFor) {
    Install(kProductName);
    SetWindowMode("delay:1500");
    DWORD start = GetTickCount();
    uintptr_t window = RunDownloader(kGame, kPatient, testUrl_);
    DWORD elapsed = GetTickCount() - start;
    ASSERT_NE(window, 0u);
    EXPECT_GE(elapsed, 1500u);
    EXPECT_TRUE(HasLine(StandinLines(), "msg 0x13F4 9 0"));
    EXPECT_EQ(Trace().back(),
              SendMessageLogLine(static_cast<intptr_t>(window), kHandOverMessage, kGame));
}

TEST_F(HandOver, WindowThatNeverComesIsGivenUp) {
    Install(kProductName);
    SetWindowMode("never");
    HandOverTiming timing = kPatient;
    timing.windowSearchLimitMs = 3000;
    DWORD start = GetTickCount();
    EXPECT_EQ(RunDownloader(kGame, timing, testUrl_), 0u);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, timing.pollMs + timing.windowSearchLimitMs);
    std::vector<std::string> trace = Trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[2], "Failed to get Tmvna_downloader_MsgWin");
    std::vector<std::string> seen = StandinLines();
    EXPECT_TRUE(HasLine(seen, "args /u"));
    for (const std::string& line : seen) {
        EXPECT_NE(line.rfind("msg ", 0), 0u) << line;
    }
}

TEST_F(HandOver, HungDownloaderIsGivenUpOn) {
    Install(kProductName);
    ScopedEnv hang(L"KELTO2_MVDOWN_HANG", "1");
    HandOverTiming timing = kPatient;
    timing.hungSendLimitMs = 2000;
    DWORD start = GetTickCount();
    EXPECT_NE(RunDownloader(kGame, timing, testUrl_), 0u);
    EXPECT_LT(GetTickCount() - start, 15000u) << "the send gave up on the hung window";
    EXPECT_TRUE(HasLine(StandinLines(), "msg 0x13F4 9 0"));
}

// Windows takes a window whose thread has handled no message for 5 s for
// hung; the send waits for it all the same, within its time limit.
TEST_F(HandOver, BusyDownloaderStillGetsTheGame) {
    std::string exe = Install(kProductName);
    {
        ScopedEnv busy(L"KELTO2_MVDOWN_BUSY_MS", "7500");
        ASSERT_NO_FATAL_FAILURE(StartWithWindow(exe, "--busy"));
    }
    Sleep(5500);
    // The instance started with /u makes no window of its own: the busy one
    // is the one found.
    SetWindowMode("never");
    HandOverTiming timing = kPatient;
    timing.hungSendLimitMs = 15000;
    EXPECT_NE(RunDownloader(kGame, timing, testUrl_), 0u);
    EXPECT_TRUE(HasLine(StandinLines(), "msg 0x13F4 9 0")) << "the busy Downloader lost the game";
}

TEST_F(HandOver, RunningDownloaderIsStartedAgainAndMessaged) {
    std::string exe = Install(kProductName);
    SetEnvironmentVariableW(L"KELTO2_MVDOWN_LIFETIME_MS", L"30000");
    ASSERT_NO_FATAL_FAILURE(StartWithWindow(exe, "--already-running"));

    ASSERT_NE(RunDownloader(kGame, kPatient, testUrl_), 0u);
    // The new instance writes its line while the message goes to the old one.
    EXPECT_TRUE(WaitForLine(standinLog_, "args /u", kLineWaitMs)) << "started again all the same";
    std::vector<std::string> seen = StandinLines();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "msg 0x13F4 9 0"), 1);
}

// The wait handles the calling thread's own messages: a window of the
// setup job's thread, or of the main thread, is not frozen meanwhile.
std::atomic<int> g_appMessages{0};

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        ++g_appMessages;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI SendAppMessageSoon(void* target) {
    Sleep(300);
    SendMessageW(static_cast<HWND>(target), WM_APP, 0, 0);
    return 0;
}

TEST_F(HandOver, WaitHandlesTheThreadsMessages) {
    Install(kProductName);
    SetWindowMode("delay:1000");
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Kelto2HandOverTestWindow";
    RegisterClassW(&windowClass);
    HWND own = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                               nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(own, nullptr);
    g_appMessages = 0;
    ASSERT_TRUE(PostMessageW(own, WM_APP, 0, 0));
    // Sent from another thread: it only gets through while this thread
    // handles its messages.
    HANDLE sender = CreateThread(nullptr, 0, SendAppMessageSoon, own, 0, nullptr);
    ASSERT_NE(sender, nullptr);

    EXPECT_NE(RunDownloader(kGame, kPatient, testUrl_), 0u);
    EXPECT_EQ(WaitForSingleObject(sender, 0), WAIT_OBJECT_0) << "the sent message was not handled";
    EXPECT_EQ(g_appMessages.load(), 2);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    WaitForSingleObject(sender, 5000);
    CloseHandle(sender);
    DestroyWindow(own);
    UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}

TEST_F(HandOver, RegistryErrorOfTheSearchReachesTheCaller) {
    Install(kOldProductName);
    DWORD number = 1;
    ASSERT_TRUE(SetInstallLocation(kProductName, kView32, REG_DWORD, &number, sizeof(number)));
    EXPECT_THROW(RunDownloader(kGame, kPatient, testUrl_), RegistryError);
    EXPECT_EQ(ReadBytes(log_), "");
    EXPECT_FALSE(PathExists(standinLog_)) << "started after the error";
}

// ---- UpdateSoftwareXml ----

// Every failed attempt is logged and followed by the pause, the last one
// too; once the refresh's time is spent, no attempt is made or logged.
TEST_F(HandOver, FailedRefreshesLeaveSoftwareXmlAlone) {
    Install(kProductName);
    std::string xml = ProductFolder(kProductName) + "\\software.xml";
    struct Case {
        const char* name;
        HandOverTiming timing;
        size_t attempts;
    };
    const Case cases[] = {
        {"every attempt", {100, 1000, 3, 300}, 3},
        {"out of time after two", {100, 1000, 5, 700, 60000, 1000}, 2},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(xml, "old"));
        ASSERT_TRUE(WriteBytes(log_, ""));
        DWORD start = GetTickCount();
        UpdateSoftwareXml(c.timing, testUrl_);  // nothing at /software2.xml
        DWORD elapsed = GetTickCount() - start;
        std::vector<std::string> expected(c.attempts, "update software.xml failed");
        EXPECT_EQ(Trace(), expected) << c.name;
        EXPECT_GE(elapsed, c.attempts * c.timing.refreshPauseMs) << c.name;
        EXPECT_EQ(ReadBytes(xml), "old") << c.name;
    }
}

std::string CannedBytes(int size) {
    std::string bytes;
    for (int i = 0; i < size; ++i) {
        bytes.push_back(static_cast<char>(i % 251));
    }
    return bytes;
}

TEST_F(HandOver, RefreshReplacesSoftwareXmlOfTheCurrentProduct) {
    struct Case {
        const char* name;
        bool throughRegistry;
    };
    const Case cases[] = {{"per-user folder", false}, {"folder of the Uninstall key", true}};
    for (const Case& c : cases) {
        std::string folder;
        if (c.throughRegistry) {
            folder = scratch_ + "\\注册 folder";
            ASSERT_TRUE(MakeFolders(folder));
            ASSERT_TRUE(SetInstallLocationText(kProductName, folder));
        } else {
            Install(kProductName);
            folder = ProductFolder(kProductName);
        }
        Install(kOldProductName);  // never its folder
        std::string xml = folder + "\\software.xml";
        ASSERT_TRUE(WriteBytes(xml, "old"));
        ASSERT_TRUE(WriteBytes(log_, ""));

        UpdateSoftwareXml({100, 1000, 3, 50}, ServingRoot(300));
        EXPECT_EQ(Trace(), std::vector<std::string>{"software.xml updated"}) << c.name;
        EXPECT_EQ(ReadBytes(xml), CannedBytes(300)) << c.name;
        EXPECT_FALSE(PathExists(ProductFolder(kOldProductName) + "\\software.xml")) << c.name;
        RemoveTree(company_);
        DeleteKey(kProductName);
    }
}

// The request made early, beside the configuration's, is the refresh's
// first attempt: its answer is written as a download's would be, and only
// when it fails does the refresh ask the server again.
TEST_F(HandOver, EarlyRequestIsTheFirstAttempt) {
    Install(kProductName);
    std::string xml = ProductFolder(kProductName) + "\\software.xml";
    struct Case {
        const char* name;
        std::string earlyRoot;
        std::string laterRoot;
        std::vector<std::string> trace;
        std::string content;
    };
    const Case cases[] = {
        {"early answer taken",
         ServingRoot(300),
         testUrl_,
         {"software.xml updated"},
         CannedBytes(300)},
        {"early failure, then the server again",
         testUrl_,
         ServingRoot(50),
         {"update software.xml failed", "software.xml updated"},
         CannedBytes(50)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(xml, "old"));
        ASSERT_TRUE(WriteBytes(log_, ""));
        std::shared_ptr<PendingGet> early =
            StartGet(SoftwareXmlUrl(c.earlyRoot), kServerFileLimits);
        UpdateSoftwareXml({100, 1000, 3, 50}, c.laterRoot, early.get());
        EXPECT_EQ(Trace(), c.trace) << c.name;
        EXPECT_EQ(ReadBytes(xml), c.content) << c.name;
        EXPECT_FALSE(PathExists(xml + ".part")) << c.name;
    }
}

TEST_F(HandOver, NoCurrentProductFolderNoRefresh) {
    bool rootFileBefore = PathExists("\\software.xml");
    struct Case {
        const char* name;
        void (*arrange)(HandOver&);
    };
    const Case cases[] = {
        {"nothing installed", [](HandOver&) {}},
        {"older product name only", [](HandOver& t) { t.Install(kOldProductName); }},
        {"empty InstallLocation",
         [](HandOver& t) { ASSERT_TRUE(SetInstallLocationText(kProductName, "")); }},
    };
    for (const Case& c : cases) {
        c.arrange(*this);
        ASSERT_TRUE(WriteBytes(log_, ""));
        UpdateSoftwareXml({100, 1000, 3, 50}, ServingRoot(10));
        EXPECT_EQ(Trace(), std::vector<std::string>{"update software.xml failed"}) << c.name;
        EXPECT_FALSE(PathExists(ProductFolder(kOldProductName) + "\\software.xml")) << c.name;
        if (!rootFileBefore) {
            EXPECT_FALSE(PathExists("\\software.xml")) << c.name;
        }
    }
}

}  // namespace
