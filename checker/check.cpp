#include "checker/check.h"

#include <iconv.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <unordered_map>

#include "config/ini.h"
#include "config/remote_config.h"
#include "launcher/launch_decision.h"
#include "launcher/version.h"
#include "toolkit/format.h"
#include "toolkit/image_decode.h"
#include "toolkit/product.h"
#include "toolkit/text.h"
#include "transfer/http.h"
#include "transfer/package_check.h"
#include "ui/layout.h"
#include "ui/web_link.h"

namespace kelto {

namespace {

// Packages are hashed in memory; one far beyond any real Setup package is
// left unchecked rather than read whole.
constexpr uint64_t kMaxPackageBytes = uint64_t{512} << 20;

// Values quoted in messages are cut: a 4095-byte value helps nobody.
constexpr size_t kQuoteLimit = 80;

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

// A value as a message quotes it, cut short.
std::string Quote(std::string_view value) {
    GbkCut cut = CutToGbkSize(value, kQuoteLimit);
    return "'" + std::string(cut.text) + (cut.text.size() < value.size() ? "...'" : "'");
}

std::string MibText(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

// ".png, .jpg or .jpeg"
std::string ImageExtensionsText() {
    std::string text;
    for (size_t i = 0; i < std::size(kImageExtensions); ++i) {
        text += i == 0 ? "" : i + 1 == std::size(kImageExtensions) ? " or " : ", ";
        text += kImageExtensions[i].extension;
    }
    return text;
}

std::string HexText(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
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

// ---- GBK ----

// Lines as the INI reader splits them: at CR LF, lone LF or lone CR.
template <typename Fn>
void ForEachRawLine(std::string_view text, Fn fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        fn(text.substr(pos, end == std::string_view::npos ? end : end - pos));
        if (end == std::string_view::npos) {
            return;
        }
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
    }
}

struct Iconv {
    iconv_t cd;
    Iconv() : cd(iconv_open("UTF-8", "CP936")) {}
    ~Iconv() {
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
};

// Decodes one line; nullopt holds the offset of the first byte that is not
// GBK, which is then written as '?' like the rest of the line's bad bytes.
std::optional<size_t> DecodeGbkLine(const Iconv& conv, std::string_view line, std::string& out) {
    std::optional<size_t> firstBad;
    size_t start = out.size();
    out.resize(start + line.size() * 3 + 4);  // a GBK byte never takes more than 3 in UTF-8
    char* in = const_cast<char*>(line.data());
    size_t inLeft = line.size();
    char* to = out.data() + start;
    size_t toLeft = out.size() - start;
    while (inLeft > 0) {
        if (iconv(conv.cd, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno != EILSEQ && errno != EINVAL) {
            break;  // no room: cannot happen with the size reserved above
        }
        if (!firstBad) {
            firstBad = static_cast<size_t>(in - line.data());
        }
        *to++ = '?';
        --toLeft;
        ++in;
        --inLeft;
    }
    out.resize(static_cast<size_t>(to - out.data()));
    return firstBad;
}

// ---- the files as the INI reader sees them, with their line numbers ----

struct ScannedEntry {
    int line = 0;
    std::string key;
    std::string value;  // quotes removed, not cut
    bool hasValue = false;
};

struct ScannedSection {
    std::string name;
    int line = 0;
    std::vector<ScannedEntry> entries;
};

struct ScannedFile {
    std::string path;
    bool loaded = false;  // the launcher would load it
    std::string utf8;
    std::vector<ScannedSection> sections;
};

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

struct Checking {
    const TreeReader& read;
    const CheckOptions& options;
    std::vector<ScannedFile> files;
    LauncherConfig config;
    std::vector<Diagnostic> out;
};

// One finding per output line, whatever the server's files hold: control
// characters from quoted values or decoded URLs never reach the terminal.
void Report(Checking& c, const std::string& file, int line, Severity severity, std::string text) {
    for (char& ch : text) {
        ch = static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ? '?' : ch;
    }
    c.out.push_back({file, line, severity, std::move(text)});
}

// The line of the first character that is not ASCII when the whole text is
// UTF-8 with such characters in it; 0 otherwise.
int Utf8OnlyLine(std::string_view bytes) {
    int firstLine = 0;
    int number = 1;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t length = Utf8CharLength(bytes, pos);
        if (length == 1 && static_cast<unsigned char>(bytes[pos]) >= 0x80) {
            return 0;
        }
        if (length > 1 && firstLine == 0) {
            firstLine = number;
        }
        // Lines counted as the reader counts them: CR LF, LF or CR.
        bool lineEnd = bytes[pos] == '\n' ||
                       (bytes[pos] == '\r' && (pos + 1 == bytes.size() || bytes[pos + 1] != '\n'));
        number += lineEnd ? 1 : 0;
        pos += length;
    }
    return firstLine;
}

// Decodes the GBK bytes, reporting every line with bytes that are not GBK.
std::string DecodeGbk(Checking& c, const std::string& path, std::string_view bytes) {
    Iconv conv;
    if (conv.cd == reinterpret_cast<iconv_t>(-1)) {
        Report(c, path, 0, Severity::kError, "cannot decode GBK here (iconv has no CP936)");
        return std::string(bytes);
    }
    // A file saved as UTF-8 often passes as GBK byte by byte and only shows
    // garbled: said once for the file instead of line by line.
    int utf8Line = Utf8OnlyLine(bytes);
    if (utf8Line > 0) {
        Report(c, path, utf8Line, Severity::kError,
               "the file is UTF-8; the launcher reads it as GBK, so its Chinese text comes out "
               "garbled");
    }
    std::string utf8;
    int number = 0;
    ForEachRawLine(bytes, [&](std::string_view line) {
        ++number;
        std::optional<size_t> bad = DecodeGbkLine(conv, line, utf8);
        if (bad && utf8Line == 0) {
            char byte[8];
            std::snprintf(byte, sizeof(byte), "0x%02X", static_cast<unsigned char>(line[*bad]));
            Report(c, path, number, Severity::kError,
                   std::string("byte ") + byte + " at column " + std::to_string(*bad + 1) +
                       " is not GBK; the launcher reads the file as GBK");
        }
        utf8 += '\n';
    });
    return utf8;
}

void ScanLines(Checking& c, ScannedFile& file) {
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    std::string_view text = file.utf8;
    if (text.starts_with(kUtf8Bom)) {
        text.remove_prefix(kUtf8Bom.size());
    }
    ScannedSection* current = nullptr;
    int number = 0;
    ForEachRawLine(text, [&](std::string_view line) {
        ++number;
        line = line.substr(0, line.find('\0'));
        size_t first = line.find_first_not_of(" \t\v\f\r\n");
        line = first == std::string_view::npos ? std::string_view() : line.substr(first);
        if (line.empty() || line.front() == ';') {
            return;
        }
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            current = &file.sections.emplace_back();
            current->name = TrimBlanks(name.substr(0, name.find(']')));
            current->line = number;
            return;
        }
        if (!current) {
            Report(c, file.path, number, Severity::kWarning,
                   "line before the first section header is ignored");
            return;
        }
        ScannedEntry& entry = current->entries.emplace_back();
        entry.line = number;
        size_t eq = line.find('=');
        entry.key = TrimBlanks(line.substr(0, eq));
        if (eq != std::string_view::npos) {
            entry.value = Unquoted(TrimBlanks(line.substr(eq + 1)));
            entry.hasValue = true;
        }
    });
}

// The section the launcher reads: the first of that name.
const ScannedSection* ReadSection(const ScannedFile& file, std::string_view name) {
    for (const ScannedSection& s : file.sections) {
        if (EqualsIgnoreAsciiCase(s.name, name)) {
            return &s;
        }
    }
    return nullptr;
}

const ScannedEntry* FirstEntry(const ScannedSection& section, std::string_view key) {
    for (const ScannedEntry& e : section.entries) {
        if (EqualsIgnoreAsciiCase(e.key, key)) {
            return &e;
        }
    }
    return nullptr;
}

struct Place {
    std::string file;
    int line = 0;
};

Place FallbackPlace(const Checking& c) {
    for (const ScannedFile& f : c.files) {
        if (f.loaded) {
            return {f.path, 0};
        }
    }
    return {c.files.empty() ? std::string() : c.files.front().path, 0};
}

// Where the value the launcher ends up with was written: the later file wins.
std::optional<Place> Locate(const Checking& c, std::string_view section, std::string_view key) {
    for (auto f = c.files.rbegin(); f != c.files.rend(); ++f) {
        const ScannedSection* s = f->loaded ? ReadSection(*f, section) : nullptr;
        if (const ScannedEntry* e = s ? FirstEntry(*s, key) : nullptr) {
            return Place{f->path, e->line};
        }
    }
    return std::nullopt;
}

Place LocateOr(const Checking& c, std::string_view section, std::string_view key) {
    std::optional<Place> place = Locate(c, section, key);
    return place ? *place : FallbackPlace(c);
}

void Report(Checking& c, const Place& at, Severity severity, std::string text) {
    Report(c, at.file, at.line, severity, std::move(text));
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

// ---- the tree ----

struct TreeTarget {
    bool onServer = false;  // http:// or https:// on the server's host
    std::string path;       // relative to the root; empty when it cannot be a file of the tree
};

// "http://<server host>[:80]/path" or "https://<server host>[:443]/path"
// to the file the server would serve.
TreeTarget TargetOf(std::string_view url, std::string_view host) {
    TreeTarget target;
    size_t scheme = WebSchemeLength(url);
    if (scheme == 0) {
        return target;
    }
    std::string_view defaultPort = url.starts_with("https") ? ":443" : ":80";
    url.remove_prefix(scheme);
    size_t end = std::min(url.find_first_of("/?#"), url.size());
    std::string_view authority = url.substr(0, end);
    if (authority.ends_with(defaultPort)) {
        authority.remove_suffix(defaultPort.size());
    }
    if (!EqualsIgnoreAsciiCase(authority, host)) {
        return target;
    }
    target.onServer = true;
    std::string_view rawPath = url.substr(end);
    rawPath = rawPath.substr(0, rawPath.find_first_of("?#"));
    std::string path;
    for (size_t i = 0; i < rawPath.size(); ++i) {
        int high = i + 2 < rawPath.size() && rawPath[i] == '%' ? HexDigitValue(rawPath[i + 1]) : -1;
        int low = high >= 0 ? HexDigitValue(rawPath[i + 2]) : -1;
        if (low >= 0) {
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path += rawPath[i];
        }
    }
    // Only plain names below the root: no "..", no NUL, no empty name.
    std::string relative;
    for (std::string_view segment : SplitText(path, '/')) {
        if (segment == "..") {
            return target;
        }
        if (segment.empty() || segment == ".") {
            continue;
        }
        relative += relative.empty() ? "" : "/";
        relative += segment;
    }
    if (relative.find('\0') != std::string::npos || path.ends_with('/')) {
        return target;
    }
    target.path = std::move(relative);
    return target;
}

// The launcher's root with host in place of its own host: same scheme.
std::string ServerRootOn(std::string_view host) {
    return std::string(kServerRoot.substr(0, WebSchemeLength(kServerRoot))) + std::string(host);
}

std::string DefaultServerRoot(const CheckOptions& options) {
    return ServerRootOn(options.serverHost);
}

// ---- pictures and layout ----

struct PictureSeen {
    bool known = true;     // false: on another host, what it holds is unknown
    bool fetched = false;  // the launcher's request would answer 200
    Size size;             // 0 by 0 when it does not decode
};

// Width and height a PNG declares, to say why a picture was refused.
std::optional<Size> PngDeclaredSize(std::string_view bytes) {
    if (bytes.size() < 24 || !bytes.starts_with("\x89PNG")) {
        return std::nullopt;
    }
    auto be32 = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) {
            v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
        }
        return v;
    };
    uint32_t w = be32(16);
    uint32_t h = be32(20);
    if (w > INT32_MAX || h > INT32_MAX) {
        return std::nullopt;
    }
    return Size{static_cast<int>(w), static_cast<int>(h)};
}

std::string UndecodedReason(std::string_view url, std::string_view bytes) {
    std::optional<Size> declared = PngDeclaredSize(bytes);
    if (declared && ImageFormatForExtension(UrlExtension(url)) == ImageFormat::Png &&
        (declared->width > kMaxImageSide || declared->height > kMaxImageSide ||
         int64_t{declared->width} * declared->height > kMaxImagePixels)) {
        return "is " + std::to_string(declared->width) + " by " + std::to_string(declared->height) +
               ", beyond the launcher's limits (" + std::to_string(kMaxImageSide) +
               " pixels a side, " + std::to_string(kMaxImagePixels) + " pixels)";
    }
    bool png = ImageFormatForExtension(UrlExtension(url)) == ImageFormat::Png;
    return std::string("does not decode as ") + (png ? "PNG" : "JPEG");
}

PictureSeen CheckPicture(Checking& c, std::string_view key, Severity missing) {
    PictureSeen seen;
    const std::string& url = c.config.*(FindUiField(key)->text);
    if (url.empty()) {
        return seen;
    }
    TreeTarget target = TargetOf(url, c.options.serverHost);
    if (!target.onServer) {
        seen.known = false;  // only its extension could be checked
        return seen;
    }
    Place at = LocateOr(c, kUiSection, key);
    std::string name(key);
    if (target.path.empty()) {
        Report(c, at, Severity::kError,
               name + " " + Quote(url) + " names no file inside the server's tree");
        return seen;
    }
    TreeFile file = c.read(target.path, kMaxServerFileBytes);
    if (!file.found) {
        Report(c, at, missing, name + ": " + target.path + " is not on the server");
        return seen;
    }
    seen.fetched = true;
    bool decodable = ImageFormatForExtension(UrlExtension(url)) != ImageFormat::Unknown;
    if (!decodable) {
        return seen;  // said where the URL is written
    }
    if (file.size > kMaxServerFileBytes) {
        Report(c, at, Severity::kError,
               name + ": " + target.path + " is larger than " + MibText(kMaxServerFileBytes) +
                   "; the launcher does not decode it");
        return seen;
    }
    auto bytes = std::span(reinterpret_cast<const uint8_t*>(file.bytes.data()), file.bytes.size());
    Image image = DecodeImageByExtension(url, bytes);
    if (IsEmpty(image)) {
        Report(c, at, Severity::kError,
               name + ": " + target.path + " " + UndecodedReason(url, file.bytes));
        return seen;
    }
    seen.size = {image.width, image.height};
    return seen;
}

struct LaidOut {
    std::string_view what;
    const Rect& rect;
    bool whole;            // false: only its top-left corner must lie on the picture
    std::string_view key;  // the key that places it, for the message's line
    bool shown;
};

void CheckLayout(Checking& c, const PictureSeen& header, const PictureSeen& close,
                 const PictureSeen& background) {
    if (!header.known || !close.known || background.size.width <= 0) {
        return;  // nothing to measure against, or sizes we cannot know
    }
    SkinFacts skin;
    skin.headerShown = header.fetched && header.size.width != 0;
    skin.header = header.size;
    skin.closeFetched = close.fetched;
    skin.close = close.size;
    skin.background = background.size;
    // The links size themselves to their text in a font only the platform
    // measures: their corners are checked, not their extent.
    const LauncherConfig& cfg = c.config;
    ProgressLayout l = LayoutProgressWindow(cfg, skin, {}, background.size.width);
    const LaidOut elements[] = {
        {"header picture", l.header, true, "imgHeaderX", skin.headerShown},
        {"close area", l.close, true, "closeX", true},
        {"minimise area", l.minimize, true, "minimizeX", true},
        {"caption", l.caption, false, "captionX", !cfg.caption.empty()},
        {"link 1", l.link1, false, "webLink1X", !cfg.webLink1Text.empty()},
        {"link 2", l.link2, false, "webLink2X", !cfg.webLink2Text.empty()},
        {"description line", l.description, true, "imgHeaderY", true},
        {"progress bar", l.progressBar, true, "imgHeaderY", true},
        {"status line", l.status, true, "imgHeaderY", true},
    };
    const Size bg = background.size;
    for (const LaidOut& e : elements) {
        const Rect& r = e.rect;
        bool inside =
            e.whole ? r.left >= 0 && r.top >= 0 && r.Right() <= bg.width && r.Bottom() <= bg.height
                    : r.left >= 0 && r.top >= 0 && r.left < bg.width && r.top < bg.height;
        if (!e.shown || inside) {
            continue;
        }
        std::optional<Place> at = Locate(c, kUiSection, e.key);
        std::string where = "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ")";
        if (e.whole) {
            where += " " + std::to_string(r.width) + " by " + std::to_string(r.height);
        }
        Report(c, at ? *at : LocateOr(c, kUiSection, "backgroundImg"), Severity::kWarning,
               std::string(e.what) + " at " + where + " lies outside the " +
                   std::to_string(bg.width) + " by " + std::to_string(bg.height) +
                   " background picture");
    }
}

void CheckSkin(Checking& c) {
    PictureSeen header = CheckPicture(c, "headerImg", Severity::kError);
    PictureSeen close = CheckPicture(c, "closeImg", Severity::kError);
    // The mask is fetched and never used: a missing one costs a request only.
    CheckPicture(c, "backgroundMask", Severity::kWarning);
    PictureSeen background = CheckPicture(c, "backgroundImg", Severity::kError);
    CheckLayout(c, header, close, background);
}

// ---- the Setup package ----

template <size_t N>
std::array<uint8_t, N> DigestOf(const EVP_MD* md, std::string_view bytes) {
    std::array<uint8_t, N> digest{};
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, md, nullptr);
    return digest;
}

// Checks r || s as the launcher does: ECDSA P-256 over the SHA-256 of the
// signed statement.
bool VerifySignature(std::span<const uint8_t> keyDer, const EcdsaSignature& rs,
                     std::string_view statement) {
    Sha256Digest digest = DigestOf<32>(EVP_sha256(), statement);
    const unsigned char* p = keyDer.data();
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        d2i_PUBKEY(nullptr, &p, static_cast<long>(keyDer.size())), &EVP_PKEY_free);
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(ECDSA_SIG_new(), &ECDSA_SIG_free);
    if (!key || !sig) {
        return false;
    }
    BIGNUM* r = BN_bin2bn(rs.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(rs.data() + 32, 32, nullptr);
    if (!r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
        der, [](unsigned char* q) { OPENSSL_free(q); });
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
    return derLength > 0 && ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) == 1 &&
           EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derLength), digest.data(),
                           digest.size()) == 1;
}

// The version, among those the configuration names in its version-keyed
// sections, for which r || s signs this file; nullopt when none.
std::optional<std::string> SignedVersion(const LauncherConfig& config,
                                         std::span<const uint8_t> keyDer, const EcdsaSignature& rs,
                                         const Sha256Digest& sha256) {
    for (const std::vector<std::string>* list :
         {&config.forceupdate, &config.signature, &config.sha256, &config.md5}) {
        for (const std::string& line : *list) {
            std::string version = line.substr(0, line.find('='));
            if (IsFourNumberVersion(version) &&
                VerifySignature(keyDer, rs, SignedStatement(version, sha256))) {
                return version;
            }
        }
    }
    return std::nullopt;
}

struct KeyRead {
    ReleaseKey key;
    std::vector<uint8_t> der;
};

KeyRead ReadReleaseKey(Checking& c) {
    KeyRead read;
    if (c.options.keyPath.empty()) {
        return read;
    }
    std::optional<std::vector<uint8_t>> der = PublicKeyPemToDer(c.options.keyPem);
    if (der) {
        read.key = ReleaseKeyFromDer(std::span<const uint8_t>(*der));
        read.der = std::move(*der);
    } else {
        read.key.state = ReleaseKeyState::kMalformed;
    }
    if (read.key.state != ReleaseKeyState::kValid) {
        Report(c, c.options.keyPath, 0, Severity::kError,
               "not a PEM ECDSA P-256 public key; a launcher built with it refuses every package");
    }
    return read;
}

// A published list that names other versions only: the newest package is
// then not checked against it, which is rarely what its author meant.
void CheckListCoversLatest(Checking& c, std::string_view section,
                           const std::vector<std::string>& list, std::string_view latest) {
    if (list.empty() || FindListEntry(list, latest)) {
        return;
    }
    std::string firstName = list.front().substr(0, list.front().find('='));
    Report(c, LocateOr(c, section, firstName), Severity::kWarning,
           "[" + std::string(section) + "] has no entry for latest " + Quote(latest) +
               "; the package is not checked against it");
}

void ReportVerdict(Checking& c, PackageVerdict verdict, const std::string& path,
                   const PackageDigests& digests, std::string_view latest) {
    std::string version = Quote(latest);
    switch (verdict) {
        case PackageVerdict::kOk:
        case PackageVerdict::kUnreadable:
        case PackageVerdict::kReleaseKeyMalformed:  // said about the key itself
            return;
        case PackageVerdict::kVersionMalformed:
            Report(c, FallbackPlace(c), Severity::kError,
                   "latest " + version +
                       " is not four numbers; a launcher built with this key installs nothing");
            return;
        case PackageVerdict::kSha256Malformed:
        case PackageVerdict::kMd5Malformed: {
            bool sha = verdict == PackageVerdict::kSha256Malformed;
            Report(c, LocateOr(c, sha ? kSha256Section : kMd5Section, latest), Severity::kError,
                   std::string(sha ? "sha256" : "md5") + " for " + version + " is not " +
                       (sha ? "64" : "32") + " hex digits; the launcher refuses every download");
            return;
        }
        case PackageVerdict::kSha256Mismatch:
            Report(c, LocateOr(c, kSha256Section, latest), Severity::kError,
                   path + " does not match the sha256 for " + version + " (the file's is " +
                       HexText(digests.sha256) + ")");
            return;
        case PackageVerdict::kMd5Mismatch:
            Report(c, LocateOr(c, kMd5Section, latest), Severity::kError,
                   path + " does not match the md5 for " + version + " (the file's is " +
                       HexText(digests.md5) + ")");
            return;
        case PackageVerdict::kSignatureMissing:
            Report(c, FallbackPlace(c), Severity::kError,
                   "no [signature] for latest " + version +
                       "; a launcher built with this key refuses the package");
            return;
        case PackageVerdict::kSignatureMalformed:
            Report(c, LocateOr(c, kSignatureSection, latest), Severity::kError,
                   "signature for " + version + " is not base64 of a DER ECDSA signature");
            return;
        case PackageVerdict::kSignatureMismatch:
            Report(c, LocateOr(c, kSignatureSection, latest), Severity::kError,
                   "signature for " + version + " does not verify " + path + " with " +
                       c.options.keyPath);
            return;
    }
}

void CheckPackage(Checking& c) {
    std::optional<ForceEntry> urlEntry = FindEntry(c.config, "url");
    std::string url = urlEntry ? urlEntry->value : DefaultSetupUrl(DefaultServerRoot(c.options));
    Place at = urlEntry ? LocateOr(c, kForceUpdateSection, "url") : FallbackPlace(c);
    std::optional<ForceEntry> latest = FindEntry(c.config, "latest");
    std::string latestName = latest ? latest->value : std::string();
    PackageChecks checks = PackageChecksFor(c.config);
    KeyRead key = ReadReleaseKey(c);
    // A malformed latest is reported where it is written; that it names
    // none of the published versions follows from it.
    if (latest && FormatVersion(ParseVersion(latestName)) == latestName) {
        CheckListCoversLatest(c, kMd5Section, c.config.md5, latestName);
        CheckListCoversLatest(c, kSha256Section, c.config.sha256, latestName);
        CheckListCoversLatest(c, kSignatureSection, c.config.signature, latestName);
    }
    // Without a key the launcher ignores a signature; one that a keyed
    // launcher could not even read is still worth saying.
    if (key.key.state == ReleaseKeyState::kNone && !checks.signature.empty()) {
        std::optional<std::vector<uint8_t>> der = DecodeBase64(checks.signature);
        if (!der || !EcdsaSignatureFromDer(*der)) {
            ReportVerdict(c, PackageVerdict::kSignatureMalformed, {}, {}, latestName);
        }
    }
    bool checked = PackageNeedsCheck(checks, key.key.state);
    TreeTarget target = TargetOf(url, c.options.serverHost);
    if (!target.onServer) {
        if (checked && key.key.state != ReleaseKeyState::kMalformed) {
            Report(c, at, Severity::kWarning,
                   "the Setup package " + Quote(url) +
                       " is not on this server; its digests and signature are not checked");
        }
        return;
    }
    if (target.path.empty()) {
        Report(c, at, Severity::kError,
               "the Setup package URL " + Quote(url) + " names no file inside the server's tree");
        return;
    }
    TreeFile file = c.read(target.path, kMaxPackageBytes);
    if (!file.found) {
        Report(c, at, Severity::kError,
               "the Setup package " + target.path + " is not on the server");
        return;
    }
    // Without a latest entry the launcher never downloads: nothing to judge.
    if (!checked || !latest) {
        return;
    }
    if (file.size > kMaxPackageBytes) {
        Report(c, at, Severity::kWarning,
               "the Setup package " + target.path + " is larger than " + MibText(kMaxPackageBytes) +
                   "; not checked here");
        return;
    }
    DigestNeeds needs = DigestsNeeded(checks, key.key.state);
    PackageDigests digests;
    if (needs.md5) {
        digests.md5 = DigestOf<16>(EVP_md5(), file.bytes);
    }
    if (needs.sha256) {
        digests.sha256 = DigestOf<32>(EVP_sha256(), file.bytes);
    }
    std::optional<EcdsaSignature> signature;
    PackageVerdict verdict = JudgePackage(
        checks, key.key.state, digests, [&](const EcdsaSignature& rs, std::string_view statement) {
            signature = rs;
            return VerifySignature(key.der, rs, statement);
        });
    // A genuine signature of this file for another version is an old one
    // published again: say which version it was made for.
    if (verdict == PackageVerdict::kSignatureMismatch && signature) {
        if (std::optional<std::string> other =
                SignedVersion(c.config, key.der, *signature, digests.sha256)) {
            Report(c, LocateOr(c, kSignatureSection, latestName), Severity::kError,
                   "signature for " + Quote(latestName) + " is a signature for version " +
                       Quote(*other) + "; a launcher built with this key refuses the package");
            return;
        }
    }
    ReportVerdict(c, verdict, target.path, digests, latestName);
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

void LoadConfigFile(Checking& c, const std::string& path) {
    ScannedFile& file = c.files.emplace_back();
    file.path = path;
    TreeFile raw = c.read(path, kMaxServerFileBytes);
    if (!raw.found) {
        return;
    }
    if (raw.size > kMaxServerFileBytes) {
        Report(c, path, 0, Severity::kError,
               "larger than " + MibText(kMaxServerFileBytes) + "; the launcher ignores the file");
        return;
    }
    file.loaded = true;
    file.utf8 = DecodeGbk(c, path, raw.bytes);
    ScanLines(c, file);
    LoadFromText(c.config, file.utf8);
}

TreeFile ReadTreeFile(const std::filesystem::path& root, const std::string& path,
                      uint64_t readLimit) {
    std::error_code ec;
    std::filesystem::path full = root / path;
    TreeFile file;
    if (!std::filesystem::is_regular_file(full, ec)) {
        return file;
    }
    uint64_t size = std::filesystem::file_size(full, ec);
    if (ec) {
        return file;
    }
    file.found = true;
    file.size = size;
    if (size > readLimit) {
        return file;
    }
    std::ifstream in(full, std::ios::binary);
    file.bytes.resize(size);
    in.read(file.bytes.data(), static_cast<std::streamsize>(size));
    file.bytes.resize(static_cast<size_t>(in.gcount()));
    file.found = !in.bad();
    return file;
}

}  // namespace

std::string ServerHostOf(std::string_view rootUrl) {
    rootUrl.remove_prefix(WebSchemeLength(rootUrl));
    return std::string(rootUrl.substr(0, rootUrl.find('/')));
}

std::vector<std::string> ConfigFilePaths() {
    return {"kelto2/" + std::string(kGeneralConfigName), "kelto2/" + GameConfigName(kGameNumber)};
}

CheckResult CheckServerFiles(const TreeReader& read, const CheckOptions& options) {
    CheckOptions resolved = options;
    if (resolved.serverHost.empty()) {
        resolved.serverHost = ServerHostOf(kServerRoot);
    }
    Checking c{read, resolved, {}, {}, {}};
    c.config.headerurl = DefaultServerRoot(resolved);
    for (const std::string& path : ConfigFilePaths()) {
        LoadConfigFile(c, path);
    }
    for (const ScannedFile& file : c.files) {
        CheckFileText(c, file);
    }
    CheckLatestPresent(c);
    CheckSkin(c);
    CheckPackage(c);
    // Compiler order: file by file as the launcher loads them, line by line.
    std::vector<std::string> paths = ConfigFilePaths();
    auto rank = [&](const Diagnostic& d) {
        return std::pair(std::find(paths.begin(), paths.end(), d.file) - paths.begin(), d.line);
    };
    std::stable_sort(c.out.begin(), c.out.end(),
                     [&](const Diagnostic& a, const Diagnostic& b) { return rank(a) < rank(b); });
    return {std::move(c.out), std::move(c.config)};
}

CheckResult CheckTree(const std::string& root, const CheckOptions& options) {
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) {
        CheckResult result;
        result.diagnostics.push_back({root, 0, Severity::kError, "not a directory"});
        return result;
    }
    std::filesystem::path base(root);
    return CheckServerFiles(
        [&](const std::string& path, uint64_t limit) { return ReadTreeFile(base, path, limit); },
        options);
}

std::string FormatDiagnostic(const Diagnostic& d) {
    return d.file + ":" + std::to_string(d.line) + ": " +
           (d.severity == Severity::kError ? "error" : "warning") + ": " + d.text;
}

int ExitStatus(const std::vector<Diagnostic>& diagnostics) {
    int status = 0;
    for (const Diagnostic& d : diagnostics) {
        status = std::max(status, d.severity == Severity::kError ? 2 : 1);
    }
    return status;
}

std::string DescribeLaunch(const LauncherConfig& config, std::string_view installedVersion,
                           bool downloaderRunning, bool testMode, const CheckOptions& options) {
    LaunchFacts facts = GatherLaunchFacts(config, installedVersion, testMode);
    WindowProbe probe = downloaderRunning ? +[] { return true; } : +[] { return false; };
    LaunchOutcome outcome = DecideLaunch(facts, probe);
    std::optional<ForceEntry> latest = FindEntry(config, "latest");
    std::optional<int> level = ForceLevel(config, installedVersion);
    std::string levelFrom = FindEntry(config, installedVersion) ? std::string(installedVersion)
                                                                : std::string(kNoVersion);
    std::optional<ForceEntry> url = FindEntry(config, "url");
    std::string host = options.serverHost.empty() ? ServerHostOf(kServerRoot) : options.serverHost;

    std::string text = "installed: " + Quote(installedVersion) + " (version " +
                       FormatVersion(ParseVersion(installedVersion)) + ")\n";
    text += "Downloader running: " + std::string(downloaderRunning ? "yes" : "no") +
            ", test mode: " + (testMode ? "yes" : "no") + "\n";
    text += "latest: " + (latest ? Quote(latest->value) : std::string("none")) + " (version " +
            FormatVersion(ParseVersion(latest ? latest->value : "")) + ")\n";
    text += "up to date: " + std::string(facts.upToDate ? "yes" : "no") + "\n";
    text += "force level: " +
            (level ? std::to_string(*level) + " (entry " + Quote(levelFrom) + ")" : "none") + "\n";
    text += "decision: " + std::string(LaunchOutcomeName(outcome)) + "\n";
    if (outcome != LaunchOutcome::HandOver) {
        text += "Setup package: " + (url ? url->value : DefaultSetupUrl(ServerRootOn(host))) + "\n";
    }
    return text;
}

std::string DescribeConfig(const LauncherConfig& config) {
    std::string text;
    for (const ListSection& section : kListSections) {
        text += "[" + std::string(section.name) + "]\n";
        for (const std::string& entry : config.*section.entries) {
            text += entry + "\n";
        }
    }
    text += "[" + std::string(kUiSection) + "]\n";
    for (const UiField& field : kUiFields) {
        text += std::string(field.key) + "=" +
                (field.text ? config.*field.text : std::to_string(config.*field.number)) + "\n";
    }
    return text;
}

}  // namespace kelto
