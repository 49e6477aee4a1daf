#include "transfer/http_pending_win.h"

#include <gtest/gtest.h>

#include "win_test_support.h"

using namespace kelto;

namespace {

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Talks to the test server through the proxy that http_proxy names.
class PendingGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_URL(base);
        base_ = base;
        dir_ = ScratchFolder("pending-下载");
    }
    void TearDown() override {
        if (!base_.empty()) {
            RemoveTree(dir_);
        }
    }
    std::string Url(const std::string& route) const { return base_ + route; }

    std::string base_;
    std::string dir_;
};

TEST_F(PendingGetTest, AnswerIsHttpGetsWithItsBody) {
    struct Case {
        std::string route;
        RequestLimits limits;
        int32_t status;
        HttpFailure failure;
        std::string body;
    };
    const Case cases[] = {
        {"/canned/ok?size=40000", kServerFileLimits, 200, HttpFailure::kNone, CannedBody(40000)},
        {"/canned/404", kServerFileLimits, 404, HttpFailure::kNone, "not here"},
        {"/canned/truncated?size=1000&cut=300", kServerFileLimits, 0, HttpFailure::kIncomplete,
         CannedBody(300)},
        {"/canned/hang?ms=5000", {0, 500}, 0, HttpFailure::kTimedOut, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        std::shared_ptr<PendingGet> get = StartGet(Url(c.route), c.limits);
        GetAnswer answer = AwaitGet(*get);
        EXPECT_EQ(answer.result.status, c.status);
        EXPECT_EQ(answer.result.failure, c.failure);
        EXPECT_EQ(Text(answer.body), c.body);
    }
}

// Requests side by side are on their way at once, each on a connection of
// its own; a later request takes one of those connections again instead of
// opening another.
TEST_F(PendingGetTest, SideBySideOnConnectionsOfTheirOwnThenReused) {
    REQUIRE_DIRECT_URL(direct);
    const std::string slow = direct + "/canned/peer?delay_ms=500";
    std::shared_ptr<PendingGet> first = StartGet(slow, kServerFileLimits);
    std::shared_ptr<PendingGet> second = StartGet(slow, kServerFileLimits);
    GetAnswer a = AwaitGet(*first);
    GetAnswer b = AwaitGet(*second);
    ASSERT_EQ(a.result.status, 200);
    ASSERT_EQ(b.result.status, 200);
    EXPECT_NE(Text(a.body), Text(b.body)) << "one after the other on one connection";

    MemorySink later;
    ASSERT_EQ(HttpGet(direct + "/canned/peer", later, "", nullptr, nullptr).status, 200);
    std::string port(later.Bytes().begin(), later.Bytes().end());
    EXPECT_TRUE(port == Text(a.body) || port == Text(b.body)) << port << " is a new connection";
}

TEST_F(PendingGetTest, DownloadWritesOnlyAWholeAnswerAt200) {
    struct Case {
        std::string route;
        int32_t status;
        HttpFailure failure;
        std::string content;
    };
    const std::string old = "previous software.xml";
    const Case cases[] = {
        {"/canned/ok?size=7000", 200, HttpFailure::kNone, CannedBody(7000)},
        {"/canned/empty", 200, HttpFailure::kNone, ""},
        {"/canned/404", 404, HttpFailure::kNone, old},
        {"/canned/truncated?size=1000&cut=300", 0, HttpFailure::kIncomplete, old},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        std::string path = dir_ + "\\software.xml";
        ASSERT_TRUE(WriteBytes(path, old));
        std::shared_ptr<PendingGet> get = StartGet(Url(c.route), kServerFileLimits);
        HttpResult result = AwaitDownloadToFile(*get, path);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(ReadBytes(path), c.content);
        EXPECT_FALSE(PathExists(path + ".part"));
    }
}

TEST_F(PendingGetTest, DownloadIsNotWrittenThroughALink) {
    REQUIRE_LINK_DIR(links);
    std::shared_ptr<PendingGet> get = StartGet(Url("/canned/ok?size=300"), kServerFileLimits);
    EXPECT_EQ(AwaitDownloadToFile(*get, links + "\\staged.xml").status, kHttpNoResponse);
    EXPECT_EQ(ReadBytes(links + "\\victim"), "victim");
}

}  // namespace
