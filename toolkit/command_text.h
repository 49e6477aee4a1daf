// Command lines for the programs the launcher starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// text as one argument, the way CommandLineToArgvW and the C runtimes split
// a command line: in double quotes, a quote inside as \", the backslashes
// before a quote or the closing one doubled. Blanks and quotes in it never
// make a second argument.
std::string QuoteArgument(std::string_view text);

// The quoted program path, one blank and the parameters unchanged: " /S"
// reaches the program with its own leading blank.
std::string CommandLineOf(std::string_view exe, std::string_view parameters);

// The entries of an environment block ("NAME=value", as
// GetEnvironmentStrings lists them) with TMP and TEMP set to folder: each
// replaced where present, whatever the case of its name, and otherwise
// added where the block's order (names compared without case) puts it.
std::vector<std::string> EnvironmentWithTemp(std::vector<std::string> entries,
                                             std::string_view folder);

}  // namespace kelto
