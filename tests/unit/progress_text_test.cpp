#include "ui/progress_text.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

constexpr char kDefaultFormat[] = "下载速度: %s/s, 剩余时间 %d 秒";
constexpr char kWorked[] = "下载速度: 128.0 KB/s, 剩余时间 60 秒";

TEST(ProgressTextTest, FormatByteSize) {
    struct Case {
        int64_t size;
        std::string expected;
    };
    const Case cases[] = {
        {0, "0.0 KB"},
        {51, "0.0 KB"},
        {52, "0.1 KB"},
        {256, "0.3 KB"},  // exactly 0.25: half away from zero
        {1048575, "1024.0 KB"},
        {1048576, "1.0 MB"},
        {1572864, "1.5 MB"},
        {1073741823, "1024.0 MB"},
        {5368709120, "5.0 GB"},
        {131072, "128.0 KB"},
        {INT64_MAX, "8589934592.0 GB"},
        // 123456789.04999999981 GB: its 18 significant digits end in ...0500000000.
        {132560717859730227, "123456789.1 GB"},
        {-256, "-0.3 KB"},
        {-51, "0.0 KB"},
        {INT64_MIN, "-9007199254740992.0 KB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatByteSize(c.size), c.expected) << c.size;
    }
}

TEST(ProgressTextTest, NextProgressReport) {
    struct Case {
        const char* name;
        int32_t total, done;
        uint32_t elapsedMs;
        int32_t lastBefore;
        std::string format;
        ProgressReport expected;
        int32_t lastAfter;
    };
    const Case cases[] = {
        {"example", 10485760, 2621440, 20000, 0, kDefaultFormat, {true, 2500, kWorked}, 2500},
        {"complete", 1000, 1000, 5000, 10, kDefaultFormat, {}, 10},
        {"single piece", 0, 0, 0, 10, kDefaultFormat, {}, 10},
        {"same position", 10485760, 2621440, 20000, 2500, kDefaultFormat, {}, 2500},
        {"no time yet", 1000, 500, 0, 0, kDefaultFormat, {true, 5000, ""}, 5000},
        {"below a byte a second", 1000000, 100, 200000, 0, kDefaultFormat, {true, 1, ""}, 1},
        {"speed wraps to 0", INT32_MAX, 536870912, 1, 0, kDefaultFormat, {true, 2500, ""}, 2500},
        {"empty format", 1000, 500, 1000, 0, "", {true, 5000, ""}, 5000},
        {"no conversion", 1000, 500, 1000, 0, "Loading", {true, 5000, "Loading"}, 5000},
        {"1 MiB/s less 1", 2097151, 1048575, 1000, 0, "%s %d", {true, 4999, "1024.0 KB 1"}, 4999},
        {"1 MiB/s", 2097152, 1048576, 1000, 0, "%s %d", {true, 5000, "1.0 MB 1"}, 5000},
        {"no announced size", 0, 4096, 1000, 7, kDefaultFormat, {}, 7},
        {"negative size", -1, 4096, 1000, 7, kDefaultFormat, {}, 7},
        {"more than announced", 100, 4096, 1000, 7, kDefaultFormat, {}, 7},
        {"negative count", 100, -5, 1000, 7, kDefaultFormat, {}, 7},
    };
    for (const Case& c : cases) {
        int32_t last = c.lastBefore;
        ProgressReport report = NextProgressReport(c.total, c.done, c.elapsedMs, last, c.format);
        EXPECT_EQ(report.send, c.expected.send) << c.name;
        EXPECT_EQ(report.position, c.expected.position) << c.name;
        EXPECT_EQ(report.status, c.expected.status) << c.name;
        EXPECT_EQ(last, c.lastAfter) << c.name;
    }
}

}  // namespace
