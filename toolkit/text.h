// Small text helpers of the portable core. Text is UTF-8 everywhere inside the
// program; conversions to UTF-16 and code pages happen in text_win.h only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

char AsciiLower(char c);
std::string AsciiLowered(std::string_view s);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
std::string_view TrimBlanks(std::string_view s);

// Reads an optional '+' or '-' and then decimal digits up to the first other
// character; no digits give 0. Unlike atoi, leading blanks are not skipped
// (a blank is such an other character), and the result saturates at the
// int32 range instead of overflowing.
int32_t ParseLeadingInt(std::string_view s);

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);

// Length of the UTF-8 sequence starting at s[pos]; a byte that starts no
// valid sequence counts as a character of its own, so garbage still advances.
size_t Utf8CharLength(std::string_view s, size_t pos);

// GBK bytes of the character that starts with lead.
inline size_t GbkCharSize(char lead) {
    return static_cast<unsigned char>(lead) < 0x80 ? 1 : 2;
}

// Bytes a text takes in GBK, the encoding of the configuration files and of
// the platform's text buffers: one per ASCII character, two per other
// character. The limits of those buffers count these.
size_t GbkSize(std::string_view utf8);

struct GbkCut {
    std::string_view text;  // whole characters only
    size_t size = 0;        // its GBK bytes
};

// The longest prefix of whole characters that takes at most limit GBK bytes.
GbkCut CutToGbkSize(std::string_view utf8, size_t limit);

// Splits at every occurrence of sep; empty pieces stay.
std::vector<std::string_view> SplitText(std::string_view s, char sep);

}  // namespace kelto
