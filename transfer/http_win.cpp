#include "transfer/http_win.h"

#include <exception>
#include <vector>

#include "toolkit/file_win.h"
#include "toolkit/handles_win.h"
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

struct Transfer {
    int32_t status = kHttpNoResponse;
    bool complete = false;  // every announced byte arrived and no read failed
    bool stopped = false;   // the callback ended the transfer
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
// redirect it refuses, or one too many, opens nothing.
InternetHandle OpenFollowingRedirects(HINTERNET root, std::string url) {
    for (int redirects = 0;; ++redirects) {
        std::wstring wideUrl = ToWide(url);
        InternetHandle request(
            InternetOpenUrlW(root, wideUrl.c_str(), nullptr, 0, kOpenUrlFlags, 0));
        if (!request.IsValid()) {
            DWORD error = GetLastError();
            TraceError("open " + url, error);
            return request;
        }
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

Transfer Fetch(const std::string& url, ByteSink& sink, const std::string& agent,
               std::vector<std::string>* headers, ProgressCallback callback) {
    Transfer result;
    TraceStep("GET " + url);
    std::wstring wideAgent = ToWide(agent);
    InternetHandle root(
        InternetOpenW(wideAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root.IsValid()) {
        LogLastError("open WinInet");
        return result;
    }
    InternetHandle request = OpenFollowingRedirects(root.Get(), url);
    if (!request.IsValid()) {
        return result;
    }
    uint32_t startTick = GetTickCount();
    TraceStep("opened");
    if (headers) {
        *headers = SplitHeaderLines(QueryInfoText(request.Get(), HTTP_QUERY_RAW_HEADERS_CRLF));
    }
    int32_t contentLength =
        ParseHeaderNumber(QueryInfoText(request.Get(), HTTP_QUERY_CONTENT_LENGTH));
    result.status = StatusOf(request.Get());
    try {
        sink.Reserve(ReserveHint(contentLength));
    } catch (const std::exception&) {
        // Only a hint: without it the body still grows as it arrives.
    }

    std::vector<uint8_t> buffer(kReadChunk);
    int64_t received = 0;
    int64_t pieces = 0;
    bool readFailed = false;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.Get(), buffer.data(), kReadChunk, &got)) {
            DWORD error = GetLastError();
            TraceError("read " + url, error);
            readFailed = true;
            break;
        }
        if (got == 0) {
            break;
        }
        if (!sink.Append(buffer.data(), got)) {
            readFailed = true;  // the body could not be kept: as broken as a lost one
            break;
        }
        received += got;
        ++pieces;
        if (callback && !callback(contentLength, ClampToInt32(received), startTick)) {
            result.stopped = true;
            break;
        }
        gPause(kReadPauseMs);
    }
    result.complete = !result.stopped && TransferIsComplete(readFailed, contentLength, received);
    TraceStep("read " + std::to_string(received) + " bytes in " + std::to_string(pieces) +
              " pieces, status " + std::to_string(result.status));
    // The request handle closes before the root handle (declaration order).
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

int32_t HttpGet(const std::string& url, ByteSink& sink, const std::string& agent,
                std::vector<std::string>* headers, ProgressCallback callback) {
    Transfer t = Fetch(url, sink, agent, headers, callback);
    // A transfer the caller stopped reports the response as it began; a
    // broken one must never read as success.
    return t.stopped || t.complete ? t.status : kHttpNoResponse;
}

int32_t DownloadToFile(const std::string& url, const std::string& path, const std::string& agent,
                       std::vector<std::string>* headers, ProgressCallback callback) {
    // The request is made even when the file cannot be written: the server
    // sees the same requests, and the status tells the body was not kept.
    StagedFile file(path);
    StagedFileSink sink(file);
    Transfer t = Fetch(url, sink, agent, headers, callback);
    if (t.stopped || !t.complete) {
        return kHttpNoResponse;  // no whole body, so no file, whatever the status
    }
    if (t.status != kHttpOk) {
        return t.status;
    }
    return file.Commit() ? kHttpOk : kHttpNoResponse;
}

}  // namespace kelto
