// Small text helpers of the portable core. Text is UTF-8 everywhere inside the
// program; conversions to UTF-16 and code pages happen in text_win.h only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

char AsciiLower(char c);
std::string AsciiLowered(std::string_view s);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
bool StartsWith(std::string_view s, std::string_view prefix);
std::string_view TrimBlanks(std::string_view s);

// Reads an optional '+' or '-' and then decimal digits up to the first other
// character, like the C runtime's atoi, but saturating at the int32 range
// instead of overflowing. No digits give 0.
int32_t ParseLeadingInt(std::string_view s);

// Splits at every occurrence of sep; empty pieces stay.
std::vector<std::string_view> SplitText(std::string_view s, char sep);
