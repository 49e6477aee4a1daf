#include "config/config_signature.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(SplitConfigSignature, OnlyALastLineEndedByCrLfOrTheEnd) {
    struct Case {
        std::string_view file, signedBytes, signature;
    };
    const Case cases[] = {
        {"[a]\r\nk=1\r\n;kelto2-signature AAAA\r\n", "[a]\r\nk=1\r\n", "AAAA"},
        {"[a]\r\n;kelto2-signature AAAA", "[a]\r\n", "AAAA"},
        {";kelto2-signature AB==", "", "AB=="},
        {"[a]\r\n;kelto2-signature AAAA\r\nk=1\r\n", "[a]\r\n;kelto2-signature AAAA\r\nk=1\r\n",
         ""},
        {"[a]\r\n;kelto2-signature AAAA\n", "[a]\r\n;kelto2-signature AAAA\n", ""},
        {"[a]\r\n;kelto2-signature AAAA\r\n\r\n", "[a]\r\n;kelto2-signature AAAA\r\n\r\n", ""},
        {"[a]\r\n;kelto2-signature AA\rAA", "[a]\r\n;kelto2-signature AA\rAA", ""},
        {"[a]\r\n;kelto2-signatureAAAA", "[a]\r\n;kelto2-signatureAAAA", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        ConfigFileParts parts = SplitConfigSignature(c.file);
        EXPECT_EQ(parts.signedBytes, c.signedBytes) << c.file;
        EXPECT_EQ(parts.signature, c.signature) << c.file;
    }
}

TEST(ConfigSignedText, NamesTheFileOnItsOwnLine) {
    EXPECT_EQ(ConfigSignedText("games/9.dat", "[a]\r\n"), "kelto2-config games/9.dat\n[a]\r\n");
}

TEST(ParseUtcTime, StrictFormatRealDatesBothWays) {
    struct Case {
        std::string_view text;
        std::optional<int64_t> seconds;
    };
    const Case cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2000-02-29T12:34:56Z", 951827696},
        {"2026-12-09T19:50:00Z", 1796845800},
        {"9999-12-31T23:59:59Z", 253402300799},
        {"2001-02-29T00:00:00Z", std::nullopt},
        {"1900-02-29T00:00:00Z", std::nullopt},
        {"1969-12-31T23:59:59Z", std::nullopt},
        {"2026-13-01T00:00:00Z", std::nullopt},
        {"2026-04-31T00:00:00Z", std::nullopt},
        {"2026-01-01T24:00:00Z", std::nullopt},
        {"2026-01-01T00:60:00Z", std::nullopt},
        {"2026-01-01T00:00:60Z", std::nullopt},
        {"2026-01-01 00:00:00Z", std::nullopt},
        {"2026-01-01T00:00:00", std::nullopt},
        {"2026-01-01T00:00:00+00:00", std::nullopt},
        {"2026-1-01T00:00:00Z", std::nullopt},
        {"+026-01-01T00:00:00Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseUtcTime(c.text), c.seconds) << c.text;
        if (c.seconds) {
            EXPECT_EQ(FormatUtcTime(*c.seconds), c.text);
        }
    }
}

TEST(ParseRolloutShare, WholeNumbersUpToAHundred) {
    struct Case {
        std::string_view text;
        std::optional<int> share;
    };
    const Case cases[] = {{"0", 0},
                          {"7", 7},
                          {"100", 100},
                          {"050", 50},
                          {"101", std::nullopt},
                          {"-1", std::nullopt},
                          {" 5", std::nullopt},
                          {"5%", std::nullopt},
                          {"0100", std::nullopt},
                          {"", std::nullopt}};
    for (const Case& c : cases) {
        EXPECT_EQ(ParseRolloutShare(c.text), c.share) << c.text;
    }
}

TEST(RolloutBucket, FirstFourBytesBigEndianModuloAHundred) {
    std::array<uint8_t, 32> digest{};
    digest = {0x00, 0x00, 0x01, 0x2c, 0xff};  // 300, the fifth byte ignored
    EXPECT_EQ(RolloutBucket(digest), 0);
    digest = {0xff, 0xff, 0xff, 0xff};  // 4294967295
    EXPECT_EQ(RolloutBucket(digest), 95);
    digest = {0x12, 0x34, 0x56, 0x78};  // 305419896
    EXPECT_EQ(RolloutBucket(digest), 96);
    EXPECT_EQ(RolloutStatement("0f1e-2d", "1.6.5.2288"), "kelto2-rollout 0f1e-2d 1.6.5.2288");
    EXPECT_TRUE(IsInRollout(49, 50));
    EXPECT_FALSE(IsInRollout(50, 50));
    EXPECT_FALSE(IsInRollout(0, 0));
    EXPECT_TRUE(IsInRollout(99, 100));
}

}  // namespace
