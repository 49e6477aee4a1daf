// Links from the configuration that the window opens in a browser.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// The page a link opens: an http:// or https:// URL (scheme in any case)
// as it stands, a link written without a scheme ("www.example.com/page",
// "host:8080/x") as an http:// one. The text comes from the server: another
// scheme (file:, javascript:, ms-settings:), a text that starts with '-',
// '/', '\' or a blank, one with a control character, or a scheme with no
// host is no web page and is not started: nullopt.
std::optional<std::string> WebPageUrl(std::string_view link);

inline bool IsWebLink(std::string_view link) {
    return WebPageUrl(link).has_value();
}

// A browser's start for one URL, made from its open command as the
// registry holds it ("\"C:\\...\\firefox.exe\" -osint -url \"%1\"").
struct BrowserStart {
    std::string exe;         // the program, without quotes
    std::string parameters;  // what follows it, the URL as one quoted argument
};

// The URL takes the place of %1 or %L (quoted there or not); a command that
// names neither gets it at the end. %* and other placeholders go. nullopt
// when the command names no program.
std::optional<BrowserStart> BrowserStartFor(std::string_view openCommand, std::string_view url);

// Whether the keyboard reaches a link: it has a text to see and opens a
// web page.
bool TakesKeyboardFocus(std::string_view text, std::string_view url);

// The link the keyboard focus goes to from current (0 none, 1 or 2) with
// Tab, or Shift+Tab when backwards, among the links that take it, round and
// round: from none to the first (backwards the last); 0 when none takes it.
int NextFocusedLink(int current, bool takes1, bool takes2, bool backwards);

}  // namespace kelto
