#include "config/launcher_config.h"

#include <algorithm>
#include <unordered_map>

#include "config/ini.h"
#include "toolkit/text.h"

namespace kelto {

std::string DefaultSetupUrl(std::string_view serverRoot) {
    return std::string(serverRoot) + "/download/mvsetup.exe";
}

namespace {

// Each field is a text or a number, as its kind says.
static_assert(std::ranges::all_of(kUiFields, [](const UiField& f) {
    return (f.text != nullptr) != (f.number != nullptr) &&
           (f.number != nullptr) == (f.kind == UiKind::kNumber);
}));

void LoadUi(LauncherConfig& c, const IniDocument& doc) {
    for (const UiField& field : kUiFields) {
        if (field.text) {
            if (std::optional<std::string> value = IniReadString(doc, kUiSection, field.key)) {
                c.*field.text = std::move(*value);
            }
        } else if (std::optional<int> value = IniReadInt(doc, kUiSection, field.key)) {
            c.*field.number = *value;
        }
    }
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

// As much of [pos, pos + count) as the text has.
std::string_view Slice(std::string_view s, size_t pos, size_t count) {
    return pos < s.size() ? s.substr(pos, count) : std::string_view();
}

}  // namespace

void LoadFromText(LauncherConfig& config, std::string_view utf8Text) {
    IniDocument doc = ParseIni(utf8Text);
    LoadUi(config, doc);
    for (const ListSection& section : kListSections) {
        MergeSectionEntries(config.*section.entries, doc, section.name);
    }
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
    checks.version = latest->value;
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
    return url ? url->value : DefaultSetupUrl(kServerRoot);
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
        int digit = HexDigitValue(c);
        if (digit < 0) {
            break;
        }
        color = color * 16 + static_cast<ColorValue>(digit);
    }
    return color;
}

}  // namespace kelto
