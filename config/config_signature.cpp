#include "config/config_signature.h"

#include <cstdio>

namespace kelto {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = y / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The number written by exactly count decimal digits at text[at].
std::optional<int> Digits(std::string_view text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

ConfigFileParts SplitConfigSignature(std::string_view file) {
    std::string_view body = file;
    if (body.ends_with("\r\n")) {
        body.remove_suffix(2);
    }
    const size_t lineStart = body.rfind('\n') == std::string_view::npos ? 0 : body.rfind('\n') + 1;
    std::string_view line = body.substr(lineStart);
    if (!line.starts_with(kConfigSignaturePrefix) ||
        line.find_first_of("\r\n") != std::string_view::npos) {
        return {file, {}};
    }
    line.remove_prefix(kConfigSignaturePrefix.size());
    return {file.substr(0, lineStart), line};
}

std::string ConfigSignedText(std::string_view name, std::string_view signedBytes) {
    std::string text = "kelto2-config ";
    text.append(name).append("\n").append(signedBytes);
    return text;
}

std::optional<int64_t> ParseUtcTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    auto y = Digits(text, 0, 4), mo = Digits(text, 5, 2), d = Digits(text, 8, 2);
    auto h = Digits(text, 11, 2), mi = Digits(text, 14, 2), s = Digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *y < 1970 || *mo < 1 || *mo > 12 || *d < 1 ||
        *d > DaysInMonth(*y, *mo) || *h > 23 || *mi > 59 || *s > 59) {
        return std::nullopt;
    }
    return DaysFromCivil(*y, static_cast<unsigned>(*mo), static_cast<unsigned>(*d)) *
               kSecondsPerDay +
           *h * 3600 + *mi * 60 + *s;
}

std::string FormatUtcTime(int64_t seconds) {
    // Civil date from days since 1970 (the inverse of DaysFromCivil).
    const int64_t days = (seconds >= 0 ? seconds : seconds - kSecondsPerDay + 1) / kSecondsPerDay;
    const int64_t secondOfDay = seconds - days * kSecondsPerDay;
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), m, d, static_cast<long long>(secondOfDay / 3600),
                  static_cast<long long>(secondOfDay / 60 % 60),
                  static_cast<long long>(secondOfDay % 60));
    return text;
}

std::optional<int> ParseRolloutShare(std::string_view text) {
    if (text.empty() || text.size() > 3) {
        return std::nullopt;
    }
    std::optional<int> share = Digits(text, 0, text.size());
    if (!share || *share > kFullRollout) {
        return std::nullopt;
    }
    return share;
}

std::string RolloutStatement(std::string_view machineGuid, std::string_view latest) {
    std::string text = "kelto2-rollout ";
    text.append(machineGuid).append(" ").append(latest);
    return text;
}

int RolloutBucket(const std::array<uint8_t, 32>& statementSha256) {
    const uint32_t first = uint32_t{statementSha256[0]} << 24 | uint32_t{statementSha256[1]} << 16 |
                           uint32_t{statementSha256[2]} << 8 | uint32_t{statementSha256[3]};
    return static_cast<int>(first % 100);
}

}  // namespace kelto
