// Requests made in the background: started at once, their answers taken
// later, or never. Each is an HttpGet on a thread of its own, so that a
// caller can have several on their way side by side and go on with other
// work meanwhile.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/handles_win.h"
#include "transfer/http.h"
#include "transfer/http_win.h"

namespace kelto {

// One GET into memory on its way. The caller and the request's thread both
// hold it, and it goes with the last of the two: a caller that no longer
// wants the answer just lets go of it.
struct PendingGet {
    std::string url;
    RequestLimits limits;
    ProgressCallback callback;
    uint32_t start = 0;  // GetTickCount() when it was started
    EventHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // The request's thread's until done is set, the caller's afterwards.
    HttpResult result;
    MemorySink body;
};

// What a pending GET came to: HttpGet's result and the body it kept.
struct GetAnswer {
    HttpResult result;
    std::vector<uint8_t> body;
};

// A request's thread ends this long after the request's time limit at the
// latest: what it still does once HttpGet has given up.
inline constexpr uint32_t kPendingEndMs = 2000;

// Starts a GET of url into memory, made as HttpGet makes it with the empty
// agent, limits and callback (which runs on the request's thread). A
// request without a time limit gets kServerFileTotalMs: the limit bounds
// AwaitGet. The body is held in memory, so limits.maxBytes or the callback
// must bound it. When no thread can be started, the request is made before
// StartGet returns.
std::shared_ptr<PendingGet> StartGet(std::string url, const RequestLimits& limits,
                                     ProgressCallback callback = nullptr);

// Waits for get's answer until its time limit and kPendingEndMs have passed
// since it was started; a request that has not ended by then reads as
// kTimedOut, with no body. Once per request: the body moves to the answer.
GetAnswer AwaitGet(PendingGet& get);

// DownloadToFile's end for a request made with StartGet: at status 200 with
// the whole body, the body takes the place of path through a StagedFile
// (no link at either name is written through); any other outcome leaves
// path as it was. The results are DownloadToFile's.
HttpResult AwaitDownloadToFile(PendingGet& get, const std::string& path);

}  // namespace kelto
