#include "transfer/http.h"
#include "transfer/http_internal.h"

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(HttpHelpersTest, ParseHeaderNumber) {
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"200", 200},
        {"404", 404},
        {"", 0},
        {"abc", 0},
        {"OK 200", 0},
        {"404 Not Found", 404},
        {" 1234 ", 1234},
        {"12x", 12},
        {"99999999999", std::numeric_limits<int32_t>::max()},
        {"00000000000000000000000000017", 17},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseHeaderNumber(c.text), c.expected) << '"' << c.text << '"';
    }
}

// Every failure reads as its own words; a value outside the enum as none
// of them.
TEST(HttpHelpersTest, FailureTextsAreDistinct) {
    const HttpFailure failures[] = {
        HttpFailure::kNone,         HttpFailure::kOpen,     HttpFailure::kRefusedRedirect,
        HttpFailure::kStalled,      HttpFailure::kTimedOut, HttpFailure::kStopped,
        HttpFailure::kTooLong,      HttpFailure::kWrite,    HttpFailure::kIncomplete,
        HttpFailure::kPackageCheck,
    };
    const auto unknown = static_cast<HttpFailure>(static_cast<int>(HttpFailure::kPackageCheck) + 1);
    std::set<std::string_view> texts;
    for (HttpFailure failure : failures) {
        std::string_view text = HttpFailureText(failure);
        EXPECT_FALSE(text.empty()) << static_cast<int>(failure);
        EXPECT_NE(text, HttpFailureText(unknown)) << static_cast<int>(failure);
        EXPECT_TRUE(texts.insert(text).second) << text;
    }
    EXPECT_EQ(HttpFailureText(unknown), "unknown failure");
}

TEST(HttpHelpersTest, ReserveHintIsBounded) {
    struct Case {
        int32_t contentLength;
        size_t expected;
    };
    const Case cases[] = {
        {std::numeric_limits<int32_t>::min(), 0},
        {-5, 0},
        {0, 0},
        {1, 1},
        {16184, 16184},
        {static_cast<int32_t>(kMaxReserve), kMaxReserve},
        {static_cast<int32_t>(kMaxReserve) + 1, kMaxReserve},
        {std::numeric_limits<int32_t>::max(), kMaxReserve},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReserveHint(c.contentLength), c.expected) << c.contentLength;
    }
}

TEST(HttpHelpersTest, TransferIsComplete) {
    struct Case {
        bool readFailed;
        int32_t contentLength;
        int64_t received;
        bool expected;
    };
    const Case cases[] = {
        {false, 0, 0, true},     // empty body, no length announced
        {false, 0, 5000, true},  // no length announced
        {false, -1, 0, true},    // nonsense length is no announcement
        {false, 100, 100, true},
        {false, 100, 150, true},
        {false, 100, 99, false},  // cut short
        {false, 100, 0, false},
        {true, 0, 100, false},  // a failed read is never complete
        {true, 100, 100, false},
        {false, std::numeric_limits<int32_t>::max(), int64_t{1} << 32, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TransferIsComplete(c.readFailed, c.contentLength, c.received), c.expected)
            << c.readFailed << ' ' << c.contentLength << ' ' << c.received;
    }
}

TEST(HttpHelpersTest, SplitHeaderLines) {
    struct Case {
        std::string raw;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", {"HTTP/1.1 200 OK", "Content-Length: 5"}},
        {"", {}},
        {"\r\n\r\n", {}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\r\n", {"a\nb"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"\r\na", {"", "a"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitHeaderLines(c.raw), c.expected) << ::testing::PrintToString(c.raw);
    }
}

TEST(HttpHelpersTest, WebSchemeIsExactlyHttpOrHttps) {
    struct Case {
        std::string url;
        size_t expected;
    };
    const Case cases[] = {
        {"http://h/x", 7}, {"https://h/x", 8}, {"HTTP://h", 0},  {"Https://h", 0},
        {"https:/h", 0},   {"ftp://h", 0},     {" http://h", 0}, {"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WebSchemeLength(c.url), c.expected) << c.url;
    }
}

TEST(HttpHelpersTest, RedirectsNeverLeaveTls) {
    struct Case {
        std::string from;
        std::string to;
        bool follow;
    };
    const Case cases[] = {
        {"http://h/a", "http://h/b", true},   {"http://h/a", "https://h/b", true},
        {"https://h/a", "https://g/b", true}, {"https://h/a", "HTTPS://g/b", true},
        {"https://h/a", "http://h/b", false}, {"HTTPS://h/a", "http://h/b", false},
        {"https://h/a", "ftp://h/b", false},  {"https://h/a", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MayRedirect(c.from, c.to), c.follow) << c.from << " -> " << c.to;
    }
    // 304 (not modified) and 300 (a choice) carry no Location to follow.
    for (int32_t status : {301, 302, 303, 307, 308}) {
        EXPECT_TRUE(IsRedirectStatus(status)) << status;
    }
    for (int32_t status : {200, 300, 304, 305, 400}) {
        EXPECT_FALSE(IsRedirectStatus(status)) << status;
    }
}

TEST(HttpHelpersTest, MemorySinkCollectsInOrder) {
    MemorySink sink;
    const uint8_t first[] = {1, 2, 3};
    const uint8_t second[] = {4, 5};
    EXPECT_TRUE(sink.Append(first, sizeof(first)));
    EXPECT_TRUE(sink.Append(nullptr, 0));
    EXPECT_TRUE(sink.Append(second, sizeof(second)));
    EXPECT_EQ(sink.Bytes(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    // A piece more than memory can ever hold fails without touching the body.
    EXPECT_FALSE(sink.Append(first, std::numeric_limits<size_t>::max()));
    EXPECT_EQ(sink.Bytes(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    // Taken away whole; the sink starts again from nothing.
    EXPECT_EQ(sink.TakeBytes(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(sink.Bytes().empty());
    EXPECT_TRUE(sink.Append(second, sizeof(second)));
    EXPECT_EQ(sink.Bytes(), (std::vector<uint8_t>{4, 5}));

    MemorySink big;
    big.Reserve(ReserveHint(1 << 20));
    std::vector<uint8_t> chunk(kReadChunk, 0xAB);
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(big.Append(chunk.data(), chunk.size()));
    }
    EXPECT_EQ(big.Bytes().size(), 100 * kReadChunk);
}

}  // namespace

TEST(HttpHelpersTest, BodyWithinLimits) {
    struct Case {
        int64_t received;
        int32_t contentLength;
        int64_t maxBytes;
        bool expected;
    };
    const Case cases[] = {
        {kMaxServerFileBytes, 0, kServerFileLimits.maxBytes, true},
        {int64_t{kMaxServerFileBytes} + 1, 0, kServerFileLimits.maxBytes, false},
        {100, 100, kMaxBodyBytes, true},
        {101, 100, kMaxBodyBytes, false},  // never more than announced
        {kMaxBodyBytes, 0, kPackageLimits.maxBytes, true},
        {kMaxBodyBytes + 1, 0, kPackageLimits.maxBytes, false},
    };
    for (const Case& c : cases) {
        RequestLimits limits;
        limits.maxBytes = c.maxBytes;
        EXPECT_EQ(BodyWithinLimits(c.received, c.contentLength, limits), c.expected)
            << c.received << ' ' << c.contentLength << ' ' << c.maxBytes;
    }
}

TEST(HttpHelpersTest, AnswerValidator) {
    EXPECT_EQ(AnswerValidator("\"v1\"", "Mon, 07 Dec 2026 10:00:00 GMT"), "\"v1\"");
    EXPECT_EQ(AnswerValidator(" \"v1\" ", ""), "\"v1\"");
    EXPECT_EQ(AnswerValidator("W/\"v1\"", "Mon, 07 Dec 2026 10:00:00 GMT"),
              "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(AnswerValidator("", "Mon, 07 Dec 2026 10:00:00 GMT"),
              "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(AnswerValidator("W/\"v1\"", ""), "");
    EXPECT_EQ(AnswerValidator("\"a\r\nX-Evil: 1\"", ""), "");
    EXPECT_EQ(AnswerValidator(std::string(2000, 'e'), ""), "");
}

constexpr char kUrl[] = "http://h/s.exe";
constexpr char kSource[] = "http://mirror/s.exe";  // where kUrl redirected to

TEST(HttpHelpersTest, ResumeRequestHeaders) {
    EXPECT_EQ(ResumeRequestHeaders({600, 1000, "\"v1\"", kUrl, kSource}, kUrl),
              "Range: bytes=600-\r\nIf-Range: \"v1\"\r\n");
    EXPECT_EQ(ResumeRequestHeaders({0, 1000, "\"v1\"", kUrl, kSource}, kUrl), "");  // nothing kept
    EXPECT_EQ(ResumeRequestHeaders({1000, 1000, "\"v1\"", kUrl, kSource}, kUrl), "");  // none left
    EXPECT_EQ(ResumeRequestHeaders({600, 1000, "", kUrl, kSource}, kUrl), "");  // no validator
    EXPECT_EQ(ResumeRequestHeaders({600, 1000, "\"v1\"", "", ""}, ""), "");  // from nowhere known
}

// Two servers that agree on validator and length still never share a file.
TEST(HttpHelpersTest, ResumesOnlyFromTheUrlThatDeliveredTheKeptBytes) {
    const ResumePoint point{600, 1000, "\"v1\"", kUrl, kSource};
    struct Case {
        std::string url;
        std::string finalUrl;
        bool asks;
        bool continues;
    };
    const Case cases[] = {
        {kUrl, kSource, true, true},
        {kUrl, kUrl, true, false},                  // no longer redirected: another server
        {kUrl, "http://other/s.exe", true, false},  // redirected elsewhere
        {kSource, kSource, false, false},           // the source asked directly
        {"http://h/S.exe", kSource, false, false},  // another URL, whatever it leads to
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResumesFrom(point, c.url), c.asks) << c.url;
        EXPECT_EQ(!ResumeRequestHeaders(point, c.url).empty(), c.asks) << c.url;
        EXPECT_EQ(AnswerContinues(point, {c.url, c.finalUrl}, 206, "bytes 600-999/1000", 400),
                  c.continues)
            << c.url << " -> " << c.finalUrl;
    }
}

TEST(HttpHelpersTest, AnswerContinues) {
    const ResumePoint point{600, 1000, "\"v1\"", kUrl, kSource};
    struct Case {
        int32_t status;
        std::string contentRange;
        int32_t contentLength;
        bool expected;
    };
    const Case cases[] = {
        {206, "bytes 600-999/1000", 400, true},
        {206, "bytes 600-999/1000", 0, true},      // no length announced
        {206, "bytes 600-999/1000", 1000, false},  // a length that is not the rest
        {200, "bytes 600-999/1000", 400, false},
        {416, "bytes */1000", 0, false},
        {206, "bytes */1000", 0, false},
        {206, "bytes 0-999/1000", 1000, false},  // another start
        {206, "bytes 601-999/1000", 399, false},
        {206, "bytes 600-1199/1200", 600, false},  // another total
        {206, "bytes 600-899/1000", 300, false},   // not to the end
        {206, "bytes 600-999/*", 400, false},
        {206, "", 400, false},
        {206, "bytes 600-999", 400, false},
        {206, "items 600-999/1000", 400, false},
        {206, "bytes 600-999/1000 ", 400, false},
        {206, "bytes -600-999/1000", 400, false},
        {206, "bytes 600-999/99999999999999999999999", 400, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            AnswerContinues(point, {kUrl, kSource}, c.status, c.contentRange, c.contentLength),
            c.expected)
            << c.status << " \"" << c.contentRange << "\" " << c.contentLength;
    }
    EXPECT_FALSE(AnswerContinues({}, {kUrl, kSource}, 206, "bytes 0-999/1000", 1000));
}

TEST(HttpHelpersTest, ResumePointAfter) {
    const ResumePoint none{};
    const ResumePoint kept{600, 1000, "\"v1\"", kUrl, kSource};
    struct Case {
        ResumePoint before;
        bool continued;
        int32_t status;
        int32_t contentLength;
        std::string validator;
        int64_t received;
        ResumePoint expected;
    };
    const Case cases[] = {
        {none, false, 200, 1000, "\"v1\"", 600, {600, 1000, "\"v1\"", kUrl, kSource}},
        {none, false, 200, 1000, "", 600, none},      // no validator
        {none, false, 200, 0, "\"v1\"", 600, none},   // no length
        {none, false, 200, 1000, "\"v1\"", 0, none},  // nothing arrived
        {none, false, 404, 1000, "\"v1\"", 600, none},
        {kept, true, 206, 400, "\"v1\"", 100, {700, 1000, "\"v1\"", kUrl, kSource}},
        {kept, true, 206, 400, "\"v1\"", 0, kept},
        {kept, false, 200, 2000, "\"v2\"", 300, {300, 2000, "\"v2\"", kUrl, kSource}},  // new
        {kept, false, 416, 0, "", 0, none},
    };
    for (const Case& c : cases) {
        ResumePoint after = ResumePointAfter(c.before, c.continued, c.status, c.contentLength,
                                             c.validator, c.received, {kUrl, kSource});
        EXPECT_EQ(after.kept, c.expected.kept) << c.status << ' ' << c.received;
        EXPECT_EQ(after.total, c.expected.total) << c.status << ' ' << c.received;
        EXPECT_EQ(after.validator, c.expected.validator) << c.status << ' ' << c.received;
        EXPECT_EQ(after.url, c.expected.url) << c.status << ' ' << c.received;
        EXPECT_EQ(after.source, c.expected.source) << c.status << ' ' << c.received;
    }
}
