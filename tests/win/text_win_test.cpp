#include "toolkit/text_win.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

// "Morvik下载器" as GBK bytes.
constexpr char kGbkProduct[] = "Morvik\xCF\xC2\xD4\xD8\xC6\xF7";
constexpr char kUtf8Product[] = "Morvik下载器";

TEST(TextWin, GbkRoundTripOfTheProductName) {
    EXPECT_EQ(GbkToUtf8(kGbkProduct), kUtf8Product);
    EXPECT_EQ(Utf8ToGbk(kUtf8Product), kGbkProduct);
    EXPECT_EQ(WideFromCodePage(kGbkProduct, kGbkCodePage), L"Morvik\u4E0B\u8F7D\u5668");
}

TEST(TextWin, Utf8AndWideRoundTrip) {
    const std::string texts[] = {"", "plain", kUtf8Product, "C:\\Morvik网络\\x", "\U0001F600"};
    for (const std::string& text : texts) {
        EXPECT_EQ(ToUtf8(ToWide(text)), text) << text;
    }
    EXPECT_EQ(ToWide("\xE4\xB8\x8B"), L"\u4E0B");
    EXPECT_EQ(ToUtf8(L"\u4E0B"), "\xE4\xB8\x8B");
}

TEST(TextWin, EmbeddedNulsSurvive) {
    std::string text("a\0b", 3);
    EXPECT_EQ(ToWide(text), std::wstring(L"a\0b", 3));
    EXPECT_EQ(ToUtf8(ToWide(text)), text);
    EXPECT_EQ(GbkToUtf8(std::string("\xCF\xC2\0x", 4)), std::string("下\0x", 5));
}

// Bad bytes never make a conversion fail as a whole or drop the good text
// around them.
TEST(TextWin, InvalidInputKeepsTheValidText) {
    struct Case {
        const char* name;
        std::string input;
        std::string keptPrefix;
        std::string keptSuffix;
    };
    const Case utf8Cases[] = {
        {"lone continuation",
         "ab\x80"
         "cd",
         "ab", "cd"},
        {"truncated sequence", "ab\xE4\xB8", "ab", ""},
        {"overlong slash",
         "ab\xC0\xAF"
         "cd",
         "ab", "cd"},
        {"surrogate half",
         "ab\xED\xA0\x80"
         "cd",
         "ab", "cd"},
        {"byte FF",
         "\xFF"
         "cd",
         "", "cd"},
    };
    for (const Case& c : utf8Cases) {
        std::wstring wide = ToWide(c.input);
        std::string back = ToUtf8(wide);
        EXPECT_FALSE(wide.empty()) << c.name;
        EXPECT_TRUE(back.starts_with(c.keptPrefix)) << c.name;
        EXPECT_TRUE(back.ends_with(c.keptSuffix)) << c.name;
        EXPECT_NE(back, c.input) << c.name << ": the bad bytes must not pass through as-is";
    }
    const Case gbkCases[] = {
        {"lead byte at the end", "ab\xCF", "ab", ""},
        {"lead byte then ASCII",
         "ab\x81\x20"
         "cd",
         "ab", "cd"},
        {"byte FF",
         "ab\xFF"
         "cd",
         "ab", "cd"},
        {"byte 80",
         "ab\x80"
         "cd",
         "ab", "cd"},
    };
    for (const Case& c : gbkCases) {
        std::string utf8 = GbkToUtf8(c.input);
        EXPECT_TRUE(utf8.starts_with(c.keptPrefix)) << c.name << ": " << utf8;
        EXPECT_TRUE(utf8.ends_with(c.keptSuffix)) << c.name << ": " << utf8;
        EXPECT_EQ(ToUtf8(ToWide(utf8)), utf8) << c.name << ": the result must be valid UTF-8";
    }
}

TEST(TextWin, UnencodableCharactersDoNotEmptyTheText) {
    // U+00E9 and an emoji have no GBK code.
    std::string gbk = Utf8ToGbk("x\u00E9y\U0001F600z");
    EXPECT_TRUE(gbk.starts_with("x")) << gbk;
    EXPECT_TRUE(gbk.ends_with("z")) << gbk;
    std::string ansi = Utf8ToAnsi("x\U0001F600z");
    EXPECT_TRUE(ansi.starts_with("x")) << ansi;
    EXPECT_TRUE(ansi.ends_with("z")) << ansi;
}

TEST(TextWin, AnsiFollowsTheSystemCodePage) {
    if (GetACP() != kGbkCodePage) {
        GTEST_SKIP() << "system code page is " << GetACP()
                     << "; run with LC_ALL=zh_CN.UTF-8 to check the GBK system case";
    }
    EXPECT_EQ(Utf8ToAnsi(kUtf8Product), kGbkProduct);
}

}  // namespace
