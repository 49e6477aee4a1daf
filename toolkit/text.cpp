#include "toolkit/text.h"

#include <algorithm>
#include <limits>

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, std::min(s.size(), prefix.size())) == prefix;
}

static bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

int32_t ParseLeadingInt(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the int32 range, so a
    // thousand digits cost nothing and never overflow.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + (s[i] - '0'), kLimit);
    }
    if (negative) {
        return static_cast<int32_t>(-magnitude);  // -2^31 fits
    }
    return static_cast<int32_t>(std::min(magnitude, kLimit - 1));
}

std::vector<std::string_view> SplitText(std::string_view s, char sep) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(sep, start);
        if (end == std::string_view::npos) {
            pieces.push_back(s.substr(start));
            return pieces;
        }
        pieces.push_back(s.substr(start, end - start));
        start = end + 1;
    }
}
