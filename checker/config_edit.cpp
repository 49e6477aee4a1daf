#include "checker/config_edit.h"

#include <optional>
#include <vector>

#include "config/config_signature.h"
#include "toolkit/text.h"

namespace kelto {

namespace {

constexpr std::string_view kNewLineEnd = "\r\n";

struct TextLine {
    std::string_view body;
    std::string_view end;  // CR LF, LF, CR, or empty for a last line without one
};

// Lines as the INI reader splits them: at CR LF, lone LF or lone CR.
std::vector<TextLine> SplitTextLines(std::string_view text) {
    std::vector<TextLine> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        size_t next = end;
        if (end < text.size()) {
            next += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        }
        lines.push_back({text.substr(pos, end - pos), text.substr(end, next - end)});
        pos = next;
    }
    return lines;
}

std::string_view LeftTrimmed(std::string_view line) {
    size_t first = line.find_first_not_of(" \t\v\f");
    return first == std::string_view::npos ? std::string_view() : line.substr(first);
}

// The section a header line starts; nullopt for any other line.
std::optional<std::string_view> HeaderName(std::string_view line) {
    line = LeftTrimmed(line);
    if (!line.starts_with('[')) {
        return std::nullopt;
    }
    line.remove_prefix(1);
    return TrimBlanks(line.substr(0, line.find(']')));
}

// The key of an entry line; nullopt for blank lines, comments and headers.
std::optional<std::string_view> EntryKey(std::string_view line) {
    line = LeftTrimmed(line);
    if (line.empty() || line.front() == ';' || line.front() == '[') {
        return std::nullopt;
    }
    return TrimBlanks(line.substr(0, line.find('=')));
}

std::string JoinLines(const std::vector<TextLine>& lines) {
    std::string text;
    for (const TextLine& line : lines) {
        text.append(line.body).append(line.end);
    }
    return text;
}

}  // namespace

std::string SetConfigValue(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value) {
    std::vector<TextLine> lines = SplitTextLines(text);
    const std::string entry = std::string(key) + "=" + std::string(value);
    size_t start = 0;
    while (start < lines.size() &&
           !EqualsIgnoreAsciiCase(HeaderName(lines[start].body).value_or(""), section)) {
        ++start;
    }
    if (start == lines.size()) {
        std::string out(text);
        out += !lines.empty() && lines.back().end.empty() ? kNewLineEnd : "";
        return out + "[" + std::string(section) + "]\r\n" + entry + "\r\n";
    }
    size_t lastFilled = start;
    std::string replaced;
    for (size_t i = start + 1; i < lines.size() && !HeaderName(lines[i].body); ++i) {
        std::optional<std::string_view> name = EntryKey(lines[i].body);
        if (name && EqualsIgnoreAsciiCase(*name, key)) {
            size_t eq = lines[i].body.find('=');
            replaced = eq == std::string_view::npos
                           ? std::string(lines[i].body) + "=" + std::string(value)
                           : std::string(lines[i].body.substr(0, eq + 1)) + std::string(value);
            lines[i].body = replaced;
            return JoinLines(lines);
        }
        lastFilled = TrimBlanks(lines[i].body).empty() ? lastFilled : i;
    }
    if (lines[lastFilled].end.empty()) {
        lines[lastFilled].end = kNewLineEnd;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastFilled) + 1,
                 TextLine{entry, kNewLineEnd});
    return JoinLines(lines);
}

std::string WithoutConfigSignature(std::string_view text) {
    std::vector<TextLine> lines = SplitTextLines(text);
    std::erase_if(
        lines, [](const TextLine& line) { return line.body.starts_with(kConfigSignaturePrefix); });
    if (!lines.empty() && lines.back().end.empty()) {
        lines.back().end = kNewLineEnd;
    }
    return JoinLines(lines);
}

}  // namespace kelto
