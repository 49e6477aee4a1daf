#include "launcher/handover.h"
#include "toolkit/product.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(HandOverTest, SendMessageLogLine) {
    struct Case {
        const char* name;
        int64_t window;
        unsigned message;
        int game;
        std::string expected;
    };
    const Case cases[] = {
        {"handle in decimal", 0x1234, kHandOverMessage, 9, "SendMessage 4660, 5108, 9"},
        {"no window", 0, kHandOverMessage, 9, "SendMessage 0, 5108, 9"},
        {"largest positive 32-bit handle", 0x7FFFFFFF, kHandOverMessage, 9,
         "SendMessage 2147483647, 5108, 9"},
        {"high bit set reads negative", 0x80000000, kHandOverMessage, 9,
         "SendMessage -2147483648, 5108, 9"},
        {"all 32 bits set", 0xFFFFFFFF, kHandOverMessage, 9, "SendMessage -1, 5108, 9"},
        {"64-bit handle keeps its low half", 0x0000000100001234, kHandOverMessage, 9,
         "SendMessage 4660, 5108, 9"},
        {"64-bit handle, low half negative", static_cast<int64_t>(0xFFFFFFFF80000001ull),
         kHandOverMessage, 9, "SendMessage -2147483647, 5108, 9"},
        {"sign-extended 32-bit handle", -2, kHandOverMessage, 9, "SendMessage -2, 5108, 9"},
        {"other game, negative game", 0x10, kHandOverMessage, -3, "SendMessage 16, 5108, -3"},
        {"message above INT_MAX prints signed", 0x10, 0xFFFFFFFFu, 9, "SendMessage 16, -1, 9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SendMessageLogLine(c.window, c.message, c.game), c.expected) << c.name;
    }
}

}  // namespace
