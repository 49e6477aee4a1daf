// HTTP GET over WinInet, into a sink or into a file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/handles_win.h"
#include "transfer/http.h"

namespace kelto {

class StagedFile;

// Ends the requests made with it, from any thread and at once: a request
// that waits for its server gives up without waiting for the blocked call
// to return. Stopped for good once stopped.
class TransferStop {
public:
    TransferStop();
    void Stop();
    bool Stopped() const;
    HANDLE Event() const { return event_.Get(); }

private:
    EventHandle event_;
};

// What a request came to. status is the HTTP status as each function below
// defines it (0: none); failure tells what ended the request short of a
// whole answer, and error is the Windows or WinInet error of the call that
// failed (0 when the failure had none).
struct HttpResult {
    int32_t status = kHttpNoResponse;
    HttpFailure failure = HttpFailure::kNone;
    DWORD error = 0;
};

// Opens the WinInet session of the empty agent now, on this thread, before
// the first request needs it: the session's start loads WinInet, the
// slowest part of a first request, and no new thread (a request's) can
// start while another one loads a library. A session that cannot be opened
// is traced; the requests then try again themselves.
void OpenHttpSession();

// Traces what result tells, as one line:
// "<what> failed: <failure text>, status <n>[, error <n>[: <system text>]]".
void TraceHttpResult(std::string_view what, const HttpResult& result);

// GET url into sink; the status is 0 when there was no response, or a
// broken one; a transfer the callback stopped keeps the status it began
// with. headers, when given, receives the raw response header lines.
// limits bound the wait and the body (RequestLimits); a request beyond them
// reads as broken.
HttpResult HttpGet(const std::string& url, ByteSink& sink, const std::string& agent,
                   std::vector<std::string>* headers, ProgressCallback callback,
                   const RequestLimits& limits = {});

// GET url, streaming the body into "<path>.part"; at status 200 with the
// whole body received the file takes the place of path. Any other outcome
// leaves an existing file at path untouched, and no ".part" file behind.
// The status is 0 unless a whole answer came, and at 200 also when the file
// could not take the place of path.
// Neither file is written through a link (StagedFile).
HttpResult DownloadToFile(const std::string& url, const std::string& path, const std::string& agent,
                          std::vector<std::string>* headers, ProgressCallback callback,
                          const RequestLimits& limits = {});

// A download that later requests may continue: what a broken request kept
// stays in its staged file, and the next one for the same URL asks only for
// the rest when the first answer allows it. Reset() forgets it and deletes
// the file.
struct ResumableDownload {
    ResumableDownload();
    ~ResumableDownload();
    void Reset();

    const TransferStop* stop = nullptr;  // ends the request at once when stopped
    RequestLimits limits = kPackageLimits;
    ResumePoint point;
    std::unique_ptr<StagedFile> file;
    uint32_t startTick = 0;  // when the kept part began to arrive
};

// DownloadToFile into path with what download kept: a request with the
// Range of ResumeRequestHeaders when it can resume from url, and no header
// of its own otherwise. A continuing answer appends, any other starts the
// file again; a request for another URL drops the kept part first.
// Status 200 when the whole file is at path (the kept part included), the
// status of a whole answer that is not the file (404 and the like), else 0;
// the progress callback counts the whole file.
HttpResult DownloadResuming(const std::string& url, const std::string& path,
                            ResumableDownload& download, ProgressCallback callback);

// Test hook: replaces the pause after every read that delivered data, to
// count the pauses or to skip them; returns the previous one.
using HttpPauseFunction = void (*)(DWORD milliseconds);
HttpPauseFunction SetHttpPauseForTesting(HttpPauseFunction pause);

}  // namespace kelto
