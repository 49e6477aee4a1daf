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
void MergeForceUpdate(LauncherConfig& c, const IniDocument& doc) {
    std::vector<std::string> listed = IniSectionEntries(doc, kForceUpdateSection);
    if (listed.empty()) {
        return;
    }
    std::unordered_map<std::string, const IniLine*> firstLine;
    for (const IniLine& line : FindIniSection(doc, kForceUpdateSection)->lines) {
        firstLine.try_emplace(AsciiLowered(line.key), &line);
    }
    std::unordered_map<std::string, size_t> position;
    for (size_t i = 0; i < c.forceupdate.size(); ++i) {
        position.try_emplace(AsciiLowered(EntryName(c.forceupdate[i])), i);
    }
    for (const std::string& entry : listed) {
        std::string_view name = EntryName(entry);
        std::string lowered = AsciiLowered(name);
        auto found = firstLine.find(lowered);
        const IniLine* line = found == firstLine.end() ? nullptr : found->second;
        std::string merged(name);
        merged += '=';
        merged += line && line->hasValue ? std::string_view(line->value) : std::string_view("1");
        auto [at, isNew] = position.try_emplace(std::move(lowered), c.forceupdate.size());
        if (isNew) {
            c.forceupdate.push_back(std::move(merged));
        } else {
            c.forceupdate[at->second] = std::move(merged);
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
    MergeForceUpdate(config, doc);
}

std::optional<ForceEntry> FindEntry(const LauncherConfig& config, std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    std::string prefix = AsciiLowered(name) + "=";
    for (size_t i = 0; i < config.forceupdate.size(); ++i) {
        const std::string& line = config.forceupdate[i];
        if (line.size() >= prefix.size() &&
            EqualsIgnoreAsciiCase(std::string_view(line).substr(0, prefix.size()), prefix)) {
            return ForceEntry{i, line.substr(prefix.size())};
        }
    }
    return std::nullopt;
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
