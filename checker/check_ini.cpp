#include <algorithm>
#include <cstdio>
#include <span>
#include <unordered_map>

#include "checker/check_internal.h"
#include "config/config_signature.h"
#include "config/ini.h"
#include "launcher/version.h"
#include "toolkit/format.h"
#include "toolkit/image_decode.h"
#include "toolkit/text.h"
#include "transfer/http.h"
#include "ui/web_link.h"

namespace kelto {

namespace {

// ---- what the launcher reads ----

// Keys that files written like the reference configuration carry and the
// launcher passes over on purpose: not typos.
constexpr std::string_view kIgnoredUiKeys[] = {"border"};

const UiField* FindUiField(std::string_view name) {
    for (const UiField& field : kUiFields) {
        if (EqualsIgnoreAsciiCase(field.key, name)) {
            return &field;
        }
    }
    return nullptr;
}

bool IsIgnoredUiKey(std::string_view name) {
    return std::any_of(std::begin(kIgnoredUiKeys), std::end(kIgnoredUiKeys),
                       [&](std::string_view k) { return EqualsIgnoreAsciiCase(k, name); });
}

bool IsReadSection(std::string_view name) {
    return EqualsIgnoreAsciiCase(name, kUiSection) ||
           std::any_of(std::begin(kListSections), std::end(kListSections),
                       [&](const ListSection& s) { return EqualsIgnoreAsciiCase(s.name, name); });
}

// ---- message helpers ----

// ".png, .jpg or .jpeg"
std::string ImageExtensionsText() {
    std::string text;
    for (size_t i = 0; i < std::size(kImageExtensions); ++i) {
        text += i == 0 ? "" : i + 1 == std::size(kImageExtensions) ? " or " : ", ";
        text += kImageExtensions[i].extension;
    }
    return text;
}

std::string ColorText(ColorValue color) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "#%02x%02x%02x", color & 0xFF, (color >> 8) & 0xFF,
                  (color >> 16) & 0xFF);
    return buf;
}

// Edit distance without regard to ASCII case, for "did you mean".
size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            size_t same = AsciiLower(a[i - 1]) == AsciiLower(b[j - 1]) ? 0 : 1;
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + same});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Suggestion(std::string_view key) {
    constexpr size_t kMaxTypos = 2;
    if (key.size() > 64) {
        return {};  // no key of ours is that long; spare the quadratic cost
    }
    for (const UiField& known : kUiFields) {
        if (EditDistance(key, known.key) <= kMaxTypos) {
            return "; did you mean '" + std::string(known.key) + "'?";
        }
    }
    return {};
}

// ---- values as written ----

bool IsColorText(std::string_view text) {
    return text.size() == 7 && text[0] == '#' &&
           std::all_of(text.begin() + 1, text.end(),
                       [](char ch) { return HexDigitValue(ch) >= 0; });
}

bool IsPlainNumber(std::string_view text, int32_t number) {
    return std::to_string(number) == text;
}

struct FormatArgument {
    FormatArg::Kind kind;
    std::string_view what;
};

constexpr FormatArgument kDescriptionArgs[] = {{FormatArg::Kind::Text, "the game's name"}};
constexpr FormatArgument kProgressArgs[] = {{FormatArg::Kind::Text, "the speed text"},
                                            {FormatArg::Kind::Int, "the remaining seconds"}};

bool AcceptChar(std::string_view s, size_t& pos, char ch) {
    if (pos < s.size() && s[pos] == ch) {
        ++pos;
        return true;
    }
    return false;
}

void SkipDigits(std::string_view s, size_t& pos) {
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        ++pos;
    }
}

// Why the format leaves the safe formatter's contract for these arguments,
// or "" when it keeps to it. The conversions are read as the wsprintf family
// reads them: %[-][#][0][width][.precision][size]type.
std::string FormatContractProblem(std::string_view format, std::span<const FormatArgument> args) {
    size_t next = 0;
    for (size_t pos = 0; pos < format.size(); ++pos) {
        if (format[pos] != '%') {
            continue;
        }
        size_t start = pos++;
        if (AcceptChar(format, pos, '%')) {
            --pos;
            continue;
        }
        AcceptChar(format, pos, '-');
        bool hash = AcceptChar(format, pos, '#');
        AcceptChar(format, pos, '0');
        SkipDigits(format, pos);
        if (AcceptChar(format, pos, '.')) {
            SkipDigits(format, pos);
        }
        size_t sizeStart = pos;
        if (!AcceptChar(format, pos, 'l') && !AcceptChar(format, pos, 'h') &&
            !AcceptChar(format, pos, 'w') && AcceptChar(format, pos, 'I')) {
            std::string_view bits = format.substr(pos, 2);
            pos += bits == "32" || bits == "64" ? 2 : 0;
        }
        std::string_view size = format.substr(sizeStart, pos - sizeStart);
        if (pos >= format.size()) {
            return "'%' at the end is shown as it stands";
        }
        char type = format[pos];
        std::string conversion = Quote(format.substr(start, pos - start + 1));
        if (type != 's' && type != 'd') {
            return conversion + " is not %s or %d; it is shown as it stands";
        }
        if (next >= args.size()) {
            return conversion + " has no argument (the launcher gives " +
                   std::to_string(args.size()) + "); it is shown as it stands";
        }
        const FormatArgument& arg = args[next++];
        bool sizeFits = type == 's' ? size.empty() || size == "h" : size.empty() || size == "l";
        bool kindFits = (type == 's') == (arg.kind == FormatArg::Kind::Text);
        if (!kindFits) {
            return conversion + " stands where the launcher gives " + std::string(arg.what) +
                   "; it is shown as it stands";
        }
        if (hash || !sizeFits) {
            return conversion + " is not a plain %s or %d; it is shown as it stands";
        }
    }
    return {};
}

void CheckUiValue(Checking& c, const std::string& path, const ScannedEntry& e, const UiField& key) {
    std::string name(key.key);
    switch (key.kind) {
        case UiKind::kNumber:
            if (!IsPlainNumber(e.value, ParseLeadingInt(e.value))) {
                Report(c, path, e.line, Severity::kWarning,
                       name + " " + Quote(e.value) + " is not a plain number; the launcher reads " +
                           std::to_string(ParseLeadingInt(e.value)));
            }
            break;
        case UiKind::kColor:
            if (!e.value.empty() && !IsColorText(e.value)) {
                Report(c, path, e.line, Severity::kWarning,
                       name + " " + Quote(e.value) + " is not #rrggbb; the launcher reads it as " +
                           ColorText(parseColor(e.value)));
            }
            break;
        case UiKind::kPicture:
        case UiKind::kKeptPicture:
            if (!e.value.empty() &&
                ImageFormatForExtension(UrlExtension(e.value)) == ImageFormat::Unknown) {
                Report(c, path, e.line, Severity::kError,
                       name + " " + Quote(e.value) + ": its extension " +
                           Quote(UrlExtension(e.value)) + " (from the last '.') is not " +
                           ImageExtensionsText() + ", so the launcher never decodes the picture");
            }
            break;
        case UiKind::kLink:
            if (!e.value.empty() && !IsWebLink(e.value)) {
                Report(c, path, e.line, Severity::kWarning,
                       name + " " + Quote(e.value) +
                           " is not a web page (an http:// or https:// link, or one without a "
                           "scheme); "
                           "the launcher will not open it");
            }
            break;
        case UiKind::kDescription:
        case UiKind::kProgress: {
            bool progress = key.kind == UiKind::kProgress;
            if (progress && e.value.empty()) {
                Report(c, path, e.line, Severity::kWarning,
                       "empty progress format: the status line shows nothing");
                break;
            }
            std::string problem = progress ? FormatContractProblem(e.value, kProgressArgs)
                                           : FormatContractProblem(e.value, kDescriptionArgs);
            if (!problem.empty()) {
                Report(c, path, e.line, Severity::kError,
                       name + " format " + Quote(e.value) + " takes " +
                           (progress ? "one %s then one %d" : "one %s") + ": " + problem);
            }
            break;
        }
        case UiKind::kText:
            break;
    }
}

void CheckForceLevel(Checking& c, const std::string& path, const ScannedEntry& e,
                     std::string_view value) {
    int32_t level = ParseLeadingInt(value);
    if (!IsPlainNumber(value, level)) {
        Report(c, path, e.line, Severity::kError,
               "force level " + Quote(value) + " for " + Quote(e.key) +
                   " is not 0, 1 or 2; the launcher reads " + std::to_string(level));
    } else if (level < 0 || level > 2) {
        Report(c, path, e.line, Severity::kWarning,
               "force level " + std::to_string(level) + " for " + Quote(e.key) +
                   " is not 0, 1 or 2; the launcher treats it as " + (level > 2 ? "2" : "0"));
    }
}

void CheckForceEntry(Checking& c, const std::string& path, const ScannedEntry& e) {
    // A line without '=' is its own name and reads as that name with "1".
    std::string_view value = e.hasValue ? std::string_view(e.value) : std::string_view("1");
    if (!e.hasValue) {
        Report(c, path, e.line, Severity::kWarning,
               Quote(e.key) + " has no '='; the launcher reads it as " + Quote(e.key + "=1"));
    }
    if (e.key.empty()) {
        Report(c, path, e.line, Severity::kWarning, "entry without a name is never looked up");
        return;
    }
    if (EqualsIgnoreAsciiCase(e.key, "latest")) {
        std::string read = FormatVersion(ParseVersion(value));
        if (read != value) {
            Report(c, path, e.line, Severity::kError,
                   "latest " + Quote(value) + " reads as version " + read +
                       "; write four numbers joined by dots");
        }
    } else if (IsReleaseKey(e.key)) {
        return;  // judged with the release
    } else if (EqualsIgnoreAsciiCase(e.key, "url")) {
        if (WebSchemeLength(value) == 0) {
            Report(c, path, e.line, Severity::kError,
                   "url " + Quote(value) + " is not an http:// or https:// URL");
        }
    } else {
        std::string read = FormatVersion(ParseVersion(e.key));
        if (e.key != kNoVersion && read != e.key) {
            Report(c, path, e.line, Severity::kError,
                   "version rule " + Quote(e.key) +
                       " never matches: the launcher writes installed versions as four numbers "
                       "joined by dots (this one would be " +
                       read + ")");
        }
        CheckForceLevel(c, path, e, value);
    }
}

// The first entries that fit into the launcher's listing of a section; an
// entry past it is never seen.
void CheckListingLimit(Checking& c, const std::string& path, const ScannedSection& s) {
    size_t used = 1;
    for (const ScannedEntry& e : s.entries) {
        size_t cost = GbkSize(e.key) + 1;
        if (e.hasValue) {
            cost += 1 + CutToGbkSize(e.value, kIniValueLimit).size;
        }
        if (used + cost > kIniSectionLimit) {
            Report(c, path, e.line, Severity::kError,
                   "[" + s.name + "] is longer than the " + std::to_string(kIniSectionLimit) +
                       " bytes the launcher lists; this entry and those after it are never seen");
            return;
        }
        used += cost;
    }
}

void CheckEntries(Checking& c, const std::string& path, const ScannedSection& s) {
    bool ui = EqualsIgnoreAsciiCase(s.name, kUiSection);
    bool force = EqualsIgnoreAsciiCase(s.name, kForceUpdateSection);
    std::unordered_map<std::string, int> firstLine;
    for (const ScannedEntry& e : s.entries) {
        auto [seen, isFirst] = firstLine.try_emplace(AsciiLowered(e.key), e.line);
        if (!isFirst) {
            Report(c, path, e.line, Severity::kWarning,
                   "key " + Quote(e.key) + " repeats line " + std::to_string(seen->second) +
                       "; the launcher takes the first");
            continue;
        }
        if (e.hasValue && GbkSize(e.value) > kIniValueLimit) {
            Report(c, path, e.line, Severity::kWarning,
                   "value of " + Quote(e.key) + " is longer than " +
                       std::to_string(kIniValueLimit) + " bytes; the launcher reads only those");
        }
        if (force) {
            CheckForceEntry(c, path, e);
        } else if (ui) {
            if (const UiField* key = FindUiField(e.key)) {
                if (e.hasValue) {
                    CheckUiValue(c, path, e, *key);
                }
            } else if (!IsIgnoredUiKey(e.key)) {
                Report(
                    c, path, e.line, Severity::kWarning,
                    "the launcher does not read " + Quote(e.key) + " in [ui]" + Suggestion(e.key));
            }
        }
    }
    if (!ui) {
        CheckListingLimit(c, path, s);
    }
}

}  // namespace

bool IsReleaseKey(std::string_view key) {
    return EqualsIgnoreAsciiCase(key, kExpiresKey) || EqualsIgnoreAsciiCase(key, kRolloutKey);
}

void CheckFileText(Checking& c, const ScannedFile& file) {
    std::unordered_map<std::string, const ScannedSection*> first;
    for (const ScannedSection& s : file.sections) {
        auto [seen, isFirst] = first.try_emplace(AsciiLowered(s.name), &s);
        bool read = IsReadSection(s.name);
        if (!isFirst) {
            if (read) {
                // Keys under a repeated header are lost; an empty repeat loses nothing.
                Report(
                    c, file.path, s.line, s.entries.empty() ? Severity::kWarning : Severity::kError,
                    "section [" + s.name + "] repeats line " + std::to_string(seen->second->line) +
                        "; the launcher reads only the first, so the entries here are ignored");
            }
            continue;
        }
        if (!read) {
            Report(c, file.path, s.line, Severity::kWarning,
                   "the launcher does not read section [" + s.name + "]");
            continue;
        }
        CheckEntries(c, file.path, s);
    }
}

// ---- the merged record ----

void CheckLatestPresent(Checking& c) {
    bool anyLoaded =
        std::any_of(c.files.begin(), c.files.end(), [](const ScannedFile& f) { return f.loaded; });
    if (!anyLoaded) {
        std::vector<std::string> paths = ConfigFilePaths();
        Report(c, paths.front(), 0, Severity::kWarning,
               "neither " + paths[0] + " nor " + paths[1] +
                   " is on the server; the launcher keeps its built-in defaults and hands over "
                   "to whatever is installed");
    } else if (!FindEntry(c.config, "latest")) {
        Report(c, FallbackPlace(c), Severity::kError,
               "no latest entry in [forceupdate]: every installed Downloader counts as up to "
               "date, and nothing is ever installed");
    }
}

}  // namespace kelto
