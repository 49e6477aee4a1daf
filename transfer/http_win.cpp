#include "transfer/http_win.h"

#include <exception>
#include <vector>

#include "toolkit/handles_win.h"
#include "toolkit/staged_file_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_internal.h"
#include "transfer/http_reader_win.h"

namespace kelto {

namespace {

// Sleep is WINAPI (stdcall on x86); the hook is a plain function.
void SleepPause(DWORD milliseconds) {
    Sleep(milliseconds);
}

HttpPauseFunction gPause = SleepPause;

// One request as the caller sees it.
struct Transfer {
    int32_t status = kHttpNoResponse;
    int32_t contentLength = 0;                 // as announced; 0 when none
    bool complete = false;                     // every announced byte arrived and no read failed
    bool stopped = false;                      // the callback ended it
    bool keptIntact = false;                   // what the sink holds is exactly what arrived
    bool continued = false;                    // the answer continued a kept part
    int64_t received = 0;                      // body bytes of this answer
    std::string validator;                     // of the answer, for a later resumption
    AnswerOrigin origin;                       // the URL asked for and the one that answered
    HttpFailure failure = HttpFailure::kNone;  // what ended it short of a whole answer
    DWORD error = 0;                           // of the call that failed
};

void Fail(Transfer& t, HttpFailure failure, DWORD error = 0) {
    t.failure = failure;
    t.error = error;
}

int32_t ClampToInt32(int64_t n) {
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

// What a request asks beyond the plain GET, and how the caller follows it.
struct FetchPlan {
    RequestLimits limits;
    const TransferStop* stop = nullptr;
    std::vector<std::string>* headers = nullptr;
    ProgressCallback callback = nullptr;
    const ResumePoint* resume = nullptr;  // asks for the rest of this when set
    uint32_t startTick = 0;               // of the kept part, for the progress
};

// What the progress callback is told besides this answer's bytes: they
// count from base, out of total, since startTick.
struct BodyProgress {
    int64_t base = 0;
    int32_t total = 0;
    uint32_t startTick = 0;
    int64_t pieces = 0;  // that delivered data
};

// The request's record, its reader started on it; nullptr, with the
// failure in result, when the reader could not start.
std::shared_ptr<Exchange> StartExchange(const std::string& url, const std::string& agent,
                                        const FetchPlan& plan, Transfer& result) {
    auto x = std::make_shared<Exchange>();
    x->agent = ToWide(agent);
    x->url = url;
    x->requestHeaders =
        ToWide(plan.resume ? ResumeRequestHeaders(*plan.resume, url) : std::string());
    x->wantRawHeaders = plan.headers != nullptr;
    if (!StartReader(x)) {
        Fail(result, HttpFailure::kOpen, x->error);
        return nullptr;
    }
    return x;
}

// Waits for the reader to open the URL; false, with the failure in
// result, when it did not.
bool AwaitAnswer(Exchange& x, const std::string& url, RequestClock& clock, Transfer& result) {
    HttpFailure waited = WaitForDelivery(clock, x.ready.Get());
    if (waited != HttpFailure::kNone) {
        TraceStep("open " + url + ": " + std::string(HttpFailureText(waited)));
        Fail(result, waited);
        return false;
    }
    if (!x.opened) {
        // A failed open traced its own error on the reader.
        Fail(result, x.openFailure, x.error);
        return false;
    }
    return true;
}

// Takes what the answer's head tells into result and plan.headers, and
// whether it continues the kept part of plan.resume.
BodyProgress TakeAnswerHead(const Exchange& x, const std::string& url, const FetchPlan& plan,
                            Transfer& result) {
    BodyProgress progress;
    progress.startTick = GetTickCount();
    TraceStep("opened");
    if (plan.headers) {
        *plan.headers = SplitHeaderLines(x.rawHeaders);
    }
    result.contentLength = ParseHeaderNumber(x.contentLength);
    result.status = ParseHeaderNumber(x.status);
    if (result.status == kHttpNoResponse) {
        // What answered had no status (the platform may open such an
        // answer): no response, whatever follows.
        Fail(result, HttpFailure::kOpen);
    }
    result.validator = AnswerValidator(x.etag, x.lastModified);
    result.origin = AnswerOrigin{url, x.finalUrl};
    progress.total = result.contentLength;
    if (plan.resume && ResumesFrom(*plan.resume, url)) {
        result.continued = AnswerContinues(*plan.resume, result.origin, result.status,
                                           x.contentRange, result.contentLength);
        TraceStep(result.continued ? "continues at byte " + std::to_string(plan.resume->kept)
                                   : std::string("starts the file again"));
    }
    if (result.continued) {
        progress.base = plan.resume->kept;
        progress.total = ClampToInt32(plan.resume->total);
        progress.startTick = plan.startTick;
    }
    return progress;
}

// Readies the sink for the body: a kept part the answer does not continue
// goes. False, with the failure in result, when it could not go.
bool PrepareSink(ByteSink& sink, const FetchPlan& plan, Transfer& result) {
    if (!result.continued && plan.resume && plan.resume->kept > 0) {
        SetLastError(ERROR_SUCCESS);
        if (!sink.Restart()) {
            Fail(result, HttpFailure::kWrite, GetLastError());
            return false;
        }
    }
    try {
        sink.Reserve(ReserveHint(result.contentLength));
    } catch (const std::exception&) {
        // Only a hint: without it the body still grows as it arrives.
    }
    return true;
}

// Adds the piece the reader delivered to the body; false, with the failure
// in result, when it takes the body beyond its limits or cannot be kept.
bool KeepPiece(const Exchange& x, ByteSink& sink, const std::string& url, const FetchPlan& plan,
               Transfer& result) {
    if (!BodyWithinLimits(result.received + x.got, result.contentLength, plan.limits)) {
        TraceStep("read " + url + ": " + std::string(HttpFailureText(HttpFailure::kTooLong)));
        Fail(result, HttpFailure::kTooLong);
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    if (!sink.Append(x.buffer.data(), x.got)) {
        // The body could not be kept: as broken as a lost one.
        Fail(result, HttpFailure::kWrite, GetLastError());
        return false;
    }
    result.received += x.got;
    return true;
}

// Takes the body piece by piece until it ends, fails or is stopped.
void ReadBody(Exchange& x, ByteSink& sink, const std::string& url, const FetchPlan& plan,
              RequestClock& clock, BodyProgress& progress, Transfer& result) {
    for (;;) {
        AskForNextPiece(x);
        HttpFailure waited = WaitForDelivery(clock, x.ready.Get());
        if (waited != HttpFailure::kNone) {
            TraceStep("read " + url + ": " + std::string(HttpFailureText(waited)));
            Fail(result, waited);
            return;
        }
        if (x.readFailed) {
            TraceError("read " + url, x.error);
            Fail(result, HttpFailure::kIncomplete, x.error);
            return;
        }
        if (x.got == 0 || !KeepPiece(x, sink, url, plan, result)) {
            return;
        }
        ++progress.pieces;
        if (plan.callback &&
            !plan.callback(progress.total, ClampToInt32(progress.base + result.received),
                           progress.startTick)) {
            result.stopped = true;
            Fail(result, HttpFailure::kStopped);
            return;
        }
        gPause(kReadPauseMs);
    }
}

void EndTransfer(Transfer& result, const BodyProgress& progress) {
    bool broken = result.failure != HttpFailure::kNone;
    result.complete =
        !result.stopped && TransferIsComplete(broken, result.contentLength, result.received);
    result.keptIntact = result.failure != HttpFailure::kWrite;
    if (!result.complete && result.failure == HttpFailure::kNone) {
        Fail(result, HttpFailure::kIncomplete);  // it ended before its announced length
    }
    TraceStep("read " + std::to_string(result.received) + " bytes in " +
              std::to_string(progress.pieces) + " pieces, status " + std::to_string(result.status));
}

Transfer Fetch(const std::string& url, ByteSink& sink, const std::string& agent,
               const FetchPlan& plan) {
    Transfer result;
    TraceStep("GET " + url);
    RequestClock clock = StartRequestClock(plan.limits, plan.stop);
    ServerTurn turn = AwaitServerTurn(url, clock);
    std::shared_ptr<Exchange> x = StartExchange(url, agent, plan, result);
    if (!x) {
        return result;
    }
    // Whatever ends the request, the reader is told.
    if (!AwaitAnswer(*x, url, clock, result)) {
        LeaveExchange(*x);
        return result;
    }
    turn.Opened();
    BodyProgress progress = TakeAnswerHead(*x, url, plan, result);
    if (!PrepareSink(sink, plan, result)) {
        LeaveExchange(*x);
        return result;
    }
    ReadBody(*x, sink, url, plan, clock, progress, result);
    LeaveExchange(*x);
    EndTransfer(result, progress);
    return result;
}

// Streams the body into the staged file as it arrives, so that a large
// Setup package never needs its size in memory.
class StagedFileSink final : public ByteSink {
public:
    explicit StagedFileSink(StagedFile& file) : file_(file) {}
    [[nodiscard]] bool Append(const uint8_t* data, size_t size) override {
        return file_.Write(data, size);
    }
    [[nodiscard]] bool Restart() override { return file_.Rewind(); }

private:
    StagedFile& file_;
};

// Moves the downloaded file over its target: status 200, or a failure to
// write with no status.
HttpResult CommitDownload(StagedFile& file) {
    SetLastError(ERROR_SUCCESS);
    if (file.Commit()) {
        return {kHttpOk};
    }
    DWORD error = GetLastError();
    return {kHttpNoResponse, HttpFailure::kWrite, error};
}

// Readies download's staged file for a request for url into path. The kept
// part stays in the staged file it was written to, held open since it was
// made; it only takes the new target's name. A request for another URL
// starts from nothing: its server's bytes are never joined to another's.
void StageDownload(ResumableDownload& download, const std::string& url, const std::string& path) {
    if (!ResumesFrom(download.point, url) || !download.file || !download.file->Retarget(path)) {
        if (CanResume(download.point)) {
            TraceStep("drops the part kept from " + download.point.url);
        }
        download.Reset();
        download.file = std::make_unique<StagedFile>(path);
    }
}

// After a request t that did not bring the whole file, begun at tick: a
// broken answer may leave a part worth continuing; anything else goes.
void KeepWhatMayResume(ResumableDownload& download, const Transfer& t, uint32_t tick) {
    ResumePoint before = download.point;
    download.point = t.stopped || !t.keptIntact || (download.stop && download.stop->Stopped())
                         ? ResumePoint{}
                         : ResumePointAfter(before, t.continued, t.status, t.contentLength,
                                            t.validator, t.received, t.origin);
    if (!t.continued) {
        download.startTick = tick;
    }
    if (!CanResume(download.point)) {
        download.Reset();
    }
}

}  // namespace

HttpPauseFunction SetHttpPauseForTesting(HttpPauseFunction pause) {
    HttpPauseFunction previous = gPause;
    gPause = pause ? pause : SleepPause;
    return previous;
}

void OpenHttpSession() {
    DWORD error = 0;
    (void)SessionFor(L"", error);
}

void TraceHttpResult(std::string_view what, const HttpResult& result) {
    std::string line(what);
    line += " failed: ";
    line += HttpFailureText(result.failure);
    line += ", status " + std::to_string(result.status);
    if (result.error != 0) {
        line += ", error " + std::to_string(result.error);
        std::string text = ErrorText(result.error);
        if (!text.empty()) {
            line += ": " + text;
        }
    }
    TraceStep(line);
}

TransferStop::TransferStop() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!event_.IsValid()) {
        LogLastError("make a transfer stop");
    }
}

void TransferStop::Stop() {
    if (event_.IsValid() && !SetEvent(event_.Get())) {
        LogLastError("stop the transfer");
    }
}

bool TransferStop::Stopped() const {
    return event_.IsValid() && WaitForSingleObject(event_.Get(), 0) == WAIT_OBJECT_0;
}

HttpResult HttpGet(const std::string& url, ByteSink& sink, const std::string& agent,
                   std::vector<std::string>* headers, ProgressCallback callback,
                   const RequestLimits& limits) {
    FetchPlan plan;
    plan.limits = limits;
    plan.headers = headers;
    plan.callback = std::move(callback);
    Transfer t = Fetch(url, sink, agent, plan);
    // A transfer the caller stopped reports the response as it began; a
    // broken one must never read as success.
    return {t.stopped || t.complete ? t.status : kHttpNoResponse, t.failure, t.error};
}

HttpResult DownloadToFile(const std::string& url, const std::string& path, const std::string& agent,
                          std::vector<std::string>* headers, ProgressCallback callback,
                          const RequestLimits& limits) {
    // The request is made even when the file cannot be written: the server
    // sees the same requests, and the status tells the body was not kept.
    StagedFile file(path);
    StagedFileSink sink(file);
    FetchPlan plan;
    plan.limits = limits;
    plan.headers = headers;
    plan.callback = std::move(callback);
    Transfer t = Fetch(url, sink, agent, plan);
    if (t.stopped || !t.complete) {
        // No whole body, so no file, whatever the status.
        return {kHttpNoResponse, t.failure, t.error};
    }
    if (t.status != kHttpOk) {
        return {t.status};
    }
    return CommitDownload(file);
}

ResumableDownload::ResumableDownload() = default;
ResumableDownload::~ResumableDownload() = default;

void ResumableDownload::Reset() {
    point = ResumePoint{};
    file.reset();  // its staged file goes with it
}

HttpResult DownloadResuming(const std::string& url, const std::string& path,
                            ResumableDownload& download, ProgressCallback callback) {
    StageDownload(download, url, path);
    StagedFileSink sink(*download.file);
    FetchPlan plan;
    plan.limits = download.limits;
    plan.stop = download.stop;
    plan.callback = std::move(callback);
    plan.resume = &download.point;
    plan.startTick = download.startTick;
    uint32_t tick = GetTickCount();
    Transfer t = Fetch(url, sink, "", plan);
    bool whole = t.complete && !t.stopped &&
                 (t.continued ? download.point.kept + t.received == download.point.total
                              : t.status == kHttpOk);
    if (whole) {
        HttpResult committed = CommitDownload(*download.file);
        download.Reset();
        return committed;
    }
    KeepWhatMayResume(download, t, tick);
    if (t.complete && !t.stopped && !t.continued) {
        return {t.status};  // a whole answer that is not the file: 404 and the like
    }
    // A whole continuation that still falls short of the file is broken too.
    return {kHttpNoResponse, t.failure == HttpFailure::kNone ? HttpFailure::kIncomplete : t.failure,
            t.error};
}

}  // namespace kelto
