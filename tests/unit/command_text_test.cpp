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

TEST(CommandTextTest, EnvironmentWithTempReplacesOrAddsInOrder) {
    using Block = std::vector<std::string>;
    const std::string f = "C:\\Windows\\Temp\\k";
    const struct {
        const char* name;
        Block before;
        Block after;
    } cases[] = {
        {"replaced, any case, others kept",
         {"=C:=C:\\u", "Path=C:\\w", "temp=C:\\u\\t", "TMP=\\\\evil\\s", "windir=C:\\w"},
         {"=C:=C:\\u", "Path=C:\\w", "TEMP=" + f, "TMP=" + f, "windir=C:\\w"}},
        {"added in order",
         {"A=1", "TEMPO=2", "Z=3"},
         {"A=1", "TEMP=" + f, "TEMPO=2", "TMP=" + f, "Z=3"}},
        {"empty block", {}, {"TEMP=" + f, "TMP=" + f}},
        {"twice", {"A=1", "TMP=x", "tmp=y"}, {"A=1", "TEMP=" + f, "TMP=" + f}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EnvironmentWithTemp(c.before, f), c.after) << c.name;
    }
}
