// The reader of one request: the thread that makes WinInet's blocking calls,
// the record it shares with the caller, and the clock that bounds the
// caller's waits for it. The transfer's own; callers use http_win.h.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/handles_win.h"
#include "transfer/http.h"
#include "transfer/http_win.h"
#include "transfer/server_turns.h"

namespace kelto {

// One request, made on a reader thread of its own so that every wait of the
// caller stays bounded: neither WinInet's time-out options nor a handle
// closed from another thread make a blocked connect or read return on every
// system (under Wine neither does). The two take turns: the reader delivers
// the answer's head, then one piece at a time, and waits until the caller
// has taken it. A caller that gives up leaves at once; the reader then ends
// when its blocked call returns, touching nothing but this record, which
// both own: it goes with the last of the two to leave.
struct Exchange {
    EventHandle ready{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // the reader delivered
    EventHandle taken{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // the caller took it
    std::atomic<bool> left{false};                                    // the caller gave up

    std::wstring agent;
    std::string url;
    std::wstring requestHeaders;
    bool wantRawHeaders = false;

    // Written by the reader before it signals ready.
    bool opened = false;
    HttpFailure openFailure = HttpFailure::kNone;  // why it was not opened
    DWORD error = 0;                               // of the failed open, or of the last read
    std::string finalUrl, rawHeaders, contentLength, status, etag, lastModified, contentRange;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kReadChunk);
    DWORD got = 0;
    bool readFailed = false;
};

// Starts x's reader on a thread of its own, which holds its own reference
// to x and is waited for by nobody; it opens x.url in the run's WinInet
// session for x.agent, shared by every request with that agent and never
// closed, and signals x.ready.
// False, with x.error set and traced, when it could not start.
[[nodiscard]] bool StartReader(const std::shared_ptr<Exchange>& x);

// The run's WinInet session for agent, opened by the first request that
// needs it, or by OpenHttpSession; null, with the error in error, when
// WinInet could not open one (the next request tries again). Only a thread
// that opens a session makes others wait for it, and only while it does.
HINTERNET SessionFor(const std::wstring& agent, DWORD& error);

// Lets the reader fetch the next piece of the body: the caller has taken
// the last delivery.
void AskForNextPiece(Exchange& x);

// Tells the reader that the caller is done, however the request ended; a
// reader that has ended already is not harmed by being told.
void LeaveExchange(Exchange& x);

// The caller's waits for one request: its limits, its stop, and when it
// began and last heard from the reader (GetTickCount()).
struct RequestClock {
    RequestLimits limits;
    const TransferStop* stop = nullptr;
    uint32_t start = 0;
    uint32_t last = 0;
};

// A clock that starts now.
RequestClock StartRequestClock(const RequestLimits& limits, const TransferStop* stop);

// Waits for the reader's next delivery on ready, as long as the clock's
// limits allow and until its stop is set: kNone once delivered, else
// kStalled, kTimedOut or kStopped (a failed wait counts as a stop).
HttpFailure WaitForDelivery(RequestClock& clock, HANDLE ready);

// A request's turn among the run's requests to its TLS server
// (server_turns.h), held from before it opens until its caller is done
// with it. Requests to any other server hold an empty turn.
class ServerTurn {
public:
    explicit ServerTurn(ServerTurns* server = nullptr) : server_(server) {}
    ServerTurn(const ServerTurn&) = delete;
    ServerTurn& operator=(const ServerTurn&) = delete;
    ~ServerTurn();
    // The request was answered: its connection is one the run holds.
    void Opened();

private:
    ServerTurns* server_;
    bool opened_ = false;
};

// The longest a request waits for a connection of the run to come free
// before it opens one of its own: the wait saves a connection's set-up,
// it never fails a request.
inline constexpr uint32_t kServerTurnWaitMs = 2000;

// Waits for url's turn as long as kServerTurnWaitMs and the clock allow,
// and not past the clock's stop; then takes it whether it came or not.
ServerTurn AwaitServerTurn(const std::string& url, const RequestClock& clock);

// One response header of a request as text; "" when absent.
std::string QueryInfoText(HINTERNET request, DWORD infoLevel);

}  // namespace kelto
