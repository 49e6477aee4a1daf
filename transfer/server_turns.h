// Turns among the requests to one TLS server. A run keeps its connections
// alive and WinInet reuses a free one; a request that finds none opens a
// new one, which over TLS costs a tunnel through the proxy and a handshake,
// three round trips or more, where waiting for a connection of the run to
// come free costs about one. So once the run holds connections to a TLS
// server, a request waits for one of them; the first requests, while none
// is known yet, each open their own, side by side. Plain http connections
// are cheap to open and go at once.
#pragma once

#include <string>
#include <string_view>

namespace kelto {

// What the run knows of one server's connections.
struct ServerTurns {
    int inFlight = 0;        // requests that hold a turn
    int openedInFlight = 0;  // of those, the ones whose answer began
    int connections = 0;     // the most that were open at once, kept alive for reuse
};

// The server whose turns a request for url takes: "host:port" as written
// for an https URL (port 443 when none is written), empty for any other,
// which takes no turn.
std::string TlsServerOf(std::string_view url);

// Whether one more request to the server may go now: while no connection
// is known, always; otherwise while a connection of the run is free.
bool MayTakeTurn(const ServerTurns& s);

// A request takes its turn, whether it may or has waited long enough.
void TakeTurn(ServerTurns& s);

// The request holding a turn was answered: its connection is open.
void NoteTurnOpened(ServerTurns& s);

// The request gives its turn back; opened as told by NoteTurnOpened.
void GiveTurnBack(ServerTurns& s, bool opened);

}  // namespace kelto
