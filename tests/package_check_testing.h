// Encoders for the tests of the release checks: what an operator's tools
// write (lower-case hex, padded base64, the minimal DER of an ECDSA
// signature), so that tests can build values the launcher must accept.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/package_check.h"

namespace kelto::testing {

inline std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = uint32_t{bytes[i]} << 16;
        group |= i + 1 < bytes.size() ? uint32_t{bytes[i + 1]} << 8 : 0;
        group |= i + 2 < bytes.size() ? bytes[i + 2] : 0;
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
    }
    return text;
}

// The minimal DER of r || s: what a strict reader accepts is exactly this.
inline std::vector<uint8_t> SignatureDer(const EcdsaSignature& rs) {
    std::vector<uint8_t> body;
    for (size_t half = 0; half < 2; ++half) {
        size_t first = half * 32;
        while (first < half * 32 + 31 && rs[first] == 0) {
            ++first;
        }
        std::vector<uint8_t> number(rs.begin() + first, rs.begin() + half * 32 + 32);
        if (number[0] & 0x80) {
            number.insert(number.begin(), 0);
        }
        body.push_back(0x02);
        body.push_back(static_cast<uint8_t>(number.size()));
        body.insert(body.end(), number.begin(), number.end());
    }
    body.insert(body.begin(), {0x30, static_cast<uint8_t>(body.size())});
    return body;
}

template <size_t N>
inline std::string Hex(const std::array<uint8_t, N>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

}  // namespace kelto::testing
