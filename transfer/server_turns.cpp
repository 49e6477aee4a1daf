#include "transfer/server_turns.h"

#include <algorithm>

namespace kelto {

std::string TlsServerOf(std::string_view url) {
    constexpr std::string_view kHttps = "https://";
    if (!url.starts_with(kHttps)) {
        return {};
    }
    std::string_view rest = url.substr(kHttps.size());
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    authority = authority.substr(authority.rfind('@') + 1);  // npos + 1 is 0
    if (authority.empty()) {
        return {};
    }
    std::string server(authority);
    if (authority.back() == ']' ||
        authority.find(':', authority.rfind(']') + 1) == std::string_view::npos) {
        server += ":443";
    }
    return server;
}

bool MayTakeTurn(const ServerTurns& s) {
    return s.connections == 0 || s.inFlight < s.connections;
}

void TakeTurn(ServerTurns& s) {
    ++s.inFlight;
}

void NoteTurnOpened(ServerTurns& s) {
    ++s.openedInFlight;
    s.connections = std::max(s.connections, s.openedInFlight);
}

void GiveTurnBack(ServerTurns& s, bool opened) {
    --s.inFlight;
    if (opened) {
        --s.openedInFlight;
    }
}

}  // namespace kelto
