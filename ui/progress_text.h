// The arithmetic behind the progress window's bar and status line while the
// Setup package downloads: average speed, remaining time and size texts. No
// platform call here, so the figures can be checked on any machine; the
// transfer's callback only adds the clock and the message to the window.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelto {

// The bar's range is 0..kProgressScale: ten-thousandths of the download.
inline constexpr int32_t kProgressScale = 10000;

// A byte count as "1.5 MB": kilobytes below 1 MiB, megabytes below 1 GiB,
// gigabytes above; one decimal, rounded half away from zero, '.' as the point
// whatever the user's locale, no digit grouping.
std::string FormatByteSize(int64_t size);

struct ProgressReport {
    bool send = false;     // false: the window keeps what it shows
    int32_t position = 0;  // 0..kProgressScale
    std::string status;    // empty clears the status line
};

// One step of the download's progress callback. total is the announced size
// (0 when none), done the bytes received so far, elapsedMs the time since
// the request started. lastProgress is the position last sent, for the whole
// process: it is read, and updated when a report is to be sent. format is the
// [ui] progress format, given the speed's size text and the remaining
// seconds.
ProgressReport NextProgressReport(int32_t total, int32_t done, uint32_t elapsedMs,
                                  int32_t& lastProgress, std::string_view format);

}  // namespace kelto
