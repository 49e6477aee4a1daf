#include "toolkit/text.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(TextTest, ParseLeadingIntReadsSignAndDigitsOnly) {
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"", 0},
        {"+", 0},
        {"-", 0},
        {"12", 12},
        {"+12", 12},
        {"-12", -12},
        {"12abc", 12},
        {"2 3", 2},
        {"abc", 0},
        {" 12", 0},  // no blanks before the number
        {"--1", 0},
        {"1-2", 1},
        {"000000000000000000042", 42},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"99999999999999999999999999999999", kMax},
        {"-99999999999999999999999999999999", kMin},
        {std::string("7\0"
                     "8",
                     3),
         7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseLeadingInt(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(TextTest, HexDigitValueTakesEitherCase) {
    const std::pair<char, int> cases[] = {
        {'0', 0},  {'9', 9},  {'a', 10},  {'f', 15},    {'A', 10},    {'F', 15},
        {'/', -1}, {':', -1}, {'@', -1},  {'G', -1},    {'`', -1},    {'g', -1},
        {' ', -1}, {'x', -1}, {'\0', -1}, {'\xC1', -1}, {'\xE6', -1},
    };
    for (const auto& [c, value] : cases) {
        EXPECT_EQ(HexDigitValue(c), value) << int(static_cast<unsigned char>(c));
    }
}

TEST(TextTest, SplitTextKeepsEmptyPieces) {
    struct Case {
        std::string text;
        std::vector<std::string_view> expected;
    };
    const Case cases[] = {
        {"a.b", {"a", "b"}},      {"", {""}},        {".", {"", ""}},
        {"a..b", {"a", "", "b"}}, {"a.", {"a", ""}}, {"abc", {"abc"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitText(c.text, '.'), c.expected) << c.text;
    }
}

TEST(TextTest, TrimBlanksStripsBothEnds) {
    EXPECT_EQ(TrimBlanks("  a b \t"), "a b");
    EXPECT_EQ(TrimBlanks("\t\r\n"), "");
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks("x"), "x");
    EXPECT_EQ(TrimBlanks(" 下载器 "), "下载器");
}

TEST(TextTest, CaseFoldingTouchesAsciiLettersOnly) {
    EXPECT_EQ(AsciiLowered("MiXeD-123_Z@["), "mixed-123_z@[");
    EXPECT_EQ(AsciiLowered("Morvik下载器"), "morvik下载器");
    EXPECT_EQ(AsciiLower('A'), 'a');
    EXPECT_EQ(AsciiLower('\xC4'), '\xC4');

    struct Case {
        std::string_view a, b;
        bool equal;
    };
    const Case cases[] = {
        {"ABC", "abc", true}, {"abc", "abd", false},  {"ab", "abc", false},
        {"", "", true},       {"下载", "下载", true}, {"\xC3\x89", "\xC3\xA9", false},  // É, é
        {"@", "`", false},    {"[", "{", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EqualsIgnoreAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    }
}

}  // namespace
