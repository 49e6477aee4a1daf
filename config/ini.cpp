#include "config/ini.h"

#include "toolkit/text.h"

namespace {

// Length of the UTF-8 sequence starting at s[pos]; a byte that starts no
// valid sequence counts as a sequence of its own, so garbage still advances.
size_t CodePointLength(std::string_view s, size_t pos) {
    auto lead = static_cast<unsigned char>(s[pos]);
    size_t len = lead < 0x80                    ? 1
                 : lead >= 0xF0 && lead <= 0xF4 ? 4
                 : lead >= 0xE0 && lead <= 0xEF ? 3
                 : lead >= 0xC2 && lead <= 0xDF ? 2
                                                : 1;
    if (pos + len > s.size()) {
        return 1;
    }
    for (size_t i = 1; i < len; ++i) {
        if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return len;
}

// The longest prefix of whole characters that fits in limit GBK bytes.
std::string_view CutToGbkSize(std::string_view s, size_t limit) {
    size_t size = 0;
    size_t pos = 0;
    while (pos < s.size()) {
        size_t cost = static_cast<unsigned char>(s[pos]) < 0x80 ? 1 : 2;
        if (size + cost > limit) {
            break;
        }
        size += cost;
        pos += CodePointLength(s, pos);
    }
    return s.substr(0, pos);
}

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
    entry.value = CutToGbkSize(Unquoted(TrimBlanks(line.substr(eq + 1))), kIniValueLimit);
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
    for (const IniSection& s : doc.sections) {
        if (!EqualsIgnoreAsciiCase(s.name, section)) {
            continue;
        }
        for (const IniLine& line : s.lines) {
            if (EqualsIgnoreAsciiCase(line.key, key)) {
                return &line;
            }
        }
    }
    return nullptr;
}

std::string ListingEntry(const IniLine& line) {
    return line.hasValue ? line.key + "=" + line.value : line.key;
}

}  // namespace

size_t IniEncodedSize(std::string_view utf8Text) {
    size_t size = 0;
    for (size_t pos = 0; pos < utf8Text.size(); pos += CodePointLength(utf8Text, pos)) {
        size += static_cast<unsigned char>(utf8Text[pos]) < 0x80 ? 1 : 2;
    }
    return size;
}

IniDocument ParseIni(std::string_view utf8Text) {
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (StartsWith(utf8Text, kUtf8Bom)) {
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
    size_t used = 1;  // the listing's final terminator
    for (const IniSection& s : doc.sections) {
        if (!EqualsIgnoreAsciiCase(s.name, section)) {
            continue;
        }
        for (const IniLine& line : s.lines) {
            std::string entry = ListingEntry(line);
            size_t cost = IniEncodedSize(entry) + 1;
            if (used + cost > kIniSectionLimit) {
                return entries;
            }
            used += cost;
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}
