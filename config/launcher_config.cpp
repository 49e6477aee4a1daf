#include "config/launcher_config.h"

#include <unordered_map>

#include "config/ini.h"
#include "toolkit/text.h"

namespace kelto {

std::string DefaultSetupUrl() {
    return std::string(kServerRoot) + "/download/mvsetup.exe";
}

namespace {

constexpr std::string_view kUiSection = "ui";
constexpr std::string_view kForceUpdateSection = "forceupdate";
constexpr std::string_view kMd5Section = "md5";
constexpr std::string_view kSha256Section = "sha256";
constexpr std::string_view kSignatureSection = "signature";

void ReadString(const IniDocument& doc, std::string_view key, std::string& field) {
    if (std::optional<std::string> value = IniReadString(doc, kUiSection, key)) {
        field = std::move(*value);
    }
}

void ReadInt(const IniDocument& doc, std::string_view key, int& field) {
    if (std::optional<int> value = IniReadInt(doc, kUiSection, key)) {
        field = *value;
    }
}

void LoadUi(LauncherConfig& c, const IniDocument& doc) {
    ReadString(doc, "headerImg", c.headerImg);
    ReadString(doc, "backgroundImg", c.backgroundImg);
    ReadString(doc, "backgroundMask", c.backgroundMask);
    ReadString(doc, "closeImg", c.closeImg);
    ReadString(doc, "minimizeImg", c.minimizeImg);
    ReadString(doc, "cancel", c.cancel);
    ReadString(doc, "progress", c.progress);
    ReadString(doc, "caption", c.caption);
    ReadString(doc, "headerurl", c.headerurl);
    ReadString(doc, "CaptionColor", c.CaptionColor);
    ReadString(doc, "descriptionColor", c.descriptionColor);
    ReadString(doc, "ProgressColor", c.ProgressColor);
    ReadString(doc, "description", c.description);
    ReadString(doc, "webLink1URL", c.webLink1URL);
    ReadString(doc, "webLink1Text", c.webLink1Text);
    ReadString(doc, "webLink1Color", c.webLink1Color);
    ReadInt(doc, "webLink1X", c.webLink1X);
    ReadInt(doc, "webLink1Y", c.webLink1Y);
    ReadString(doc, "webLink2URL", c.webLink2URL);
    ReadString(doc, "webLink2Text", c.webLink2Text);
    ReadString(doc, "webLink2Color", c.webLink2Color);
    ReadInt(doc, "webLink2X", c.webLink2X);
    ReadInt(doc, "webLink2Y", c.webLink2Y);
    ReadInt(doc, "captionX", c.captionX);
    ReadInt(doc, "captionY", c.captionY);
    ReadInt(doc, "imgHeaderX", c.imgHeaderX);
    ReadInt(doc, "imgHeaderY", c.imgHeaderY);
    ReadInt(doc, "imgCloseX", c.imgCloseX);
    ReadInt(doc, "imgCloseY", c.imgCloseY);
    ReadInt(doc, "closeX", c.closeX);
    ReadInt(doc, "closeY", c.closeY);
    ReadInt(doc, "closeW", c.closeW);
    ReadInt(doc, "closeH", c.closeH);
    ReadInt(doc, "minimizeX", c.minimizeX);
    ReadInt(doc, "minimizeY", c.minimizeY);
    ReadInt(doc, "minimizeW", c.minimizeW);
    ReadInt(doc, "minimizeH", c.minimizeH);
}

std::string_view EntryName(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

// Each listed entry is re-read by its name, so a name that occurs twice takes
// the value of its first occurrence, and a bare name (no '=') reads as "1".
// The look-ups go through maps: a section may list thousands of entries.
void MergeSectionEntries(std::vector<std::string>& list, const IniDocument& doc,
                         std::string_view section) {
    std::vector<std::string> listed = IniSectionEntries(doc, section);
    if (listed.empty()) {
        return;
    }
    std::unordered_map<std::string, const IniLine*> firstLine;
    for (const IniLine& line : FindIniSection(doc, section)->lines) {
        firstLine.try_emplace(AsciiLowered(line.key), &line);
    }
    std::unordered_map<std::string, size_t> position;
    for (size_t i = 0; i < list.size(); ++i) {
        position.try_emplace(AsciiLowered(EntryName(list[i])), i);
    }
    for (const std::string& entry : listed) {
        std::string_view name = EntryName(entry);
        std::string lowered = AsciiLowered(name);
        auto found = firstLine.find(lowered);
        const IniLine* line = found == firstLine.end() ? nullptr : found->second;
        std::string merged(name);
        merged += '=';
        merged += line && line->hasValue ? std::string_view(line->value) : std::string_view("1");
        auto [at, isNew] = position.try_emplace(std::move(lowered), list.size());
        if (isNew) {
            list.push_back(std::move(merged));
        } else {
            list[at->second] = std::move(merged);
        }
    }
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint32_t>(c - '0');
    }
    return static_cast<uint32_t>(AsciiLower(c) - 'a' + 10);
}

// As much of [pos, pos + count) as the text has.
std::string_view Slice(std::string_view s, size_t pos, size_t count) {
    return pos < s.size() ? s.substr(pos, count) : std::string_view();
}

}  // namespace

void LoadFromText(LauncherConfig& config, std::string_view utf8Text) {
    IniDocument doc = ParseIni(utf8Text);
    LoadUi(config, doc);
    MergeSectionEntries(config.forceupdate, doc, kForceUpdateSection);
    MergeSectionEntries(config.md5, doc, kMd5Section);
    MergeSectionEntries(config.sha256, doc, kSha256Section);
    MergeSectionEntries(config.signature, doc, kSignatureSection);
}

std::optional<ForceEntry> FindEntry(const LauncherConfig& config, std::string_view name) {
    return FindListEntry(config.forceupdate, name);
}

std::optional<ForceEntry> FindListEntry(const std::vector<std::string>& list,
                                        std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    std::string prefix = AsciiLowered(name) + "=";
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string& line = list[i];
        if (line.size() >= prefix.size() &&
            EqualsIgnoreAsciiCase(std::string_view(line).substr(0, prefix.size()), prefix)) {
            return ForceEntry{i, line.substr(prefix.size())};
        }
    }
    return std::nullopt;
}

PackageChecks PackageChecksFor(const LauncherConfig& config) {
    PackageChecks checks;
    std::optional<ForceEntry> latest = FindEntry(config, "latest");
    if (!latest) {
        return checks;
    }
    for (auto [list, value] :
         {std::pair{&config.md5, &checks.md5}, std::pair{&config.sha256, &checks.sha256},
          std::pair{&config.signature, &checks.signature}}) {
        if (std::optional<ForceEntry> entry = FindListEntry(*list, latest->value)) {
            *value = std::move(entry->value);
        }
    }
    return checks;
}

std::string SetupPackageUrl(const LauncherConfig& config) {
    std::optional<ForceEntry> url = FindEntry(config, "url");
    return url ? url->value : DefaultSetupUrl();
}

ColorValue parseColor(std::string_view text) {
    if (text.empty() || text.front() != '#') {
        return 0xFFFFFF;
    }
    // "#rrggbb" holds the bytes in the reverse order of the colour value.
    std::string joined(Slice(text, 5, 2));
    joined += Slice(text, 3, 2);
    joined += Slice(text, 1, 2);
    ColorValue color = 0;
    for (char c : joined) {
        if (!IsHexDigit(c)) {
            break;
        }
        color = color * 16 + HexDigitValue(c);
    }
    return color;
}

}  // namespace kelto
