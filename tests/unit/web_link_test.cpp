#include "ui/web_link.h"

#include <gtest/gtest.h>

using namespace kelto;

TEST(WebLinkTest, OnlyHttpAndHttpsReachTheBrowser) {
    const struct {
        const char* url;
        bool opened;
    } cases[] = {
        {"http://www.example.com/cert", true},
        {"HTTPS://example.com", true},
        {"http://", false},  // no host at all
        {"", false},
        {"file:///C:/Windows/System32/calc.exe", false},
        {"javascript:alert(1)", false},
        {"-nohome http://example.com", false},
        {" http://example.com", false},
        {"C:\\evil.exe", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsWebLink(c.url), c.opened) << c.url;
    }
}
