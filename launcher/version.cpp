#include "launcher/version.h"

#include <cstdio>

#include "toolkit/text.h"

namespace kelto {

VersionValue ParseVersion(std::string_view text) {
    std::vector<std::string_view> pieces;
    if (!text.empty()) {
        pieces = SplitText(text, '.');
        // "1.6." has two pieces, not three; "1.6.." still has three.
        if (pieces.size() > 1 && pieces.back().empty()) {
            pieces.pop_back();
        }
    }
    if (pieces.size() > 4) {
        pieces.resize(4);
    }
    // Unsigned arithmetic on purpose: a piece above 65535 carries into the
    // field before it and a negative one borrows from it, wrapping at 64 bits.
    uint64_t value = 0;
    for (std::string_view piece : pieces) {
        int64_t number = ParseLeadingInt(piece);
        value = value * 65536u + static_cast<uint64_t>(number);
    }
    VersionValue v;
    v.major = static_cast<uint16_t>(value >> 48);
    v.minor = static_cast<uint16_t>(value >> 32);
    v.release = static_cast<uint16_t>(value >> 16);
    v.build = static_cast<uint16_t>(value);
    return v;
}

namespace {

int CompareField(uint16_t a, uint16_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

int CompareVersion(const VersionValue& a, const VersionValue& b) {
    if (int c = CompareField(a.major, b.major)) {
        return c;
    }
    if (int c = CompareField(a.minor, b.minor)) {
        return c;
    }
    if (int c = CompareField(a.release, b.release)) {
        return c;
    }
    return CompareField(a.build, b.build);
}

std::string FormatVersion(const VersionValue& v) {
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%d.%d.%d.%d", int{v.major}, int{v.minor}, int{v.release},
                  int{v.build});
    return buf;
}

}  // namespace kelto
