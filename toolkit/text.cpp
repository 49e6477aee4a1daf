#include "toolkit/text.h"

#include <algorithm>
#include <limits>

namespace kelto {

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

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

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

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = AsciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

size_t Utf8CharLength(std::string_view s, size_t pos) {
    auto lead = static_cast<unsigned char>(s[pos]);
    size_t len = lead < 0x80                    ? 1
                 : lead >= 0xF0 && lead <= 0xF4 ? 4
                 : lead >= 0xE0 && lead <= 0xEF ? 3
                 : lead >= 0xC2 && lead <= 0xDF ? 2
                                                : 1;
    if (pos + len > s.size()) {
        return 1;
    }
    for (size_t i = 1; i < len; ++i) {
        if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return len;
}

size_t GbkSize(std::string_view utf8) {
    size_t size = 0;
    for (size_t pos = 0; pos < utf8.size(); pos += Utf8CharLength(utf8, pos)) {
        size += GbkCharSize(utf8[pos]);
    }
    return size;
}

GbkCut CutToGbkSize(std::string_view utf8, size_t limit) {
    GbkCut cut;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t cost = GbkCharSize(utf8[pos]);
        if (cut.size + cost > limit) {
            break;
        }
        cut.size += cost;
        pos += Utf8CharLength(utf8, pos);
    }
    cut.text = utf8.substr(0, pos);
    return cut;
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

}  // namespace kelto
