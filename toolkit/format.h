// The one formatter for every format text that the server gives us (the
// window's description, the progress line, the cancel question). It writes
// what the platform's wvsprintfA writes into its 1024-byte buffer for the
// formats we support, and it never reads an argument that is not there: a
// server-given format must not be able to crash the program or leak memory.
//
// Supported ("the contract"), as in the wsprintf family:
//   %[-][0][width][.precision]s   a text; precision is the most bytes taken
//                                 from it, in whole characters (0 or none:
//                                 all of it)
//   %[-][0][width][.precision]d   a signed 32-bit number; precision is the
//                                 least characters written, sign included
//   %ld and %hs                   the same as %d and %s
//   %%                            one '%'
// '-' aligns left within the width; '0' pads a number with zeros (a text
// with blanks, as the platform does). Widths and precisions count bytes of
// the text in GBK, the encoding the platform sees.
//
// Outside the contract the platform would read arguments that do not exist
// or print what it finds in them; here such a conversion is copied as it
// stands: any conversion other than s and d, the '#' flag, size prefixes
// other than the two above, a conversion past the last argument and one
// whose argument is of the other kind. Each conversion ending in s or d
// uses up one argument, filled or not, so the arguments after it keep their
// places.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kelto {

struct FormatArg {
    enum class Kind { Text, Int };
    Kind kind = Kind::Int;
    std::string_view text;  // UTF-8, not owned; read up to its first NUL
    int32_t number = 0;
};

FormatArg TextArg(std::string_view text);
FormatArg IntArg(int32_t number);

// The most bytes a formatted text may take in GBK: the platform's buffer
// less its terminating NUL.
inline constexpr size_t kFormatTextLimit = 1023;

// The format filled from args in order. The format ends at its first NUL. A
// longer result is cut at kFormatTextLimit GBK bytes (one per ASCII
// character, two per other one) and never inside a character.
std::string FormatText(std::string_view format, std::span<const FormatArg> args);

}  // namespace kelto
