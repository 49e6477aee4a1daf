#include "checker/check.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "checker/check_internal.h"
#include "config/remote_config.h"
#include "launcher/launch_decision.h"
#include "launcher/version.h"
#include "toolkit/product.h"
#include "toolkit/text.h"
#include "transfer/http.h"

namespace kelto {

namespace {

// Values quoted in messages are cut: a 4095-byte value helps nobody.
constexpr size_t kQuoteLimit = 80;

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

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
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
    file.raw = std::move(raw.bytes);
    file.utf8 = DecodeGbk(c, path, file.raw);
    ScanLines(c, file);
    LoadFromText(c.config, file.utf8);
}

// ---- the tree ----

// The launcher's root with host in place of its own host: same scheme.
std::string ServerRootOn(std::string_view host) {
    return std::string(kServerRoot.substr(0, WebSchemeLength(kServerRoot))) + std::string(host);
}

}  // namespace

// ---- messages and where they point ----

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

std::string Quote(std::string_view value) {
    GbkCut cut = CutToGbkSize(value, kQuoteLimit);
    return "'" + std::string(cut.text) + (cut.text.size() < value.size() ? "...'" : "'");
}

std::string MibText(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

void Report(Checking& c, const std::string& file, int line, Severity severity, std::string text) {
    for (char& ch : text) {
        ch = static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ? '?' : ch;
    }
    c.out.push_back({file, line, severity, std::move(text)});
}

Place FallbackPlace(const Checking& c) {
    for (const ScannedFile& f : c.files) {
        if (f.loaded) {
            return {f.path, 0};
        }
    }
    return {c.files.empty() ? std::string() : c.files.front().path, 0};
}

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

// ---- the tree ----

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

std::string DefaultServerRoot(const CheckOptions& options) {
    return ServerRootOn(options.serverHost);
}

std::string ServerHostOf(std::string_view rootUrl) {
    rootUrl.remove_prefix(WebSchemeLength(rootUrl));
    return std::string(rootUrl.substr(0, rootUrl.find('/')));
}

std::vector<std::string> ConfigFileNames() {
    return {std::string(kGeneralConfigName), GameConfigName(kGameNumber)};
}

std::vector<std::string> ConfigFilePaths() {
    std::vector<std::string> paths;
    for (const std::string& name : ConfigFileNames()) {
        paths.push_back("kelto2/" + name);
    }
    return paths;
}

TreeFile ReadTreeFile(const std::string& root, const std::string& path, uint64_t readLimit) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::path(root) / path;
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

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

CheckResult CheckServerFiles(const TreeReader& read, const CheckOptions& options) {
    CheckOptions resolved = options;
    if (resolved.serverHost.empty()) {
        resolved.serverHost = ServerHostOf(kServerRoot);
    }
    Checking c{read, resolved, {}, {}, {}, {}};
    c.config.headerurl = DefaultServerRoot(resolved);
    for (const std::string& path : ConfigFilePaths()) {
        LoadConfigFile(c, path);
    }
    for (const ScannedFile& file : c.files) {
        CheckFileText(c, file);
    }
    ReadReleaseKey(c);
    CheckLatestPresent(c);
    CheckRelease(c);
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
    return CheckServerFiles(
        [&](const std::string& path, uint64_t limit) { return ReadTreeFile(root, path, limit); },
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
