#include "toolkit/command_text.h"

#include <gtest/gtest.h>

using namespace kelto;

// Each quoted form splits back, by CommandLineToArgvW's rules, into the one
// argument it came from.
TEST(CommandTextTest, QuoteArgumentKeepsOneArgument) {
    const struct {
        const char* text;
        const char* quoted;
    } cases[] = {
        {"", "\"\""},
        {"a\\\"b c", "\"a\\\\\\\"b c\""},
        {"C:\\dir\\", "\"C:\\dir\\\\\""},
        {"\" -evil \"", "\"\\\" -evil \\\"\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuoteArgument(c.text), c.quoted) << c.text;
    }
    EXPECT_EQ(CommandLineOf("C:\\下载 器\\uninst.exe", " /S"), "\"C:\\下载 器\\uninst.exe\"  /S");
}
