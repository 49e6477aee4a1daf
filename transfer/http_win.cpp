#include "transfer/http_win.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <vector>

#include "toolkit/handles_win.h"
#include "toolkit/staged_file_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_internal.h"

namespace kelto {

namespace {

// Sleep is WINAPI (stdcall on x86); the hook is a plain function.
void SleepPause(DWORD milliseconds) {
    Sleep(milliseconds);
}

HttpPauseFunction gPause = SleepPause;

// The reload flags keep a cached copy from standing in for the server's
// current file; cookies, the proxy and the certificate check stay the
// platform's. Redirects are followed here (OpenFollowingRedirects), so that
// none leads from https to http whatever the platform would do.
constexpr DWORD kOpenUrlFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;

// One request as the caller sees it.
struct Transfer {
    int32_t status = kHttpNoResponse;
    int32_t contentLength = 0;  // as announced; 0 when none
    bool complete = false;      // every announced byte arrived and no read failed
    bool stopped = false;       // the callback ended it
    bool keptIntact = false;    // what the sink holds is exactly what arrived
    bool continued = false;     // the answer continued a kept part
    int64_t received = 0;       // body bytes of this answer
    std::string validator;      // of the answer, for a later resumption
    AnswerOrigin origin;        // the URL asked for and the one that answered
};

int32_t StatusOf(HINTERNET request) {
    return ParseHeaderNumber(QueryInfoText(request, HTTP_QUERY_STATUS_CODE));
}

// The absolute URL a Location header names, relative to the request's URL.
std::string RedirectTarget(const std::string& url, HINTERNET request) {
    std::wstring location = ToWide(QueryInfoText(request, HTTP_QUERY_LOCATION));
    if (location.empty()) {
        return {};
    }
    std::wstring base = ToWide(url);
    DWORD chars = INTERNET_MAX_URL_LENGTH;
    std::wstring target(chars, L'\0');
    if (!InternetCombineUrlW(base.c_str(), location.c_str(), target.data(), &chars, 0)) {
        DWORD error = GetLastError();
        TraceError("resolve the redirect to " + ToUtf8(location), error);
        return {};
    }
    target.resize(chars);
    return ToUtf8(target);
}

// Opens url and follows its redirects, as long as MayRedirect allows; a
// redirect it refuses, or one too many, opens nothing. finalUrl receives
// the URL that answered. headers, CR LF ended, go with every request of
// the chain.
InternetHandle OpenFollowingRedirects(HINTERNET root, std::string url, const std::wstring& headers,
                                      std::string& finalUrl) {
    const wchar_t* extra = headers.empty() ? nullptr : headers.c_str();
    DWORD extraLength = extra ? static_cast<DWORD>(-1) : 0;
    for (int redirects = 0;; ++redirects) {
        std::wstring wideUrl = ToWide(url);
        InternetHandle request(
            InternetOpenUrlW(root, wideUrl.c_str(), extra, extraLength, kOpenUrlFlags, 0));
        if (!request.IsValid()) {
            DWORD error = GetLastError();
            TraceError("open " + url, error);
            return request;
        }
        finalUrl = url;
        if (!IsRedirectStatus(StatusOf(request.Get()))) {
            return request;
        }
        std::string target = RedirectTarget(url, request.Get());
        if (target.empty()) {
            return request;  // nowhere to go: the redirect is the answer
        }
        if (redirects == kMaxRedirects || !MayRedirect(url, target)) {
            TraceStep("redirect to " + target + " not followed");
            return {};
        }
        TraceStep("redirected to " + target);
        url = std::move(target);
    }
}

int32_t ClampToInt32(int64_t n) {
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

// One request, made on a reader thread of its own so that every wait of the
// caller stays bounded: neither WinInet's time-out options nor a handle
// closed from another thread make a blocked connect or read return on every
// system (under Wine neither does). The two take turns: the reader delivers
// the answer's head, then one piece at a time, and waits until the caller
// has taken it. A caller that gives up leaves at once; the reader then ends
// when its blocked call returns, touching nothing but this record, which
// the last of the two to leave frees.
struct Exchange {
    std::atomic<int> refs{2};
    EventHandle ready{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // the reader delivered
    EventHandle taken{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // the caller took it
    std::atomic<bool> left{false};                                    // the caller gave up

    std::wstring agent;
    std::string url;
    std::wstring requestHeaders;
    bool wantRawHeaders = false;

    // Written by the reader before it signals ready.
    bool opened = false;
    DWORD error = 0;
    std::string finalUrl, rawHeaders, contentLength, status, etag, lastModified, contentRange;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kReadChunk);
    DWORD got = 0;
    bool readFailed = false;
};

void Release(Exchange* x) {
    if (x->refs.fetch_sub(1) == 1) {
        delete x;
    }
}

void ReadAnswer(Exchange& x, HINTERNET request) {
    if (x.wantRawHeaders) {
        x.rawHeaders = QueryInfoText(request, HTTP_QUERY_RAW_HEADERS_CRLF);
    }
    x.contentLength = QueryInfoText(request, HTTP_QUERY_CONTENT_LENGTH);
    x.status = QueryInfoText(request, HTTP_QUERY_STATUS_CODE);
    x.etag = QueryInfoText(request, HTTP_QUERY_ETAG);
    x.lastModified = QueryInfoText(request, HTTP_QUERY_LAST_MODIFIED);
    x.contentRange = QueryInfoText(request, HTTP_QUERY_CONTENT_RANGE);
}

DWORD WINAPI ReadRequest(void* parameter) {
    Exchange& x = *static_cast<Exchange*>(parameter);
    InternetHandle root(
        InternetOpenW(x.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    InternetHandle request;
    if (root.IsValid()) {
        request = OpenFollowingRedirects(root.Get(), x.url, x.requestHeaders, x.finalUrl);
    } else {
        LogLastError("open WinInet");
    }
    x.opened = request.IsValid();
    if (x.opened) {
        ReadAnswer(x, request.Get());
    }
    SetEvent(x.ready.Get());
    while (x.opened) {
        // The caller signals once it has taken the last delivery or left.
        WaitForSingleObject(x.taken.Get(), INFINITE);
        if (x.left.load()) {
            break;
        }
        x.got = 0;
        x.readFailed = !InternetReadFile(request.Get(), x.buffer.data(), kReadChunk, &x.got);
        x.error = x.readFailed ? GetLastError() : 0;
        SetEvent(x.ready.Get());
        if (x.readFailed || x.got == 0) {
            break;
        }
    }
    // The request handle closes before the root handle.
    request.Close();
    root.Close();
    Release(&x);
    return 0;
}

enum class Delivery { kReady, kStalled, kTimedOut, kStopped };

// The caller's one wait: for the reader's next delivery, as long as the
// request's limits allow and until the transfer stop is set.
class RequestClock {
public:
    RequestClock(const RequestLimits& limits, const TransferStop* stop)
        : limits_(limits), stop_(stop), start_(GetTickCount()), last_(start_) {}

    Delivery WaitFor(HANDLE ready) {
        DWORD wait = INFINITE;
        uint32_t now = GetTickCount();
        if (limits_.stallMs > 0) {
            wait = Remaining(limits_.stallMs, now - last_);
        }
        if (limits_.totalMs > 0) {
            wait = std::min<DWORD>(wait, Remaining(limits_.totalMs, now - start_));
        }
        HANDLE handles[] = {ready, stop_ ? stop_->Event() : nullptr};
        DWORD count = stop_ && stop_->Event() ? 2 : 1;
        DWORD result = WaitForMultipleObjects(count, handles, FALSE, wait);
        last_ = GetTickCount();
        if (result == WAIT_OBJECT_0) {
            return Delivery::kReady;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            return Delivery::kStopped;
        }
        if (result == WAIT_FAILED) {
            LogLastError("wait for the server");
            return Delivery::kStopped;
        }
        bool overall = limits_.totalMs > 0 && last_ - start_ >= limits_.totalMs;
        return overall ? Delivery::kTimedOut : Delivery::kStalled;
    }

private:
    static DWORD Remaining(uint32_t limit, uint32_t spent) {
        return spent < limit ? limit - spent : 0;
    }

    RequestLimits limits_;
    const TransferStop* stop_;
    uint32_t start_;
    uint32_t last_;
};

const char* DeliveryText(Delivery d) {
    switch (d) {
        case Delivery::kStalled:
            return "nothing received within the stall limit";
        case Delivery::kTimedOut:
            return "the request outlasted its time limit";
        case Delivery::kStopped:
            return "stopped";
        case Delivery::kReady:
            break;
    }
    return "";
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

Transfer Fetch(const std::string& url, ByteSink& sink, const std::string& agent,
               const FetchPlan& plan) {
    Transfer result;
    TraceStep("GET " + url);
    auto* x = new Exchange;
    x->agent = ToWide(agent);
    x->url = url;
    std::string resumeHeaders =
        plan.resume ? ResumeRequestHeaders(*plan.resume, url) : std::string();
    x->requestHeaders = ToWide(resumeHeaders);
    x->wantRawHeaders = plan.headers != nullptr;
    if (!x->ready.IsValid() || !x->taken.IsValid()) {
        LogLastError("make the request's events");
        delete x;
        return result;
    }
    ThreadHandle reader(CreateThread(nullptr, 0, ReadRequest, x, 0, nullptr));
    if (!reader.IsValid()) {
        LogLastError("start the request's reader");
        delete x;
        return result;
    }
    reader.Close();  // nobody waits for the reader; it frees itself
    RequestClock clock(plan.limits, plan.stop);
    // Whatever ends the request, the reader is told and the record let go.
    auto leave = [x] {
        x->left.store(true);
        SetEvent(x->taken.Get());
        Release(x);
    };

    Delivery delivery = clock.WaitFor(x->ready.Get());
    if (delivery != Delivery::kReady || !x->opened) {
        // A failed open traced its own error on the reader.
        if (delivery != Delivery::kReady) {
            TraceStep(std::string("open ") + url + ": " + DeliveryText(delivery));
        }
        leave();
        return result;
    }
    uint32_t startTick = GetTickCount();
    TraceStep("opened");
    if (plan.headers) {
        *plan.headers = SplitHeaderLines(x->rawHeaders);
    }
    result.contentLength = ParseHeaderNumber(x->contentLength);
    result.status = ParseHeaderNumber(x->status);
    result.validator = AnswerValidator(x->etag, x->lastModified);
    result.origin = AnswerOrigin{url, x->finalUrl};
    int64_t base = 0;
    int32_t progressTotal = result.contentLength;
    if (plan.resume && !resumeHeaders.empty()) {
        result.continued = AnswerContinues(*plan.resume, result.origin, result.status,
                                           x->contentRange, result.contentLength);
        TraceStep(result.continued ? "continues at byte " + std::to_string(plan.resume->kept)
                                   : std::string("starts the file again"));
    }
    if (result.continued) {
        base = plan.resume->kept;
        progressTotal = ClampToInt32(plan.resume->total);
        startTick = plan.startTick;
    } else if (plan.resume && plan.resume->kept > 0 && !sink.Restart()) {
        leave();
        return result;
    }
    try {
        sink.Reserve(ReserveHint(result.contentLength));
    } catch (const std::exception&) {
        // Only a hint: without it the body still grows as it arrives.
    }

    int64_t pieces = 0;
    bool readFailed = false;
    bool sinkFailed = false;
    for (;;) {
        SetEvent(x->taken.Get());
        delivery = clock.WaitFor(x->ready.Get());
        if (delivery != Delivery::kReady) {
            TraceStep("read " + url + ": " + DeliveryText(delivery));
            readFailed = true;
            break;
        }
        if (x->readFailed) {
            TraceError("read " + url, x->error);
            readFailed = true;
            break;
        }
        DWORD got = x->got;
        if (got == 0) {
            break;
        }
        if (!BodyWithinLimits(result.received + got, result.contentLength, plan.limits)) {
            TraceStep("read " + url + ": more than the request may bring");
            readFailed = true;
            break;
        }
        if (!sink.Append(x->buffer.data(), got)) {
            readFailed = true;  // the body could not be kept: as broken as a lost one
            sinkFailed = true;
            break;
        }
        result.received += got;
        ++pieces;
        if (plan.callback &&
            !plan.callback(progressTotal, ClampToInt32(base + result.received), startTick)) {
            result.stopped = true;
            break;
        }
        gPause(kReadPauseMs);
    }
    // A reader that still waits is told to end; one that has ended is not
    // harmed by being told.
    leave();
    result.complete =
        !result.stopped && TransferIsComplete(readFailed, result.contentLength, result.received);
    result.keptIntact = !sinkFailed;
    TraceStep("read " + std::to_string(result.received) + " bytes in " + std::to_string(pieces) +
              " pieces, status " + std::to_string(result.status));
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

}  // namespace

HttpPauseFunction SetHttpPauseForTesting(HttpPauseFunction pause) {
    HttpPauseFunction previous = gPause;
    gPause = pause ? pause : SleepPause;
    return previous;
}

std::string QueryInfoText(HINTERNET request, DWORD infoLevel) {
    DWORD bytes = 0;
    if (HttpQueryInfoW(request, infoLevel, nullptr, &bytes, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return {};
    }
    // A header does not change under us, but the reported size is trusted
    // only as far as the buffer it describes.
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(request, infoLevel, text.data(), &bytes, nullptr)) {
        return {};
    }
    size_t chars = bytes / sizeof(wchar_t);
    text.resize(chars < text.size() ? chars : text.size());
    size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) {
        text.resize(nul);
    }
    return ToUtf8(text);
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

int32_t HttpGet(const std::string& url, ByteSink& sink, const std::string& agent,
                std::vector<std::string>* headers, ProgressCallback callback,
                const RequestLimits& limits) {
    FetchPlan plan;
    plan.limits = limits;
    plan.headers = headers;
    plan.callback = callback;
    Transfer t = Fetch(url, sink, agent, plan);
    // A transfer the caller stopped reports the response as it began; a
    // broken one must never read as success.
    return t.stopped || t.complete ? t.status : kHttpNoResponse;
}

int32_t DownloadToFile(const std::string& url, const std::string& path, const std::string& agent,
                       std::vector<std::string>* headers, ProgressCallback callback,
                       const RequestLimits& limits) {
    // The request is made even when the file cannot be written: the server
    // sees the same requests, and the status tells the body was not kept.
    StagedFile file(path);
    StagedFileSink sink(file);
    FetchPlan plan;
    plan.limits = limits;
    plan.headers = headers;
    plan.callback = callback;
    Transfer t = Fetch(url, sink, agent, plan);
    if (t.stopped || !t.complete) {
        return kHttpNoResponse;  // no whole body, so no file, whatever the status
    }
    if (t.status != kHttpOk) {
        return t.status;
    }
    return file.Commit() ? kHttpOk : kHttpNoResponse;
}

ResumableDownload::ResumableDownload() = default;
ResumableDownload::~ResumableDownload() = default;

void ResumableDownload::Reset() {
    point = ResumePoint{};
    file.reset();  // its staged file goes with it
}

int32_t DownloadResuming(const std::string& url, const std::string& path,
                         ResumableDownload& download, ProgressCallback callback) {
    // The kept part stays in the staged file it was written to, held open
    // since it was made; it only takes the new target's name. A request
    // for another URL starts from nothing: its server's bytes are never
    // joined to another's.
    if (!ResumesFrom(download.point, url) || !download.file || !download.file->Retarget(path)) {
        if (CanResume(download.point)) {
            TraceStep("drops the part kept from " + download.point.url);
        }
        download.Reset();
        download.file = std::make_unique<StagedFile>(path);
    }
    StagedFileSink sink(*download.file);
    FetchPlan plan;
    plan.limits = download.limits;
    plan.stop = download.stop;
    plan.callback = callback;
    plan.resume = &download.point;
    plan.startTick = download.startTick;
    uint32_t tick = GetTickCount();
    Transfer t = Fetch(url, sink, "", plan);
    bool whole = t.complete && !t.stopped &&
                 (t.continued ? download.point.kept + t.received == download.point.total
                              : t.status == kHttpOk);
    if (whole) {
        bool committed = download.file->Commit();
        download.Reset();
        return committed ? kHttpOk : kHttpNoResponse;
    }
    // A broken answer may leave a part worth continuing; anything else goes.
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
    if (t.complete && !t.stopped && !t.continued) {
        return t.status;  // a whole answer that is not the file: 404 and the like
    }
    return kHttpNoResponse;
}

}  // namespace kelto
