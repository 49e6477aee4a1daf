#include "transfer/http_win.h"

#include <gtest/gtest.h>

#include "toolkit/text.h"
#include "toolkit/trace_win.h"
#include "win_test_support.h"

namespace kelto {

// Failures read as their text in the test's messages.
void PrintTo(HttpFailure failure, std::ostream* out) {
    *out << HttpFailureText(failure);
}

}  // namespace kelto

using namespace kelto;

namespace {

// What the progress callback saw; reset by every test.
struct CallbackLog {
    struct Call {
        int32_t contentLength;
        int32_t received;
        uint32_t startTick;
    };
    std::vector<Call> calls;
    int stopAfter = -1;  // return false on this call (1-based); -1 never
    int pauses = 0;
};
CallbackLog g_log;

bool RecordProgress(int32_t contentLength, int32_t received, uint32_t startTick) {
    g_log.calls.push_back({contentLength, received, startTick});
    return static_cast<int>(g_log.calls.size()) != g_log.stopAfter;
}

void CountPause(DWORD ms) {
    EXPECT_EQ(ms, kReadPauseMs) << "a plain pause, never shortened";
    ++g_log.pauses;
}

std::string AsText(const MemorySink& sink) {
    return std::string(sink.Bytes().begin(), sink.Bytes().end());
}

// Talks to the test server through the proxy that http_proxy names; the
// harness sets KELTO2_TEST_URL to a root whose host only that proxy knows.
class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_URL(base);
        base_ = base;
        g_log = {};
        previousPause_ = SetHttpPauseForTesting(&CountPause);
        dir_ = ScratchFolder("http-下载");
    }
    void TearDown() override {
        if (!base_.empty()) {
            SetHttpPauseForTesting(previousPause_);
            RemoveTree(dir_);
        }
    }
    std::string Url(const std::string& route) const { return base_ + route; }

    std::string base_;
    std::string dir_;
    HttpPauseFunction previousPause_ = nullptr;
};

TEST_F(HttpTest, StatusAndBodyOfCannedRoutes) {
    struct Case {
        std::string route;
        int32_t status;
        std::string body;
    };
    const Case cases[] = {
        {"/canned/ok?size=1", 200, CannedBody(1)},
        {"/canned/ok?size=16184", 200, CannedBody(16184)},
        {"/canned/ok?size=100000", 200, CannedBody(100000)},
        {"/canned/empty", 200, ""},
        {"/canned/nolength?size=40000", 200, CannedBody(40000)},
        {"/canned/404", 404, "not here"},
        {"/canned/redirect?to=/canned/ok%3Fsize%3D3000", 200, CannedBody(3000)},
        {"/canned/slow?size=50000&chunk=7000&delay_ms=20", 200, CannedBody(50000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        MemorySink sink;
        HttpResult result = HttpGet(Url(c.route), sink, "", nullptr, nullptr);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.failure, HttpFailure::kNone);
        EXPECT_EQ(AsText(sink), c.body);
    }
}

TEST_F(HttpTest, BrokenOrMissingResponsesGiveZeroAndWhy) {
    // One redirect more than a request follows.
    std::string redirects = "/canned/ok?size=1";
    for (int i = 0; i <= kMaxRedirects; ++i) {
        redirects = "/canned/redirect?to=" + redirects;
    }
    // Whether the failure comes with the error of a failed call; an answer
    // without a status fails the open on Windows, and opens under Wine.
    const std::optional<bool> platform;
    struct Case {
        std::string url;
        HttpFailure failure;
        std::optional<bool> callFailed;
    };
    const Case cases[] = {
        {Url("/canned/truncated?size=100000&cut=30000"), HttpFailure::kIncomplete, false},
        {Url("/canned/truncated?size=10&cut=0"), HttpFailure::kIncomplete, false},
        {Url("/canned/badstatus"), HttpFailure::kOpen, platform},
        {Url("/canned/hang?ms=300"), HttpFailure::kOpen, platform},  // closed, no answer
        {Url(redirects), HttpFailure::kRefusedRedirect, false},
        {"not a url", HttpFailure::kOpen, true},
        {"", HttpFailure::kOpen, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        MemorySink sink;
        HttpResult result = HttpGet(c.url, sink, "", nullptr, RecordProgress);
        EXPECT_EQ(result.status, kHttpNoResponse);
        EXPECT_EQ(result.failure, c.failure);
        if (c.callFailed) {
            EXPECT_EQ(result.error != 0, *c.callFailed) << result.error;
        }
    }
}

TEST_F(HttpTest, CallbackSeesEveryPieceWithLengthAndStartTick) {
    const size_t size = 200000;
    MemorySink sink;
    uint32_t before = GetTickCount();
    ASSERT_EQ(HttpGet(Url("/canned/ok?size=200000"), sink, "", nullptr, RecordProgress).status,
              200);
    ASSERT_GE(g_log.calls.size(), size / kReadChunk);
    int32_t last = 0;
    for (const CallbackLog::Call& call : g_log.calls) {
        EXPECT_EQ(call.contentLength, static_cast<int32_t>(size));
        EXPECT_GT(call.received, last);
        EXPECT_LE(call.received - last, static_cast<int32_t>(kReadChunk));
        EXPECT_EQ(call.startTick, g_log.calls.front().startTick);
        last = call.received;
    }
    EXPECT_EQ(last, static_cast<int32_t>(size));
    EXPECT_GE(g_log.calls.front().startTick - before, 0u);
    EXPECT_LE(g_log.calls.front().startTick - before, 60000u);
    EXPECT_EQ(g_log.pauses, static_cast<int>(g_log.calls.size()))
        << "one pause after every read that delivered data";
}

TEST_F(HttpTest, NoContentLengthGivesZeroAndGrowingCounts) {
    MemorySink sink;
    ASSERT_EQ(HttpGet(Url("/canned/nolength?size=60000"), sink, "", nullptr, RecordProgress).status,
              200);
    ASSERT_FALSE(g_log.calls.empty());
    int32_t last = 0;
    for (const CallbackLog::Call& call : g_log.calls) {
        EXPECT_EQ(call.contentLength, 0);
        EXPECT_GT(call.received, last);
        last = call.received;
    }
    EXPECT_EQ(last, 60000);
}

TEST_F(HttpTest, EmptyBodyNeverCallsTheCallback) {
    MemorySink sink;
    EXPECT_EQ(HttpGet(Url("/canned/empty"), sink, "", nullptr, RecordProgress).status, 200);
    EXPECT_TRUE(g_log.calls.empty());
    EXPECT_EQ(g_log.pauses, 0);
}

TEST_F(HttpTest, NotFoundBodyPassesThroughTheCallback) {
    MemorySink sink;
    EXPECT_EQ(HttpGet(Url("/canned/404"), sink, "", nullptr, RecordProgress).status, 404);
    ASSERT_FALSE(g_log.calls.empty());
    EXPECT_EQ(g_log.calls.back().received, 8);
    EXPECT_EQ(AsText(sink), "not here");
}

TEST_F(HttpTest, CallbackStopsAfterTheFirstPiece) {
    g_log.stopAfter = 1;
    MemorySink sink;
    HttpResult result = HttpGet(Url("/canned/ok?size=500000"), sink, "", nullptr, RecordProgress);
    EXPECT_EQ(result.status, 200) << "the status the stopped transfer began with";
    EXPECT_EQ(result.failure, HttpFailure::kStopped);
    ASSERT_EQ(g_log.calls.size(), 1u);
    EXPECT_EQ(sink.Bytes().size(), static_cast<size_t>(g_log.calls[0].received));
    EXPECT_LT(sink.Bytes().size(), 500000u);
    EXPECT_EQ(g_log.pauses, 0) << "stopping leaves at once, without the pause";
}

TEST_F(HttpTest, RequestsEndWithinTheirLimits) {
    struct Case {
        const char* route;
        RequestLimits limits;
        int32_t status;
        HttpFailure failure;
    };
    const Case cases[] = {
        {"/canned/hang?ms=5000", {300, 0}, kHttpNoResponse, HttpFailure::kStalled},  // silent
        {"/canned/slow?size=100&chunk=1&delay_ms=1000",
         {300, 0},
         kHttpNoResponse,
         HttpFailure::kStalled},
        {"/canned/slow?size=100&chunk=1&delay_ms=100",
         {0, 600},
         kHttpNoResponse,
         HttpFailure::kTimedOut},
        {"/canned/slow?size=3&chunk=1&delay_ms=100", {300, 2000}, 200, HttpFailure::kNone},
        {"/canned/ok?size=1001", {0, 0, 1000}, kHttpNoResponse, HttpFailure::kTooLong},
        {"/canned/ok?size=1000", {0, 0, 1000}, 200, HttpFailure::kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        MemorySink sink;
        HttpResult result = HttpGet(Url(c.route), sink, "", nullptr, nullptr, c.limits);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.failure, c.failure);
    }
}

// The requests of a run share one WinInet session: the connection that a
// server keeps open carries the next request to it. /canned/peer answers
// with the port of the connection it came on.
TEST_F(HttpTest, NextRequestTakesTheConnectionKeptOpen) {
    REQUIRE_DIRECT_URL(direct);
    MemorySink first;
    MemorySink second;
    ASSERT_EQ(HttpGet(direct + "/canned/peer", first, "", nullptr, nullptr).status, 200);
    ASSERT_EQ(HttpGet(direct + "/canned/peer", second, "", nullptr, nullptr).status, 200);
    EXPECT_FALSE(AsText(first).empty());
    EXPECT_EQ(AsText(second), AsText(first)) << "a new connection for the second request";
}

TEST_F(HttpTest, HeaderListReplacedByTheResponseHeaders) {
    std::vector<std::string> headers = {"stale line"};
    MemorySink sink;
    ASSERT_EQ(HttpGet(Url("/canned/ok?size=10"), sink, "", &headers, nullptr).status, 200);
    ASSERT_FALSE(headers.empty());
    EXPECT_TRUE(headers[0].starts_with("HTTP/1.")) << headers[0];
    EXPECT_NE(headers[0].find("200"), std::string::npos);
    bool hasLength = false;
    for (const std::string& line : headers) {
        EXPECT_NE(line, "stale line");
        EXPECT_FALSE(line.empty());
        hasLength = hasLength || AsciiLowered(line).starts_with("content-length:");
    }
    EXPECT_TRUE(hasLength);
}

// ---- DownloadToFile ----

TEST_F(HttpTest, DownloadWritesTheWholeBody) {
    struct Case {
        std::string route;
        std::string name;
        std::string body;
    };
    const Case cases[] = {
        {"/canned/ok?size=70000", "setup.exe", CannedBody(70000)},
        {"/canned/empty", "empty.xml", ""},
        {"/canned/nolength?size=20000", "软件.xml", CannedBody(20000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        std::string path = dir_ + "\\" + c.name;
        ASSERT_TRUE(WriteBytes(path, "old content that is longer than nothing"));
        EXPECT_EQ(DownloadToFile(Url(c.route), path, "", nullptr, nullptr).status, 200);
        EXPECT_EQ(ReadBytes(path), c.body);
        EXPECT_FALSE(PathExists(path + ".part")) << "no temporary file left behind";
    }
    std::string fresh = dir_ + "\\fresh.bin";
    EXPECT_EQ(DownloadToFile(Url("/canned/ok?size=5"), fresh, "", nullptr, nullptr).status, 200);
    EXPECT_EQ(ReadBytes(fresh), CannedBody(5));
}

// The body goes to disk as it arrives: after every piece the staged file
// holds everything received so far.
std::string g_stagedPath;
int g_stagedMismatches = 0;

bool CheckStagedFile(int32_t, int32_t received, uint32_t) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(ToWide(g_stagedPath).c_str(), GetFileExInfoStandard, &data) ||
        data.nFileSizeLow != static_cast<DWORD>(received)) {
        ++g_stagedMismatches;
    }
    return true;
}

TEST_F(HttpTest, DownloadStreamsToDisk) {
    std::string path = dir_ + "\\setup.exe";
    g_stagedPath = path + ".part";
    g_stagedMismatches = 0;
    EXPECT_EQ(
        DownloadToFile(Url("/canned/ok?size=300000"), path, "", nullptr, CheckStagedFile).status,
        200);
    EXPECT_EQ(g_stagedMismatches, 0);
    EXPECT_EQ(ReadBytes(path), CannedBody(300000));
}

TEST_F(HttpTest, TargetHeldOpenIsOverwrittenInPlace) {
    std::string path = dir_ + "\\software.xml";
    ASSERT_TRUE(WriteBytes(path, "held open by a reader that shares writing, not deleting"));
    HANDLE reader =
        CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(DownloadToFile(Url("/canned/ok?size=4000"), path, "", nullptr, nullptr).status, 200);
    CloseHandle(reader);
    EXPECT_EQ(ReadBytes(path), CannedBody(4000));
    EXPECT_FALSE(PathExists(path + ".part"));
}

// A link where the download would be staged refuses it; a link at the
// target itself is replaced by name (the hand-over tests show it).
TEST_F(HttpTest, LinkAsTheStagingFileIsNotWrittenThrough) {
    REQUIRE_LINK_DIR(links);
    EXPECT_EQ(
        DownloadToFile(Url("/canned/ok?size=300"), links + "\\staged.xml", "", nullptr, nullptr)
            .status,
        kHttpNoResponse);
    EXPECT_EQ(ReadBytes(links + "\\victim"), "victim");
}

TEST_F(HttpTest, FailedDownloadLeavesTheExistingFile) {
    struct Case {
        std::string route;
        int stopAfter;
        int32_t status;
        HttpFailure failure;
    };
    const Case cases[] = {
        {"/canned/404", -1, 404, HttpFailure::kNone},
        {"/canned/truncated?size=100000&cut=30000", -1, 0, HttpFailure::kIncomplete},
        {"/canned/badstatus", -1, 0, HttpFailure::kOpen},
        // Stopped by the callback: no whole body.
        {"/canned/ok?size=100000", 1, 0, HttpFailure::kStopped},
    };
    const std::string old = "previous software.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        std::string path = dir_ + "\\software.xml";
        ASSERT_TRUE(WriteBytes(path, old));
        g_log = {};
        g_log.stopAfter = c.stopAfter;
        HttpResult result = DownloadToFile(Url(c.route), path, "", nullptr, RecordProgress);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(ReadBytes(path), old);
        EXPECT_FALSE(PathExists(path + ".part"));
    }
    std::string never = dir_ + "\\never.xml";
    EXPECT_EQ(DownloadToFile(Url("/canned/404"), never, "", nullptr, nullptr).status, 404);
    EXPECT_FALSE(PathExists(never));
}

TEST_F(HttpTest, UnwritablePathGivesZero) {
    const std::string paths[] = {
        dir_ + "\\no such folder\\file.bin",
        dir_,  // a folder
        "",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        HttpResult result = DownloadToFile(Url("/canned/ok?size=100"), path, "", nullptr, nullptr);
        EXPECT_EQ(result.status, kHttpNoResponse);
        EXPECT_EQ(result.failure, HttpFailure::kWrite);
    }
    EXPECT_TRUE(PathExists(dir_)) << "the folder in the way was not replaced";
}

// The trace line of a failed request, without its time stamp.
std::vector<std::string> gTraced;

void CaptureTrace(std::string_view line) {
    size_t text = line.find("ms: ");
    gTraced.emplace_back(text == std::string_view::npos ? line : line.substr(text + 4));
}

TEST(HttpResultTrace, TellsTheFailureTheStatusAndTheError) {
    ASSERT_FALSE(ErrorText(ERROR_ACCESS_DENIED).empty());
    struct Case {
        HttpResult result;
        std::string line;
    };
    const Case cases[] = {
        {{kHttpOk, HttpFailure::kPackageCheck, 0},
         "get failed: " + std::string(HttpFailureText(HttpFailure::kPackageCheck)) +
             ", status 200"},
        {{kHttpNoResponse, HttpFailure::kWrite, ERROR_ACCESS_DENIED},
         "get failed: " + std::string(HttpFailureText(HttpFailure::kWrite)) +
             ", status 0, error 5: " + ErrorText(ERROR_ACCESS_DENIED)},
    };
    for (const Case& c : cases) {
        gTraced.clear();
        TraceSink previous = SetTraceSinkForTesting(CaptureTrace);
        TraceHttpResult("get", c.result);
        SetTraceSinkForTesting(previous);
        EXPECT_EQ(gTraced, std::vector<std::string>{c.line});
    }
}

// Marks a request that the harness then finds in the server's records, to
// check that it carries no user agent of ours.
TEST_F(HttpTest, AgentProbe) {
    MemorySink sink;
    EXPECT_EQ(HttpGet(Url("/canned/ok?size=4&probe=agent"), sink, "", nullptr, nullptr).status,
              200);
}

}  // namespace
