#include "checker/config_edit.h"

#include <gtest/gtest.h>

#include <string>

namespace kelto {
namespace {

struct SetCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    const char* value;
    std::string expected;
};

const SetCase kSetCases[] = {
    {"replaces in place, line end kept", "[forceupdate]\r\nlatest=1.0.0.1\n1.6.5.2282=1\r\n",
     "forceupdate", "latest", "1.6.5.2288", "[forceupdate]\r\nlatest=1.6.5.2288\n1.6.5.2282=1\r\n"},
    {"names without case, key as written", "[ForceUpdate]\r\n LATEST = 1\r\n", "forceupdate",
     "latest", "2", "[ForceUpdate]\r\n LATEST =2\r\n"},
    {"the first of a repeated key", "[f]\r\nk=1\r\nk=2\r\n", "f", "k", "3",
     "[f]\r\nk=3\r\nk=2\r\n"},
    {"a bare name gets its value", "[f]\r\n1.6.5.2282\r\n", "f", "1.6.5.2282", "2",
     "[f]\r\n1.6.5.2282=2\r\n"},
    {"added after the section's last line, before blanks", "[f]\r\na=1\r\n\r\n[ui]\r\nb=2\r\n", "f",
     "url", "u", "[f]\r\na=1\r\nurl=u\r\n\r\n[ui]\r\nb=2\r\n"},
    {"a commented-out key is not the key", "[f]\r\n;url=old\r\n", "f", "url", "u",
     "[f]\r\n;url=old\r\nurl=u\r\n"},
    {"only the first section of that name", "[f]\r\na=1\r\n[F]\r\nk=1\r\n", "f", "k", "2",
     "[f]\r\na=1\r\nk=2\r\n[F]\r\nk=1\r\n"},
    {"a header as the last line without its end", "[f]", "f", "k", "v", "[f]\r\nk=v\r\n"},
    {"a missing section goes at the end", "[ui]\r\ncaption=x", "sha256", "1.6.5.2288", "ab",
     "[ui]\r\ncaption=x\r\n[sha256]\r\n1.6.5.2288=ab\r\n"},
    {"an empty file", "", "f", "k", "v", "[f]\r\nk=v\r\n"},
    {"GBK bytes stay as they are",
     "[ui]\r\ncaption=\xc4\xa7\x81\x5b\xb7\r\n[f]\r\n\xd6\xd0=\xce\x5d\r\nk=1\r\n", "f", "k", "2",
     "[ui]\r\ncaption=\xc4\xa7\x81\x5b\xb7\r\n[f]\r\n\xd6\xd0=\xce\x5d\r\nk=2\r\n"},
};

TEST(ConfigEdit, SetConfigValue) {
    for (const SetCase& c : kSetCases) {
        EXPECT_EQ(SetConfigValue(c.text, c.section, c.key, c.value), c.expected) << c.name;
    }
}

TEST(ConfigEdit, WithoutConfigSignature) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"[f]\r\nk=v\r\n;kelto2-signature abc=\r\n", "[f]\r\nk=v\r\n"},
        {"[f]\r\n;kelto2-signature x\r\nk=v\r\n;kelto2-signature y", "[f]\r\nk=v\r\n"},
        {"[f]\r\n;kelto2-signatures\r\n; kelto2-signature x\r\n",
         "[f]\r\n;kelto2-signatures\r\n; kelto2-signature x\r\n"},
        {"[f]\r\nk=\xc4\xa7", "[f]\r\nk=\xc4\xa7\r\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithoutConfigSignature(c.text), c.expected) << c.text;
    }
}

}  // namespace
}  // namespace kelto
