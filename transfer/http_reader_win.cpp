#include "transfer/http_reader_win.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_internal.h"

namespace kelto {

namespace {

// The reload flags keep a cached copy from standing in for the server's
// current file. No cookie is sent or kept: the user's cookie store lies in
// their profile, which the elevated launcher neither reads nor writes
// through, and the distribution server's files need none. The proxy and the
// certificate check stay the platform's. Redirects are followed here
// (OpenFollowingRedirects), so that none leads from https to http whatever
// the platform would do.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES;

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

// Opens x.url and follows its redirects, as long as MayRedirect allows; a
// redirect it refuses, or one too many, opens nothing. x.finalUrl receives
// the URL that answered, x.openFailure and x.error what kept it from
// opening. x.requestHeaders go with every request of the chain.
InternetHandle OpenFollowingRedirects(HINTERNET session, Exchange& x) {
    const wchar_t* extra = x.requestHeaders.empty() ? nullptr : x.requestHeaders.c_str();
    DWORD extraLength = extra ? static_cast<DWORD>(-1) : 0;
    std::string url = x.url;
    for (int redirects = 0;; ++redirects) {
        std::wstring wideUrl = ToWide(url);
        InternetHandle request(
            InternetOpenUrlW(session, wideUrl.c_str(), extra, extraLength, kOpenUrlFlags, 0));
        if (!request.IsValid()) {
            x.error = GetLastError();
            x.openFailure = HttpFailure::kOpen;
            TraceError("open " + url, x.error);
            return request;
        }
        x.finalUrl = url;
        if (!IsRedirectStatus(StatusOf(request.Get()))) {
            return request;
        }
        std::string target = RedirectTarget(url, request.Get());
        if (target.empty()) {
            return request;  // nowhere to go: the redirect is the answer
        }
        if (redirects == kMaxRedirects || !MayRedirect(url, target)) {
            x.openFailure = HttpFailure::kRefusedRedirect;
            TraceStep("redirect to " + target + " not followed");
            return {};
        }
        TraceStep("redirected to " + target);
        url = std::move(target);
    }
}

void ReadAnswerHead(Exchange& x, HINTERNET request) {
    if (x.wantRawHeaders) {
        x.rawHeaders = QueryInfoText(request, HTTP_QUERY_RAW_HEADERS_CRLF);
    }
    x.contentLength = QueryInfoText(request, HTTP_QUERY_CONTENT_LENGTH);
    x.status = QueryInfoText(request, HTTP_QUERY_STATUS_CODE);
    x.etag = QueryInfoText(request, HTTP_QUERY_ETAG);
    x.lastModified = QueryInfoText(request, HTTP_QUERY_LAST_MODIFIED);
    x.contentRange = QueryInfoText(request, HTTP_QUERY_CONTENT_RANGE);
}

// Delivers one piece at a time, each once the caller has taken the last,
// until the body ends, a read fails or the caller leaves.
void ReadPieces(Exchange& x, HINTERNET request) {
    for (;;) {
        // The caller signals once it has taken the last delivery or left.
        WaitForSingleObject(x.taken.Get(), INFINITE);
        if (x.left.load()) {
            return;
        }
        x.got = 0;
        x.readFailed = !InternetReadFile(request, x.buffer.data(), kReadChunk, &x.got);
        x.error = x.readFailed ? GetLastError() : 0;
        SetEvent(x.ready.Get());
        if (x.readFailed || x.got == 0) {
            return;
        }
    }
}

// The run's WinInet sessions, one per user agent text (the product only
// ever sends the empty one). Every request of the run goes through the
// session of its agent, so that a connection a server keeps open serves the
// next request to it, and over https the TLS session with it is resumed.
// The record is never destroyed and its sessions never closed: a reader may
// still be blocked in a call on one while the process ends, and closing it
// then could wait for that call. The system releases them with the process.
struct Sessions {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<std::pair<std::wstring, InternetHandle>> open;
};

Sessions& RunSessions() {
    static Sessions* sessions = new Sessions();
    return *sessions;
}

// WinInet limits the connections to one HTTP/1.1 server in a setting of
// the whole process (a null handle): two by default before Internet
// Explorer 8 (a Windows 7 without its updates), six since; Wine ignores it.
// The most requests the launcher makes to one server side by side (the four
// skin pictures) may each get a connection of their own; WinInet opens one
// only for a request that finds none free, so a run never has more
// connections to a server than requests to it at once. Over TLS, requests
// also wait for a connection of the run to come free (AwaitServerTurn).
constexpr ULONG kConnectionsPerServer = 4;

void AllowConnectionsPerServer() {
    ULONG connections = kConnectionsPerServer;
    if (!InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections,
                            sizeof connections)) {
        DWORD error = GetLastError();
        TraceError("allow " + std::to_string(connections) + " connections per server", error);
    }
}

}  // namespace

HINTERNET SessionFor(const std::wstring& agent, DWORD& error) {
    Sessions& sessions = RunSessions();
    AcquireSRWLockExclusive(&sessions.lock);
    HINTERNET session = nullptr;
    for (const auto& [openAgent, handle] : sessions.open) {
        if (openAgent == agent) {
            session = handle.Get();
        }
    }
    if (session == nullptr) {
        if (sessions.open.empty()) {
            AllowConnectionsPerServer();
        }
        InternetHandle opened(
            InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        error = opened.IsValid() ? 0 : GetLastError();
        if (opened.IsValid()) {
            session = opened.Get();
            sessions.open.emplace_back(agent, std::move(opened));
            TraceStep("WinInet session open");
        }
    }
    ReleaseSRWLockExclusive(&sessions.lock);
    return session;
}

namespace {

DWORD WINAPI ReadRequest(void* parameter) {
    // The thread's own reference to the record, taken over at once.
    std::shared_ptr<Exchange> held = std::move(*std::unique_ptr<std::shared_ptr<Exchange>>(
        static_cast<std::shared_ptr<Exchange>*>(parameter)));
    Exchange& x = *held;
    DWORD error = 0;
    HINTERNET session = SessionFor(x.agent, error);
    InternetHandle request;
    if (session != nullptr) {
        request = OpenFollowingRedirects(session, x);
    } else {
        x.error = error;
        x.openFailure = HttpFailure::kOpen;
        TraceError("open WinInet", x.error);
    }
    x.opened = request.IsValid();
    if (x.opened) {
        ReadAnswerHead(x, request.Get());
    }
    SetEvent(x.ready.Get());
    if (x.opened) {
        ReadPieces(x, request.Get());
    }
    // Only the request's own handle: the session stays for the run.
    request.Close();
    return 0;
}

DWORD Remaining(uint32_t limit, uint32_t spent) {
    return spent < limit ? limit - spent : 0;
}

}  // namespace

bool StartReader(const std::shared_ptr<Exchange>& x) {
    if (!x->ready.IsValid() || !x->taken.IsValid()) {
        x->error = GetLastError();
        TraceError("make the request's events", x->error);
        return false;
    }
    auto reference = std::make_unique<std::shared_ptr<Exchange>>(x);
    ThreadHandle reader(CreateThread(nullptr, 0, ReadRequest, reference.get(), 0, nullptr));
    if (!reader.IsValid()) {
        x->error = GetLastError();
        TraceError("start the request's reader", x->error);
        return false;
    }
    (void)reference.release();  // the reader's now; it lets go of it when it ends
    return true;
}

void AskForNextPiece(Exchange& x) {
    SetEvent(x.taken.Get());
}

void LeaveExchange(Exchange& x) {
    x.left.store(true);
    SetEvent(x.taken.Get());
}

RequestClock StartRequestClock(const RequestLimits& limits, const TransferStop* stop) {
    uint32_t now = GetTickCount();
    return RequestClock{limits, stop, now, now};
}

HttpFailure WaitForDelivery(RequestClock& clock, HANDLE ready) {
    DWORD wait = INFINITE;
    uint32_t now = GetTickCount();
    if (clock.limits.stallMs > 0) {
        wait = Remaining(clock.limits.stallMs, now - clock.last);
    }
    if (clock.limits.totalMs > 0) {
        wait = std::min<DWORD>(wait, Remaining(clock.limits.totalMs, now - clock.start));
    }
    HANDLE handles[] = {ready, clock.stop ? clock.stop->Event() : nullptr};
    DWORD count = clock.stop && clock.stop->Event() ? 2 : 1;
    DWORD result = WaitForMultipleObjects(count, handles, FALSE, wait);
    clock.last = GetTickCount();
    if (result == WAIT_OBJECT_0) {
        return HttpFailure::kNone;
    }
    if (result == WAIT_OBJECT_0 + 1) {
        return HttpFailure::kStopped;
    }
    if (result == WAIT_FAILED) {
        LogLastError("wait for the server");
        return HttpFailure::kStopped;
    }
    bool overall = clock.limits.totalMs > 0 && clock.last - clock.start >= clock.limits.totalMs;
    return overall ? HttpFailure::kTimedOut : HttpFailure::kStalled;
}

namespace {

// Every TLS server the run asked, with its turns; records are never
// removed, so a turn may point at one.
struct TurnTable {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE freed = CONDITION_VARIABLE_INIT;
    std::map<std::string, ServerTurns> servers;
};

TurnTable& RunTurns() {
    static TurnTable table;
    return table;
}

// How long the wait for a turn may take: the turn's own limit, what is
// left of the request's time, and a slice at a time so that a stop is seen.
constexpr DWORD kTurnWaitSliceMs = 100;

}  // namespace

ServerTurn::~ServerTurn() {
    if (server_ == nullptr) {
        return;
    }
    TurnTable& table = RunTurns();
    AcquireSRWLockExclusive(&table.lock);
    GiveTurnBack(*server_, opened_);
    ReleaseSRWLockExclusive(&table.lock);
    WakeAllConditionVariable(&table.freed);
}

void ServerTurn::Opened() {
    if (server_ == nullptr || opened_) {
        return;
    }
    TurnTable& table = RunTurns();
    AcquireSRWLockExclusive(&table.lock);
    NoteTurnOpened(*server_);
    opened_ = true;
    ReleaseSRWLockExclusive(&table.lock);
}

ServerTurn AwaitServerTurn(const std::string& url, const RequestClock& clock) {
    std::string name = TlsServerOf(url);
    if (name.empty()) {
        return ServerTurn();
    }
    TurnTable& table = RunTurns();
    AcquireSRWLockExclusive(&table.lock);
    ServerTurns& server = table.servers[name];
    uint32_t limit = kServerTurnWaitMs;
    if (clock.limits.totalMs > 0) {
        limit = std::min<uint32_t>(limit,
                                   Remaining(clock.limits.totalMs, GetTickCount() - clock.start));
    }
    const uint32_t start = GetTickCount();
    bool waited = false;
    while (!MayTakeTurn(server) && !(clock.stop && clock.stop->Stopped())) {
        uint32_t spent = GetTickCount() - start;
        if (spent >= limit) {
            break;
        }
        waited = true;
        DWORD slice = std::min<DWORD>(kTurnWaitSliceMs, limit - spent);
        if (!SleepConditionVariableSRW(&table.freed, &table.lock, slice, 0)) {
            DWORD error = GetLastError();
            if (error != ERROR_TIMEOUT) {
                TraceError("wait for a connection to " + name, error);
                break;
            }
        }
    }
    TakeTurn(server);
    ReleaseSRWLockExclusive(&table.lock);
    if (waited) {
        TraceStep("waited " + std::to_string(GetTickCount() - start) + " ms for a connection to " +
                  name);
    }
    return ServerTurn(&server);
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

}  // namespace kelto
