#include "transfer/http_pending_win.h"

#include <utility>

#include "toolkit/staged_file_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

void MakeRequest(PendingGet& get) {
    get.result = HttpGet(get.url, get.body, "", nullptr, get.callback, get.limits);
    if (get.done.IsValid()) {
        SetEvent(get.done.Get());
    }
}

DWORD WINAPI RequestThread(void* parameter) {
    // The thread's own reference to the record, taken over at once.
    std::shared_ptr<PendingGet> held = std::move(*std::unique_ptr<std::shared_ptr<PendingGet>>(
        static_cast<std::shared_ptr<PendingGet>*>(parameter)));
    MakeRequest(*held);
    return 0;
}

// Nobody waits for the thread itself: its handle goes at once.
bool StartRequestThread(const std::shared_ptr<PendingGet>& get) {
    if (!get->done.IsValid()) {
        LogLastError("make the request's event");
        return false;
    }
    auto reference = std::make_unique<std::shared_ptr<PendingGet>>(get);
    ThreadHandle thread(CreateThread(nullptr, 0, RequestThread, reference.get(), 0, nullptr));
    if (!thread.IsValid()) {
        LogLastError("start the request's thread");
        return false;
    }
    (void)reference.release();  // the thread's now; it lets go of it when it ends
    return true;
}

DWORD Remaining(uint32_t limit, uint32_t spent) {
    return spent < limit ? limit - spent : 0;
}

}  // namespace

std::shared_ptr<PendingGet> StartGet(std::string url, const RequestLimits& limits,
                                     ProgressCallback callback) {
    auto get = std::make_shared<PendingGet>();
    get->url = std::move(url);
    get->limits = limits;
    if (get->limits.totalMs == 0) {
        get->limits.totalMs = kServerFileTotalMs;
    }
    get->callback = std::move(callback);
    get->start = GetTickCount();
    if (!StartRequestThread(get)) {
        // No thread for it: made here and now, so its answer is there all
        // the same, only not side by side with the others.
        MakeRequest(*get);
    }
    return get;
}

GetAnswer AwaitGet(PendingGet& get) {
    if (get.done.IsValid()) {
        DWORD wait = Remaining(get.limits.totalMs + kPendingEndMs, GetTickCount() - get.start);
        DWORD waited = WaitForSingleObject(get.done.Get(), wait);
        if (waited != WAIT_OBJECT_0) {
            if (waited == WAIT_FAILED) {
                TraceError("wait for " + get.url, GetLastError());
            }
            TraceStep("no answer from " + get.url + " in time");
            return {{kHttpNoResponse, HttpFailure::kTimedOut}, {}};
        }
    }
    return {get.result, get.body.TakeBytes()};
}

HttpResult AwaitDownloadToFile(PendingGet& get, const std::string& path) {
    GetAnswer answer = AwaitGet(get);
    if (answer.result.failure != HttpFailure::kNone) {
        // No whole body, so no file, whatever the status.
        return {kHttpNoResponse, answer.result.failure, answer.result.error};
    }
    if (answer.result.status != kHttpOk) {
        return {answer.result.status};
    }
    StagedFile file(path);
    SetLastError(ERROR_SUCCESS);
    if (file.Write(answer.body.data(), answer.body.size()) && file.Commit()) {
        return {kHttpOk};
    }
    DWORD error = GetLastError();
    return {kHttpNoResponse, HttpFailure::kWrite, error};
}

}  // namespace kelto
