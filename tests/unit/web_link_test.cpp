#include "ui/web_link.h"

#include <gtest/gtest.h>

using namespace kelto;

TEST(WebLinkTest, OnlyWebPagesReachTheBrowser) {
    const struct {
        const char* link;
        const char* opened;  // nullptr: refused
    } cases[] = {
        {"http://www.example.com/cert", "http://www.example.com/cert"},
        {"HTTPS://example.com", "HTTPS://example.com"},
        {"http://example.com/a b\"c", "http://example.com/a b\"c"},
        {"www.example.com/page", "http://www.example.com/page"},
        {"example.com:8080/x", "http://example.com:8080/x"},
        {"http://", nullptr},  // no host at all
        {"http:///etc", nullptr},
        {"http:example.com", nullptr},
        {"", nullptr},
        {"file:///C:/Windows/System32/calc.exe", nullptr},
        {"javascript:alert(1)", nullptr},
        {"ms-settings:privacy", nullptr},
        {"C:\\evil.exe", nullptr},
        {"-nohome http://example.com", nullptr},
        {"/c calc", nullptr},
        {"\\\\server\\share\\x.exe", nullptr},
        {" http://example.com", nullptr},
        {"http://example.com/\r\nx", nullptr},
    };
    for (const auto& c : cases) {
        std::optional<std::string> url = WebPageUrl(c.link);
        EXPECT_EQ(url.value_or("<refused>"), c.opened ? c.opened : "<refused>") << c.link;
    }
}

TEST(WebLinkTest, BrowserStartTakesTheUrlAsOneArgument) {
    const struct {
        const char* command;
        const char* exe;
        const char* parameters;
    } cases[] = {
        {"\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\" -osint -url \"%1\"",
         "C:\\Program Files\\Mozilla Firefox\\firefox.exe", "-osint -url \"http://h/a b\\\"c\""},
        {"\"C:\\b\\chrome.exe\" --single-argument %1", "C:\\b\\chrome.exe",
         "--single-argument \"http://h/a b\\\"c\""},
        {"C:\\Program Files\\Internet Explorer\\iexplore.exe %1 %*",
         "C:\\Program Files\\Internet Explorer\\iexplore.exe", "\"http://h/a b\\\"c\" "},
        {"\"C:\\w\\winebrowser.exe\" -nohome", "C:\\w\\winebrowser.exe",
         "-nohome \"http://h/a b\\\"c\""},
        {"C:\\w\\browser.exe", "C:\\w\\browser.exe", "\"http://h/a b\\\"c\""},
        {"\"C:\\b\\edge.exe\" --x \"%L\" \"%2\"", "C:\\b\\edge.exe", "--x \"http://h/a b\\\"c\" "},
    };
    for (const auto& c : cases) {
        std::optional<BrowserStart> start = BrowserStartFor(c.command, "http://h/a b\"c");
        ASSERT_TRUE(start) << c.command;
        EXPECT_EQ(start->exe, c.exe) << c.command;
        EXPECT_EQ(start->parameters, c.parameters) << c.command;
    }
    EXPECT_FALSE(BrowserStartFor("", "http://h/"));
    EXPECT_FALSE(BrowserStartFor("\"C:\\unclosed.exe %1", "http://h/"));
}
