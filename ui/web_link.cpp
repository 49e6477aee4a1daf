#include "ui/web_link.h"

#include "toolkit/command_text.h"
#include "toolkit/text.h"

namespace kelto {

namespace {

bool IsAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsSchemeChar(char c) {
    return IsAsciiAlpha(c) || IsAsciiDigit(c) || c == '+' || c == '-' || c == '.';
}

// The length of a leading "scheme:", 0 when there is none. "host:8080/x"
// names a port, not a scheme.
size_t SchemeLength(std::string_view link) {
    if (link.empty() || !IsAsciiAlpha(link[0])) {
        return 0;
    }
    size_t colon = 1;
    while (colon < link.size() && IsSchemeChar(link[colon])) {
        ++colon;
    }
    if (colon == link.size() || link[colon] != ':') {
        return 0;
    }
    size_t digits = colon + 1;
    while (digits < link.size() && IsAsciiDigit(link[digits])) {
        ++digits;
    }
    bool port = digits > colon + 1 && (digits == link.size() || link[digits] == '/' ||
                                       link[digits] == '?' || link[digits] == '#');
    return port ? 0 : colon + 1;
}

bool HasControlChar(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> WebPageUrl(std::string_view link) {
    if (link.empty() || HasControlChar(link) || link[0] == '-' || link[0] == '/' ||
        link[0] == '\\' || link[0] == ' ') {
        return std::nullopt;
    }
    size_t scheme = SchemeLength(link);
    if (scheme == 0) {
        // A host name comes first; a path or a drive letter does not.
        if (!IsAsciiAlpha(link[0]) && !IsAsciiDigit(link[0])) {
            return std::nullopt;
        }
        return "http://" + std::string(link);
    }
    std::string_view name = link.substr(0, scheme);
    std::string_view rest = link.substr(scheme);
    bool web = EqualsIgnoreAsciiCase(name, "http:") || EqualsIgnoreAsciiCase(name, "https:");
    if (!web || rest.substr(0, 2) != "//" || rest.size() == 2 || rest[2] == '/') {
        return std::nullopt;
    }
    return std::string(link);
}

std::optional<BrowserStart> BrowserStartFor(std::string_view openCommand, std::string_view url) {
    std::string_view command = TrimBlanks(openCommand);
    BrowserStart start;
    size_t end = 0;
    if (!command.empty() && command[0] == '"') {
        end = command.find('"', 1);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        start.exe = std::string(command.substr(1, end - 1));
        ++end;
    } else {
        // Unquoted, a path with blanks ends at its ".exe".
        std::string lowered = AsciiLowered(command);
        size_t exe = lowered.find(".exe");
        while (exe != std::string::npos && exe + 4 < lowered.size() && lowered[exe + 4] != ' ') {
            exe = lowered.find(".exe", exe + 1);
        }
        end = exe != std::string::npos ? exe + 4 : command.find(' ');
        end = end == std::string_view::npos ? command.size() : end;
        start.exe = std::string(command.substr(0, end));
    }
    if (start.exe.empty()) {
        return std::nullopt;
    }
    const std::string quotedUrl = QuoteArgument(url);
    std::string_view rest = TrimBlanks(command.substr(end));
    std::string& out = start.parameters;
    bool placed = false;
    for (size_t i = 0; i < rest.size();) {
        // "%1" and %1 alike: the URL brings its own quotes.
        bool quoted =
            rest[i] == '"' && i + 3 < rest.size() && rest[i + 1] == '%' && rest[i + 3] == '"';
        size_t at = quoted ? i + 1 : i;
        char which = rest[at] == '%' && at + 1 < rest.size() ? rest[at + 1] : '\0';
        if (which == '1' || which == 'l' || which == 'L') {
            out += quotedUrl;
            placed = true;
        } else if (which != '*' && !IsAsciiDigit(which)) {
            out += rest[i++];
            continue;
        }
        i = quoted ? i + 4 : i + 2;
    }
    if (!placed) {
        out += out.empty() ? quotedUrl : " " + quotedUrl;
    }
    return start;
}

bool TakesKeyboardFocus(std::string_view text, std::string_view url) {
    return !text.empty() && IsWebLink(url);
}

int NextFocusedLink(int current, bool takes1, bool takes2, bool backwards) {
    if (takes1 != takes2) {
        return takes1 ? 1 : 2;
    }
    if (!takes1) {
        return 0;
    }
    if (current == 1 || current == 2) {
        return 3 - current;
    }
    return backwards ? 2 : 1;
}

}  // namespace kelto
