// The launcher's command line: splitting, the test switch and the base URL.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Splits at runs of characters 1..32 (an empty "" pair between arguments
// belongs to such a run). A double quote opens a stretch up to the next one,
// blanks included; an argument both starting and ending with a quote (length
// two or more) loses those two quotes. Element 0 is the program's own path.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// True when an argument after the program path is "-" or "/" followed by name,
// letters compared without regard to case.
bool CommandLineHasSwitch(const std::vector<std::string>& args, std::string_view name);

// The first argument when it begins with "http://" or "https://" (exactly,
// lower case), else the empty text.
std::string BaseUrlArgument(const std::vector<std::string>& args);

}  // namespace kelto
