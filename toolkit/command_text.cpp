#include "toolkit/command_text.h"

#include <algorithm>

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

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The name of an entry; those of the drives' current folders ("=C:=C:\x")
// start with their '='.
std::string_view EntryName(std::string_view entry) {
    return entry.substr(0, entry.find('=', 1));
}

// <0, 0 or >0 as a comes before, with or after b, case ignored.
int CompareNames(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return Lower(a[i]) < Lower(b[i]) ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void SetEntry(std::vector<std::string>& entries, std::string_view name, std::string_view value) {
    // Every spelling of the name goes, wherever an unsorted block has it.
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& entry) {
                                     return CompareNames(EntryName(entry), name) == 0;
                                 }),
                  entries.end());
    auto at = entries.begin();
    while (at != entries.end() && CompareNames(EntryName(*at), name) < 0) {
        ++at;
    }
    entries.insert(at, std::string(name) + "=" + std::string(value));
}

}  // namespace

std::vector<std::string> EnvironmentWithTemp(std::vector<std::string> entries,
                                             std::string_view folder) {
    SetEntry(entries, "TEMP", folder);
    SetEntry(entries, "TMP", folder);
    return entries;
}

}  // namespace kelto
