// Downloader version texts ("1.6.5.2288") and their comparison.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelto {

struct VersionValue {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t release = 0;
    uint16_t build = 0;
    friend bool operator==(const VersionValue&, const VersionValue&) = default;
};

// Version text of "no Downloader installed".
inline constexpr std::string_view kNoVersion = "0";

// Pieces between dots fill the fields from the right ("1.6" is 0.0.1.6); a
// piece above 65535 carries into the field before it, a negative one borrows.
VersionValue ParseVersion(std::string_view text);

// -1, 0 or 1 as a is lower than, equal to or higher than b.
int CompareVersion(const VersionValue& a, const VersionValue& b);

// "%d.%d.%d.%d" of the four fields.
std::string FormatVersion(const VersionValue& v);

}  // namespace kelto
