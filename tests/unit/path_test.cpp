#include "toolkit/path.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(FinalPath, ShortFormWhereItCarriesThePath) {
    const std::string deep = "C:\\" + std::string(300, 'd');
    struct Case {
        std::string reported;
        std::string expected;
    };
    const Case cases[] = {
        {"\\\\?\\C:\\Users\\u\\Temp\\x", "C:\\Users\\u\\Temp\\x"},
        {"\\\\?\\UNC\\host\\share\\x", "\\\\host\\share\\x"},
        {"\\\\?\\" + deep, "\\\\?\\" + deep},
        {"\\\\?\\Volume{0a}\\x", "\\\\?\\Volume{0a}\\x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathFromFinalPath(c.reported), c.expected) << c.reported;
    }
}

TEST(LongPath, PrefixedFromMaxPathOnAndComparedWithout) {
    const std::string deep = "C:\\" + std::string(300, 'd');
    const std::string share = "\\\\host\\" + std::string(300, 's');
    struct Case {
        std::string path;
        std::string longForm;
        std::string plain;
    };
    const Case cases[] = {
        {"C:\\x", "C:\\x", "C:\\x"},
        {deep, "\\\\?\\" + deep, deep},
        {"\\\\?\\" + deep, "\\\\?\\" + deep, deep},
        {share, "\\\\?\\UNC\\host\\" + std::string(300, 's'), share},
        {"\\\\?\\UNC\\h\\x", "\\\\?\\UNC\\h\\x", "\\\\h\\x"},
        {std::string(300, 'r'), std::string(300, 'r'), std::string(300, 'r')},  // relative
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LongPathForm(c.path), c.longForm) << c.path;
        EXPECT_EQ(WithoutLongPrefix(c.path), c.plain) << c.path;
    }
}

TEST(PathParts, FolderOfAndJoin) {
    EXPECT_EQ(FolderOf("C:\\Users\\u\\mvdown.exe"), "C:\\Users\\u");
    EXPECT_EQ(FolderOf("C:\\mvdown.exe"), "C:\\");  // a root is a folder, "C:" is not
    EXPECT_EQ(FolderOf("mvdown.exe"), "");
    EXPECT_EQ(JoinPath("C:\\", "x"), "C:\\x");
    EXPECT_EQ(JoinPath("C:\\Temp", "x"), "C:\\Temp\\x");
}

TEST(NtPath, EachForm) {
    EXPECT_EQ(NtPathFor("C:\\x"), "\\??\\C:\\x");
    EXPECT_EQ(NtPathFor("\\\\host\\share\\x"), "\\??\\UNC\\host\\share\\x");
    EXPECT_EQ(NtPathFor("\\\\?\\UNC\\host\\x"), "\\??\\UNC\\host\\x");
}

TEST(RunFolderName, OwnNamesOnly) {
    const uint8_t random[kFolderRandomBytes] = {0x00, 0x1f, 0xa0, 0xff, 1, 2,  3,  4,
                                                5,    6,    7,    8,    9, 10, 11, 12};
    const std::string made = RandomFolderName("kelto2-setup-", random);
    EXPECT_EQ(made, "kelto2-setup-001fa0ff0102030405060708090a0b0c");
    struct Case {
        std::string name;
        bool own;
    };
    const Case cases[] = {
        {made, true},
        {"KELTO2-SETUP-001FA0FF0102030405060708090A0B0C", true},
        {"kelto2-setup-0A1B2C3D", true},  // an older launcher's
        {"kelto2-setup-0A1B2C3", false},
        {made + "0", false},
        {"kelto2-setup-0A1B2C3G", false},
        {"other-0A1B2C3D", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsRunFolderName(c.name, "kelto2-setup-"), c.own) << c.name;
    }
}

}  // namespace
