#include "config/ini.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include "toolkit/text.h"

using namespace kelto;

namespace {

using Opt = std::optional<std::string>;

std::string Repeat(std::string_view piece, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += piece;
    }
    return out;
}

// Deterministic noise for the garbage cases.
std::string NoiseBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

const char kSample[] =
    "; leading comment\n"
    "orphan=before any section\n"
    "[ui]\n"
    "caption = Morvik下载器 2010 \n"
    "   captionX=40\n"
    ";closeImg=http://h/close.png\n"
    "   ; indented comment=1\n"
    "Quoted=\"  spaced  \"\n"
    "single='x'\n"
    "mismatch=\"x'\n"
    "lonequote=\"\n"
    "empty=\n"
    "  blank  =   \n"
    "bare line\n"
    "dup=first\n"
    "DUP=second\n"
    "eq=a=b\n"
    "\n"
    "[UI]\n"
    "late=yes\n"
    "dup=third\n"
    "[ Spaced Name ] trailing\n"
    "k=v\n"
    "[open\n"
    "k2=v2\n"
    "[]\n"
    "nameless=1\n";

TEST(IniTest, ReadString) {
    IniDocument doc = ParseIni(kSample);
    struct Case {
        std::string section, key;
        Opt expected;
    };
    const Case cases[] = {
        {"ui", "caption", "Morvik下载器 2010"},
        {"UI", "CAPTION", "Morvik下载器 2010"},
        {"ui", "captionx", "40"},
        {"ui", "closeImg", std::nullopt},
        {"ui", "; indented comment", std::nullopt},
        {"ui", "quoted", "  spaced  "},
        {"ui", "single", "x"},
        {"ui", "mismatch", "\"x'"},
        {"ui", "lonequote", "\""},
        {"ui", "empty", ""},
        {"ui", "blank", ""},
        {"ui", "bare line", std::nullopt},
        {"ui", "dup", "first"},
        {"ui", "late", std::nullopt},  // a repeated [ui] header hides its keys
        {"ui", "eq", "a=b"},
        {"ui", "orphan", std::nullopt},
        {"", "orphan", std::nullopt},
        {"Spaced Name", "k", "v"},
        {"spaced name", "K", "v"},
        {"open", "k2", "v2"},
        {"", "nameless", "1"},
        {"missing", "k", std::nullopt},
        {"ui", "", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IniReadString(doc, c.section, c.key), c.expected)
            << '[' << c.section << "] " << c.key;
    }
}

TEST(IniTest, ReadInt) {
    IniDocument doc = ParseIni(
        "[s]\nplain=40\nneg=-5\nunit=12px\nword=px\nnone=\nhuge=99999999999\n"
        "quoted=\"7\"\nspaced=  8  \nbare\n");
    struct Case {
        std::string key;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"plain", 40},
        {"neg", -5},
        {"unit", 12},
        {"word", 0},
        {"none", 0},
        {"huge", 2147483647},
        {"quoted", 7},
        {"spaced", 8},
        {"bare", std::nullopt},
        {"absent", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IniReadInt(doc, "s", c.key), c.expected) << c.key;
    }
    EXPECT_EQ(IniReadInt(doc, "other", "plain"), std::nullopt);
}

TEST(IniTest, LineEnds) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"CR LF", "[s]\r\na=1\r\nb=2\r\nc=3\r\n"},
        {"LF", "[s]\na=1\nb=2\nc=3\n"},
        {"CR", "[s]\ra=1\rb=2\rc=3\r"},
        {"mixed, no final end", "[s]\r\na=1\nb=2\rc=3"},
        {"blank lines between", "\r\n\r[s]\r\r\n\na=1\n\r\nb=2\r\r\rc=3"},
    };
    for (const Case& c : cases) {
        IniDocument doc = ParseIni(c.text);
        EXPECT_EQ(IniReadString(doc, "s", "a"), Opt("1")) << c.name;
        EXPECT_EQ(IniReadString(doc, "s", "b"), Opt("2")) << c.name;
        EXPECT_EQ(IniReadString(doc, "s", "c"), Opt("3")) << c.name;
        EXPECT_EQ(IniSectionEntries(doc, "s"), (std::vector<std::string>{"a=1", "b=2", "c=3"}))
            << c.name;
    }
}

TEST(IniTest, NulEndsItsLine) {
    const char raw[] =
        "[s\0x]\n"
        "a=1\0junk=9\n"
        "b=2\0\n"
        "c\0=3\n"
        "\0d=4\n"
        "e=5\0";
    const std::string text(raw, sizeof(raw) - 1);
    IniDocument doc = ParseIni(text);
    EXPECT_EQ(IniReadString(doc, "s", "a"), Opt("1"));
    EXPECT_EQ(IniReadString(doc, "s", "junk"), std::nullopt);
    EXPECT_EQ(IniReadString(doc, "s", "b"), Opt("2"));
    EXPECT_EQ(IniReadString(doc, "s", "c"), std::nullopt);
    EXPECT_EQ(IniReadString(doc, "s", "d"), std::nullopt);
    EXPECT_EQ(IniReadString(doc, "s", "e"), Opt("5"));
    EXPECT_EQ(IniSectionEntries(doc, "s"), (std::vector<std::string>{"a=1", "b=2", "c", "e=5"}));
}

TEST(IniTest, SectionHeadersAtTheEnd) {
    EXPECT_TRUE(IniSectionEntries(ParseIni("[s]"), "s").empty());
    EXPECT_TRUE(IniSectionEntries(ParseIni("[s"), "s").empty());
    EXPECT_EQ(IniReadString(ParseIni("[s]\nk=v"), "s", "k"), Opt("v"));
    EXPECT_EQ(IniReadString(ParseIni("\xEF\xBB\xBF[s]\nk=v"), "s", "k"), Opt("v"));
    EXPECT_TRUE(ParseIni("").sections.empty());
}

TEST(IniTest, ValueLimitCountsFileBytes) {
    const std::string xia = "下";  // two bytes in the file, three here
    struct Case {
        const char* name;
        std::string value;
        std::string expected;
    };
    const Case cases[] = {
        {"5000 ASCII bytes", std::string(5000, 'x'), std::string(4095, 'x')},
        {"exactly the limit", std::string(4095, 'y'), std::string(4095, 'y')},
        {"quoted, quotes go first", "\"" + std::string(5000, 'q') + "\"", std::string(4095, 'q')},
        {"Chinese cut on a character", Repeat(xia, 3000), Repeat(xia, 2047)},
        {"odd start", "a" + Repeat(xia, 3000), "a" + Repeat(xia, 2047)},
        {"fits exactly", "a" + Repeat(xia, 2047), "a" + Repeat(xia, 2047)},
        {"invalid bytes count two each", std::string(5000, '\xFF'), std::string(2047, '\xFF')},
    };
    for (const Case& c : cases) {
        IniDocument doc = ParseIni("[s]\nk=" + c.value + "\n");
        std::optional<std::string> got = IniReadString(doc, "s", "k");
        ASSERT_TRUE(got.has_value()) << c.name;
        EXPECT_EQ(got->size(), c.expected.size()) << c.name;
        EXPECT_EQ(*got, c.expected) << c.name;
        EXPECT_LE(GbkSize(*got), kIniValueLimit) << c.name;
    }
}

TEST(IniTest, EncodedSize) {
    EXPECT_EQ(GbkSize(""), 0u);
    EXPECT_EQ(GbkSize("abc"), 3u);
    EXPECT_EQ(GbkSize("下载器"), 6u);
    EXPECT_EQ(GbkSize("a下"), 3u);
    // Broken UTF-8: every byte that starts no valid sequence stands alone.
    EXPECT_EQ(GbkSize("\xE4\xB8"), 4u);
    EXPECT_EQ(GbkSize("\xF5\x80\x80"), 6u);
    EXPECT_EQ(GbkSize("\xC0\x80"), 4u);
    EXPECT_EQ(GbkSize("\xF0\x9F\x98\x80"), 2u);  // one character beyond GBK
}

TEST(IniTest, SectionEntriesInFileOrder) {
    IniDocument doc = ParseIni(
        "[forceupdate]\n latest = 1.6.5.2288 \n1.6.5.2282=1\nbare\n=5\n"
        "[other]\nx=1\n[FORCEUPDATE]\nmore='2'\n");
    EXPECT_EQ(
        IniSectionEntries(doc, "forceupdate"),
        (std::vector<std::string>{"latest=1.6.5.2288", "1.6.5.2282=1", "bare", "=5"}));
    EXPECT_TRUE(IniSectionEntries(doc, "absent").empty());
}

std::string NumberedEntries(size_t count, size_t entrySize, size_t firstNumber = 0) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        std::string key = "k" + std::to_string(firstNumber + i);
        text += key + "=" + std::string(entrySize - key.size() - 1, 'v') + "\n";
    }
    return text;
}

TEST(IniTest, SectionListingLimit) {
    // 254 entries of 128 bytes, each with its terminator, plus the final
    // terminator make exactly 32767 bytes.
    struct Case {
        const char* name;
        std::string body;
        size_t expectedCount;
    };
    const Case cases[] = {
        {"exactly full", NumberedEntries(254, 128), 254},
        {"one more does not fit", NumberedEntries(255, 128), 254},
        {"far beyond", NumberedEntries(3000, 128), 254},
        // Eight 4003-byte entries fill 32033 bytes; the ninth does not fit,
        // and the small one after it is not seen either.
        {"no entry after the first misfit", NumberedEntries(9, 4003, 10) + "z=1\n", 8},
        // Counted in file bytes: 6 + 2 + 1 per entry fits 3640 times; in UTF-8
        // bytes it would be only 2730.
        {"Chinese counted as two bytes", Repeat("下载器=1\n", 4000), 3640},
    };
    for (const Case& c : cases) {
        IniDocument doc = ParseIni("[forceupdate]\n" + c.body);
        std::vector<std::string> entries = IniSectionEntries(doc, "forceupdate");
        EXPECT_EQ(entries.size(), c.expectedCount) << c.name;
        size_t used = 1;
        for (const std::string& e : entries) {
            used += GbkSize(e) + 1;
        }
        EXPECT_LE(used, kIniSectionLimit) << c.name;
    }
    // Reading a single key is not limited by the listing.
    IniDocument full = ParseIni("[f]\n" + NumberedEntries(400, 128));
    EXPECT_EQ(IniSectionEntries(full, "f").size(), 254u);
    EXPECT_TRUE(IniReadString(full, "f", "k399").has_value());
}

TEST(IniTest, GarbageNeverLeaksLineBreaksOrOverflowsLimits) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        std::string text = NoiseBytes(20000, seed);
        // Sprinkle structure in so that sections and entries really occur.
        for (size_t i = 0; i + 8 < text.size(); i += 97) {
            text.replace(i, 5, seed % 2 ? "\n[s]\n" : "\r\nk=v");
        }
        IniDocument doc = ParseIni(text);
        for (const IniSection& s : doc.sections) {
            EXPECT_EQ(s.name.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
            for (const IniLine& line : s.lines) {
                EXPECT_EQ(line.key.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
                EXPECT_EQ(line.value.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
                EXPECT_LE(GbkSize(line.value), kIniValueLimit);
                EXPECT_EQ(line.key.find('='), std::string::npos);
                EXPECT_TRUE(line.hasValue || line.value.empty());
            }
        }
        size_t used = 1;
        for (const std::string& e : IniSectionEntries(doc, "s")) {
            used += GbkSize(e) + 1;
        }
        EXPECT_LE(used, kIniSectionLimit);
    }
}

}  // namespace
