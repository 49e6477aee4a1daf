#include "ui/web_link.h"

#include <gtest/gtest.h>

using namespace kelto;

TEST(WebLinkTest, OnlyWebPagesReachTheBrowser) {
    const struct {
        const char* link;
        const char* opened;  // "": refused
    } cases[] = {
        {"http://www.example.com/a b\"c", "http://www.example.com/a b\"c"},
        {"HTTPS://example.com", "HTTPS://example.com"},
        {"www.example.com/page", "http://www.example.com/page"},
        {"example.com:8080/x", "http://example.com:8080/x"},
        {"http://", ""},  // no host at all
        {"http:example.com", ""},
        {"", ""},
        {"file:///C:/Windows/System32/calc.exe", ""},
        {"javascript:alert(1)", ""},
        {"ms-settings:privacy", ""},
        {"C:\\evil.exe", ""},
        {"-nohome http://example.com", ""},
        {"/c calc", ""},
        {"\\\\server\\share\\x.exe", ""},
        {" http://example.com", ""},
        {"http://example.com/\r\nx", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WebPageUrl(c.link).value_or(""), c.opened) << c.link;
    }
}

TEST(WebLinkTest, BrowserStartTakesTheUrlAsOneArgument) {
    const struct {
        const char* command;
        const char* exe;
        const char* parameters;
    } cases[] = {
        {"\"C:\\Mozilla Firefox\\firefox.exe\" -osint -url \"%1\"",
         "C:\\Mozilla Firefox\\firefox.exe", "-osint -url \"http://h/a b\\\"c\""},
        {"C:\\Internet Explorer\\iexplore.exe %1 %*", "C:\\Internet Explorer\\iexplore.exe",
         "\"http://h/a b\\\"c\" "},
        {"\"C:\\w\\winebrowser.exe\" -nohome", "C:\\w\\winebrowser.exe",
         "-nohome \"http://h/a b\\\"c\""},
        {"\"C:\\b\\edge.exe\" --x %L \"%2\"", "C:\\b\\edge.exe", "--x \"http://h/a b\\\"c\" "},
    };
    for (const auto& c : cases) {
        std::optional<BrowserStart> start = BrowserStartFor(c.command, "http://h/a b\"c");
        ASSERT_TRUE(start) << c.command;
        EXPECT_EQ(start->exe + "|" + start->parameters, std::string(c.exe) + "|" + c.parameters);
    }
    EXPECT_FALSE(BrowserStartFor("\"C:\\unclosed.exe %1", "http://h/"));
}

TEST(WebLinkTest, KeyboardFocusGoesRoundTheLinksThatOpenPages) {
    EXPECT_TRUE(TakesKeyboardFocus("认证", "www.example.com"));
    EXPECT_FALSE(TakesKeyboardFocus("", "http://example.com/"));
    EXPECT_FALSE(TakesKeyboardFocus("calc", "file:///C:/windows/system32/calc.exe"));
    const struct {
        int current;
        bool takes1, takes2, backwards;
        int next;
    } cases[] = {
        {0, true, true, false, 1},   {1, true, true, false, 2}, {2, true, true, false, 1},
        {0, true, true, true, 2},    {2, true, true, true, 1},  {0, false, true, false, 2},
        {2, false, true, false, 2},  {1, true, false, true, 1}, {0, false, false, false, 0},
        {1, false, false, false, 0}, {7, true, true, false, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NextFocusedLink(c.current, c.takes1, c.takes2, c.backwards), c.next)
            << c.current << c.takes1 << c.takes2 << c.backwards;
    }
}
