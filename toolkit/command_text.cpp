#include "toolkit/command_text.h"

namespace kelto {

std::string QuoteArgument(std::string_view text) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each one is doubled
        // and the quote is escaped by one more.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

std::string CommandLineOf(std::string_view exe, std::string_view parameters) {
    return QuoteArgument(exe) + " " + std::string(parameters);
}

}  // namespace kelto
