// Command lines for the programs the launcher starts.
#pragma once

#include <string>
#include <string_view>

namespace kelto {

// text as one argument, the way CommandLineToArgvW and the C runtimes split
// a command line: in double quotes, a quote inside as \", the backslashes
// before a quote or the closing one doubled. Blanks and quotes in it never
// make a second argument.
std::string QuoteArgument(std::string_view text);

// The quoted program path, one blank and the parameters unchanged: " /S"
// reaches the program with its own leading blank.
std::string CommandLineOf(std::string_view exe, std::string_view parameters);

}  // namespace kelto
