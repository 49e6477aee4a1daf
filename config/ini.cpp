#include "config/ini.h"

#include "toolkit/text.h"

namespace kelto {

namespace {

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

IniLine ParseEntry(std::string_view line) {
    IniLine entry;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        entry.key = TrimBlanks(line);
        return entry;
    }
    entry.key = TrimBlanks(line.substr(0, eq));
    entry.value = CutToGbkSize(Unquoted(TrimBlanks(line.substr(eq + 1))), kIniValueLimit).text;
    entry.hasValue = true;
    return entry;
}

// Calls fn with each line (without its end) of the text; lines end at CR LF,
// lone LF or lone CR, and a NUL ends its line early.
template <typename Fn>
void ForEachLine(std::string_view text, Fn fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of(std::string_view("\r\n", 2), pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? end : end - pos);
        fn(line.substr(0, line.find('\0')));
        if (end == std::string_view::npos) {
            return;
        }
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
    }
}

std::string_view SkipLeadingBlanks(std::string_view line) {
    size_t first = line.find_first_not_of(" \t\v\f\r\n");
    return first == std::string_view::npos ? std::string_view() : line.substr(first);
}

const IniLine* FindLine(const IniDocument& doc, std::string_view section, std::string_view key) {
    const IniSection* s = FindIniSection(doc, section);
    if (!s) {
        return nullptr;
    }
    for (const IniLine& line : s->lines) {
        if (EqualsIgnoreAsciiCase(line.key, key)) {
            return &line;
        }
    }
    return nullptr;
}

std::string ListingEntry(const IniLine& line) {
    return line.hasValue ? line.key + "=" + line.value : line.key;
}

}  // namespace

IniDocument ParseIni(std::string_view utf8Text) {
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (utf8Text.starts_with(kUtf8Bom)) {
        utf8Text.remove_prefix(kUtf8Bom.size());
    }
    IniDocument doc;
    IniSection* current = nullptr;  // entries before the first header are dropped
    ForEachLine(utf8Text, [&](std::string_view line) {
        line = SkipLeadingBlanks(line);
        if (line.empty() || line.front() == ';') {
            return;
        }
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            name = TrimBlanks(name.substr(0, name.find(']')));
            current = &doc.sections.emplace_back();
            current->name = name;
            return;
        }
        if (current) {
            current->lines.push_back(ParseEntry(line));
        }
    });
    return doc;
}

// The platform's INI service reads only the first section of a name, and
// files written for it may rely on that: a repeated header hides its keys.
const IniSection* FindIniSection(const IniDocument& doc, std::string_view section) {
    for (const IniSection& s : doc.sections) {
        if (EqualsIgnoreAsciiCase(s.name, section)) {
            return &s;
        }
    }
    return nullptr;
}

std::optional<std::string> IniReadString(const IniDocument& doc, std::string_view section,
                                         std::string_view key) {
    const IniLine* line = FindLine(doc, section, key);
    if (!line || !line->hasValue) {
        return std::nullopt;
    }
    return line->value;
}

std::optional<int> IniReadInt(const IniDocument& doc, std::string_view section,
                              std::string_view key) {
    std::optional<std::string> text = IniReadString(doc, section, key);
    if (!text) {
        return std::nullopt;
    }
    return ParseLeadingInt(*text);
}

std::vector<std::string> IniSectionEntries(const IniDocument& doc, std::string_view section) {
    std::vector<std::string> entries;
    const IniSection* s = FindIniSection(doc, section);
    if (!s) {
        return entries;
    }
    size_t used = 1;  // the listing's final terminator
    for (const IniLine& line : s->lines) {
        std::string entry = ListingEntry(line);
        size_t cost = GbkSize(entry) + 1;
        if (used + cost > kIniSectionLimit) {
            break;
        }
        used += cost;
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace kelto
