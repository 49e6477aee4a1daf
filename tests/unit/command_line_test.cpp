#include "launcher/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

using Args = std::vector<std::string>;

TEST(CommandLineTest, SplitCommandLine) {
    struct Case {
        std::string line;
        Args expected;
    };
    const Case cases[] = {
        {"C:\\kelto2.exe", {"C:\\kelto2.exe"}},
        {"\"C:\\Program Files\\Kelto2.exe\" http://h/cfg -testui",
         {"C:\\Program Files\\Kelto2.exe", "http://h/cfg", "-testui"}},
        {"  a   b  ", {"a", "b"}},
        {"a\tb\x01"
         "c\x1f"
         "d\x20"
         "e",
         {"a", "b", "c", "d", "e"}},
        {"a\x7f"
         "b",
         {"a\x7f"
          "b"}},
        // Bytes of UTF-8 text are no separators.
        {"prog 下载器 x", {"prog", "下载器", "x"}},
        // Empty quote pairs between arguments are part of the separator run.
        {"a  \"\"  b", {"a", "b"}},
        {"a \"\" \"\" b", {"a", "b"}},
        {"a \"\"\"\" b", {"a", "b"}},
        {"\"\"", {}},
        {"a \"\"", {"a"}},
        {"\"\"abc", {"abc"}},
        // A quote opens a stretch to the next quote, blanks included.
        {"a \"x y\"", {"a", "x y"}},
        {"a x\"y z\"w", {"a", "x\"y z\"w"}},
        {"a \"x\"y\"", {"a", "x\"y"}},
        {"a \"x\"\"y z\"", {"a", "x\"\"y z"}},
        // Unbalanced: the stretch runs to the end and keeps its quote.
        {"a \"b c", {"a", "\"b c"}},
        {"a \"", {"a", "\""}},
        {"a \"\"\"", {"a", "\""}},
        {"a b\"c d", {"a", "b\"c d"}},
        // A NUL ends the text.
        {std::string("a b\0c d", 7), {"a", "b"}},
        {std::string("a \"b\0c\" d", 9), {"a", "\"b"}},
        {std::string("\0a", 2), {}},
        {"", {}},
        {"   ", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.expected) << '[' << c.line << ']';
    }
}

TEST(CommandLineTest, HasSwitchLooksAfterTheProgramPath) {
    struct Case {
        Args args;
        bool expected;
    };
    const Case cases[] = {
        {{"p", "-testui"}, true},
        {{"p", "/TESTUI"}, true},
        {{"p", "-TestUi"}, true},
        {{"p", "http://h", "/testui"}, true},
        {{"-testui"}, false},  // the program path is no argument
        {{"p", "testui"}, false},
        {{"p", "--testui"}, false},
        {{"p", "-testui2"}, false},
        {{"p", "-test"}, false},
        {{"p", "-"}, false},
        {{"p", ""}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandLineHasSwitch(c.args, "testui"), c.expected)
            << ::testing::PrintToString(c.args);
    }
}

TEST(CommandLineTest, BaseUrlIsALowerCaseHttpOrHttpsFirstArgument) {
    struct Case {
        Args args;
        std::string expected;
    };
    const Case cases[] = {
        {{"p", "http://h/cfg"}, "http://h/cfg"},
        {{"p", "http://"}, "http://"},
        {{"p", "HTTP://h/cfg"}, ""},
        {{"p", "Http://h/cfg"}, ""},
        {{"p", "https://h/cfg"}, "https://h/cfg"},
        {{"p", "HTTPS://h/cfg"}, ""},
        {{"p", "https:/h/cfg"}, ""},
        {{"p", " https://h/cfg"}, ""},
        {{"p", "-testui", "http://h/cfg"}, ""},
        {{"p", "/testui"}, ""},
        {{"p"}, ""},
        {{}, ""},
        {{"http://h/cfg"}, ""},  // the program path is no argument
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BaseUrlArgument(c.args), c.expected) << ::testing::PrintToString(c.args);
    }
}

TEST(CommandLineTest, WholeCommandLines) {
    struct Case {
        std::string line;
        bool testMode;
        std::string baseUrl;
    };
    const Case cases[] = {
        {"kelto2.exe /TESTUI", true, ""},
        {"\"C:\\a b\\kelto2.exe\" \"http://h/a b\" -testui", true, "http://h/a b"},
        {"kelto2.exe \"\" http://h/x", false, "http://h/x"},
        {"kelto2.exe \"-testui\"", true, ""},
        {"kelto2.exe \"-test ui\"", false, ""},
        {"kelto2.exe HTTP://h/x", false, ""},
    };
    for (const Case& c : cases) {
        Args args = SplitCommandLine(c.line);
        EXPECT_EQ(CommandLineHasSwitch(args, "testui"), c.testMode) << c.line;
        EXPECT_EQ(BaseUrlArgument(args), c.baseUrl) << c.line;
    }
}

}  // namespace
