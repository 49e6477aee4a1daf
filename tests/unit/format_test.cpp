#include "toolkit/format.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/ini.h"
#include "toolkit/text.h"

using namespace kelto;

namespace {

std::string A(size_t count) {
    return std::string(count, 'a');
}

// Flags, widths and precisions are compared with the platform's own
// formatter in tests/win/format_win_test.cpp; here what only we decide.
TEST(FormatTest, CountsGbkBytesAndStopsAtNul) {
    struct Case {
        std::string format;
        std::vector<FormatArg> args;
        std::string expected;
    };
    const Case cases[] = {
        {"[%6s|%-5s|%.3s|%.4s]",
         {TextArg("中文"), TextArg("中"), TextArg("中文"), TextArg("中文")},
         "[  中文|中   |中|中文]"},
        {"%s", {TextArg(std::string_view("ab\0cd", 5))}, "ab"},
        {std::string("ab\0%s", 5), {TextArg("x")}, "ab"},
        {"", {TextArg("x")}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.format, c.args), c.expected) << c.format;
    }
}

// What the platform would print from arguments that are not there, or
// misread, is copied as written instead.
TEST(FormatTest, CopiesWhatItMustNotFill) {
    struct Case {
        std::string format;
        std::vector<FormatArg> args;
        std::string expected;
    };
    const Case cases[] = {
        {"%s%s%n", {TextArg("T")}, "T%s%n"},
        {"%d", {TextArg("T")}, "%d"},
        {"%d %s", {TextArg("T")}, "%d %s"},  // the %d used up the text
        {"%s %d", {IntArg(1), TextArg("T")}, "%s %d"},
        {"%x %s", {TextArg("T")}, "%x T"},  // an unknown type takes no argument
        {"%q %5q %-5.2q %lq", {}, "%q %5q %-5.2q %lq"},
        {"%#d %#s %hd %ls %ws %I64d %I32d %Id", {}, "%#d %#s %hd %ls %ws %I64d %I32d %Id"},
        {"%5%d", {IntArg(42)}, "%542"},
        {"100%", {}, "100%"},
        {"100%-0", {}, "100%-0"},
        {"%0-5d", {IntArg(1)}, "%0-5d"},
        {"%中", {}, "%中"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.format, c.args), c.expected) << c.format;
    }
}

// The result takes at most 1023 GBK bytes; a field shrinks to the room left
// as the platform's does, and nothing follows a character that did not fit.
TEST(FormatTest, CutsAtTheBufferWithoutSplittingACharacter) {
    struct Case {
        const char* name;
        std::string format;
        std::vector<FormatArg> args;
        std::string expected;
    };
    const std::string spaces(1021, ' ');
    const std::string longText = A(5000);  // the arguments only view their texts
    const Case cases[] = {
        {"huge width", "%999999999s|", {TextArg("ab")}, spaces + "ab"},
        {"width past 32 bits", "%99999999999999999999s", {TextArg("ab")}, spaces + "ab"},
        {"huge precision", "%.99999d|", {IntArg(5)}, std::string(1022, '0') + "5"},
        {"5000-byte format", A(5000), {}, A(1023)},
        {"5000-byte text", "%s", {TextArg(longText)}, A(1023)},
        {"Chinese in the format", A(1022) + "中a", {}, A(1022)},
        {"Chinese in a text", A(1020) + "%s!", {TextArg("中文")}, A(1020) + "中"},
        {"right-aligned field", A(1020) + "%10s", {TextArg("bc")}, A(1020) + " bc"},
        {"left-aligned field", A(1020) + "%-10s", {TextArg("bc")}, A(1020) + "bc "},
        {"number", A(1020) + "%d", {IntArg(-123456)}, A(1020) + "-12"},
        {"zero-padded number", A(1020) + "%.10d", {IntArg(-1)}, A(1020) + "-01"},
    };
    for (const Case& c : cases) {
        std::string result = FormatText(c.format, c.args);
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_LE(GbkSize(result), kFormatTextLimit) << c.name;
    }
}

}  // namespace
