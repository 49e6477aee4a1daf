#include "transfer/server_turns.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(TlsServerOf, HttpsServersWithTheirPorts) {
    struct Case {
        const char* url;
        const char* server;
    };
    const Case cases[] = {
        {"https://dl.example/kelto2/kelto.dat", "dl.example:443"},
        {"https://dl.example:8443/a?b", "dl.example:8443"},
        {"https://user@dl.example#x", "dl.example:443"},
        {"https://[::1]/x", "[::1]:443"},
        {"https://[::1]:8443/x", "[::1]:8443"},
        {"http://dl.example/x", ""},
        {"https:///x", ""},
        {"ftp://dl.example/x", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TlsServerOf(c.url), c.server) << c.url;
    }
}

// The run's requests to one server as they come: the first ones side by
// side, later ones only while a connection the run holds is free.
TEST(ServerTurns, FirstRequestsGoSideBySideLaterOnesWaitForAFreeConnection) {
    ServerTurns s;
    for (int i = 0; i < 3; ++i) {  // the configuration and software.xml, at start
        ASSERT_TRUE(MayTakeTurn(s)) << i;
        TakeTurn(s);
    }
    NoteTurnOpened(s);
    NoteTurnOpened(s);
    GiveTurnBack(s, true);
    GiveTurnBack(s, true);
    GiveTurnBack(s, false);  // the third was never answered
    EXPECT_EQ(s.connections, 2);

    // Four pictures: two take the free connections, two wait.
    TakeTurn(s);
    TakeTurn(s);
    EXPECT_FALSE(MayTakeTurn(s));
    NoteTurnOpened(s);
    GiveTurnBack(s, true);
    EXPECT_TRUE(MayTakeTurn(s));
    TakeTurn(s);
    EXPECT_FALSE(MayTakeTurn(s));
    // One that waited too long opens a connection of its own, which the
    // run then holds as well.
    TakeTurn(s);
    NoteTurnOpened(s);
    NoteTurnOpened(s);
    NoteTurnOpened(s);
    EXPECT_EQ(s.connections, 3);
    EXPECT_FALSE(MayTakeTurn(s));
    GiveTurnBack(s, true);
    EXPECT_TRUE(MayTakeTurn(s));
}

}  // namespace
