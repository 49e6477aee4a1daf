#include "launcher/version.h"

#include <string>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

VersionValue V(uint16_t major, uint16_t minor, uint16_t release, uint16_t build) {
    return VersionValue{major, minor, release, build};
}

TEST(VersionTest, ParseVersionFillsFieldsFromTheRight) {
    struct Case {
        std::string text;
        VersionValue expected;
    };
    const Case cases[] = {
        {"1.6.5.2288", V(1, 6, 5, 2288)},
        {"1.6.5.2288.7", V(1, 6, 5, 2288)},  // a fifth piece is ignored
        {"1.6", V(0, 0, 1, 6)},
        {"0", V(0, 0, 0, 0)},
        {"", V(0, 0, 0, 0)},
        {".", V(0, 0, 0, 0)},
        {"1..2", V(0, 1, 0, 2)},  // the empty middle piece counts
        {"1.", V(0, 0, 0, 1)},    // the empty piece after a final dot does not
        {"1..", V(0, 0, 1, 0)},
        {".5", V(0, 0, 0, 5)},
        {"1.2.3.4.", V(1, 2, 3, 4)},
        {"+7.abc.3x", V(0, 7, 0, 3)},
        {" 1.2", V(0, 0, 0, 2)},  // a blank is no digit
        {"40000.0.0.0", V(40000, 0, 0, 0)},
        {"65535.65535.65535.65535", V(65535, 65535, 65535, 65535)},
        // Pieces above 65535 carry into the field before them...
        {"1.70000", V(0, 0, 2, 4464)},
        {"1.65536", V(0, 0, 2, 0)},
        {"65536.0.0.0", V(0, 0, 0, 0)},  // ...and out of the top
        // ...and negative pieces borrow.
        {"1.-1", V(0, 0, 0, 65535)},
        {"-1", V(65535, 65535, 65535, 65535)},
        {"-1.70000", V(0, 0, 0, 4464)},
        // Huge numbers saturate at the int32 range before they are added.
        {"99999999999", V(0, 0, 32767, 65535)},
        {"-99999999999", V(65535, 65535, 32768, 0)},
        {"99999999999.99999999999.99999999999.99999999999", V(32767, 32767, 32766, 65535)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseVersion(c.text), c.expected)
            << '"' << c.text << "\" gave " << FormatVersion(ParseVersion(c.text));
    }
}

TEST(VersionTest, CompareVersionIsFieldByFieldUnsigned) {
    struct Case {
        std::string a, b;
        int expected;
    };
    const Case cases[] = {
        {"1.6.5.2282", "1.6.5.2288", -1},
        {"1.10.0.0", "1.9.0.0", 1},  // numbers, not text
        {"1.6", "0.0.1.7", -1},
        {"1.6", "0.0.0.9", 1},
        {"40000.0.0.0", "1.0.0.0", 1},
        {"65535.0.0.0", "32767.65535.65535.65535", 1},
        {"0.0.0.65535", "0.0.1.0", -1},
        {"0.0.40000.0", "0.0.1.65535", 1},
        {"", "0", 0},
        {"1.6.5.2288", "1.6.5.2288.7", 0},
        {"1.6.5.2288", "1.6.5.2288", 0},
        {"2.0.0.0", "1.65535.65535.65535", 1},
    };
    for (const Case& c : cases) {
        VersionValue a = ParseVersion(c.a);
        VersionValue b = ParseVersion(c.b);
        EXPECT_EQ(CompareVersion(a, b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(CompareVersion(b, a), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(VersionTest, FormatVersionPrintsUnsignedFieldsAndRoundTrips) {
    struct Case {
        VersionValue value;
        std::string text;
    };
    const Case cases[] = {
        {V(1, 6, 5, 2288), "1.6.5.2288"},
        {V(0, 0, 0, 0), "0.0.0.0"},
        {V(65535, 65535, 65535, 65535), "65535.65535.65535.65535"},
        {V(40000, 32768, 1, 0), "40000.32768.1.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatVersion(c.value), c.text);
        EXPECT_EQ(ParseVersion(c.text), c.value) << c.text;
    }
}

}  // namespace
