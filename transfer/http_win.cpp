#include "transfer/http.h"
#include "transfer/http_win.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <vector>

#include "toolkit/handles_win.h"
#include "toolkit/text_win.h"

namespace {

// Sleep is WINAPI (stdcall on x86); the hook is a plain function.
void SleepPause(DWORD milliseconds) {
    Sleep(milliseconds);
}

HttpPauseFunction g_pause = SleepPause;

// Holds the reads to one per pause period. The pause after a read is what is
// left of the period once the read and the callback have run, so the
// platform's cost per read does not come on top of it; a slow read that
// overruns the period is followed by no pause and the schedule starts anew.
class ReadPacer {
public:
    ReadPacer() {
        QueryPerformanceFrequency(&frequency_);
        periodStart_ = NowMs();
    }

    void Pause() {
        double deadline = periodStart_ + kPeriodMs;
        double wait = std::clamp(deadline - NowMs(), 0.0, kPeriodMs);
        if (DWORD ms = static_cast<DWORD>(wait + 0.5)) {
            g_pause(ms);
        }
        double now = NowMs();
        bool onSchedule = now - deadline < kPeriodMs && deadline - now < kPeriodMs;
        periodStart_ = onSchedule ? deadline : now;
    }

private:
    static constexpr double kPeriodMs = kReadPauseMs;

    double NowMs() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
    }

    LARGE_INTEGER frequency_;
    double periodStart_ = 0;
};

// The reload flags keep a cached copy from standing in for the server's
// current file; redirects, cookies and the proxy stay the platform's.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

struct Transfer {
    int32_t status = kHttpNoResponse;
    bool complete = false;  // every announced byte arrived and no read failed
    bool stopped = false;   // the callback ended the transfer
};

int32_t ClampToInt32(int64_t n) {
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

Transfer Fetch(const std::string& url, ByteSink& sink, const std::string& agent,
               std::vector<std::string>* headers, ProgressCallback callback) {
    Transfer result;
    InternetHandle root(
        InternetOpenW(ToWide(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root.IsValid()) {
        return result;
    }
    InternetHandle request(
        InternetOpenUrlW(root.Get(), ToWide(url).c_str(), nullptr, 0, kOpenUrlFlags, 0));
    if (!request.IsValid()) {
        return result;
    }
    uint32_t startTick = GetTickCount();
    if (headers) {
        *headers = SplitHeaderLines(QueryInfoText(request.Get(), HTTP_QUERY_RAW_HEADERS_CRLF));
    }
    int32_t contentLength =
        ParseHeaderNumber(QueryInfoText(request.Get(), HTTP_QUERY_CONTENT_LENGTH));
    result.status = ParseHeaderNumber(QueryInfoText(request.Get(), HTTP_QUERY_STATUS_CODE));
    try {
        sink.Reserve(ReserveHint(contentLength));
    } catch (const std::exception&) {
        // Only a hint: without it the body still grows as it arrives.
    }

    std::vector<uint8_t> buffer(kReadChunk);
    int64_t received = 0;
    bool readFailed = false;
    ReadPacer pacer;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.Get(), buffer.data(), kReadChunk, &got)) {
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
        if (callback && !callback(contentLength, ClampToInt32(received), startTick)) {
            result.stopped = true;
            break;
        }
        pacer.Pause();
    }
    result.complete = !result.stopped && TransferIsComplete(readFailed, contentLength, received);
    // The request handle closes before the root handle (declaration order).
    return result;
}

bool WriteAll(HANDLE file, const std::vector<uint8_t>& bytes) {
    constexpr size_t kMaxWrite = 1u << 30;
    size_t done = 0;
    while (done < bytes.size()) {
        size_t want = bytes.size() - done;
        DWORD chunk = static_cast<DWORD>(want < kMaxWrite ? want : kMaxWrite);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// Writes a sibling first and moves it over the target, so that a failed
// write never leaves half a file where a whole one is expected.
[[nodiscard]] bool ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::wstring target = ToWide(path);
    std::wstring temp = target + L".part";
    {
        FileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) {
            return false;
        }
        if (!WriteAll(file.Get(), bytes)) {
            file.Close();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

HttpPauseFunction SetHttpPauseForTesting(HttpPauseFunction pause) {
    HttpPauseFunction previous = g_pause;
    g_pause = pause ? pause : SleepPause;
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
    MemorySink body;
    Transfer t = Fetch(url, body, agent, headers, callback);
    if (t.stopped || !t.complete) {
        return kHttpNoResponse;  // no whole body, so no file, whatever the status
    }
    if (t.status != kHttpOk) {
        return t.status;
    }
    return ReplaceFile(path, body.Bytes()) ? kHttpOk : kHttpNoResponse;
}
