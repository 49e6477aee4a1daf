// LauncherConfig: the version rules and the look of the progress window, with
// built-in defaults that the server's configuration files override.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/product.h"
#include "transfer/package_check.h"

namespace kelto {

using ColorValue = uint32_t;  // 0x00BBGGRR, the COLORREF layout

struct LauncherConfig {
    std::vector<std::string> forceupdate;  // "name=value" lines
    std::string headerImg;
    std::string headerurl{kServerRoot};
    std::string backgroundImg;
    std::string backgroundMask;
    std::string closeImg;
    std::string minimizeImg;
    std::string cancel;
    std::string progress{"下载速度: %s/s, 剩余时间 %d 秒"};
    std::string caption{"Morvik下载器 2010"};
    std::string webLink1URL;
    std::string webLink1Text;
    std::string webLink1Color;
    std::string webLink2URL;
    std::string webLink2Text;
    std::string webLink2Color;
    std::string descriptionColor;
    std::string CaptionColor;
    std::string ProgressColor;
    std::string description;
    int imgHeaderX = 0;
    int imgHeaderY = 0;
    int imgCloseX = 0;
    int imgCloseY = 0;
    int captionX = 0;
    int captionY = 0;
    int webLink1X = 0;
    int webLink1Y = 0;
    int webLink2X = 0;
    int webLink2Y = 0;
    int closeX = 0;
    int closeY = 0;
    int closeW = 0;
    int closeH = 0;
    int minimizeX = 0;
    int minimizeY = 0;
    int minimizeW = 0;
    int minimizeH = 0;
    // What the server publishes about its Setup packages, keyed by version
    // ("name=value" lines, merged like forceupdate).
    std::vector<std::string> md5;
    std::vector<std::string> sha256;
    std::vector<std::string> signature;
};

// The sections of the configuration files that the launcher reads.
inline constexpr std::string_view kUiSection = "ui";
inline constexpr std::string_view kForceUpdateSection = "forceupdate";
inline constexpr std::string_view kMd5Section = "md5";
inline constexpr std::string_view kSha256Section = "sha256";
inline constexpr std::string_view kSignatureSection = "signature";

// What the launcher does with a [ui] value.
enum class UiKind {
    kText,         // shown or held as written
    kNumber,       // a position or size, read by ParseLeadingInt
    kColor,        // "#rrggbb", read by parseColor
    kPicture,      // URL of a skin picture the window shows, decoded by its extension
    kKeptPicture,  // the same, fetched and kept, never applied: the window stays a rectangle
    kLink,         // opened in the browser when clicked
    kDescription,  // format given the game's name (%s)
    kProgress,     // format given the speed text (%s) and the remaining seconds (%d)
};

struct UiField {
    std::string_view key;
    UiKind kind;
    std::string LauncherConfig::*text = nullptr;  // every kind but kNumber
    int LauncherConfig::*number = nullptr;        // kNumber
};

// Every [ui] key the launcher reads, in record order; names match without
// regard to ASCII case.
inline constexpr UiField kUiFields[] = {
    {"headerImg", UiKind::kPicture, &LauncherConfig::headerImg},
    {"headerurl", UiKind::kLink, &LauncherConfig::headerurl},
    {"backgroundImg", UiKind::kPicture, &LauncherConfig::backgroundImg},
    {"backgroundMask", UiKind::kKeptPicture, &LauncherConfig::backgroundMask},
    {"closeImg", UiKind::kPicture, &LauncherConfig::closeImg},
    // Loaded and held, never fetched: any text will do.
    {"minimizeImg", UiKind::kText, &LauncherConfig::minimizeImg},
    {"cancel", UiKind::kText, &LauncherConfig::cancel},
    {"progress", UiKind::kProgress, &LauncherConfig::progress},
    {"caption", UiKind::kText, &LauncherConfig::caption},
    {"webLink1URL", UiKind::kLink, &LauncherConfig::webLink1URL},
    {"webLink1Text", UiKind::kText, &LauncherConfig::webLink1Text},
    {"webLink1Color", UiKind::kColor, &LauncherConfig::webLink1Color},
    {"webLink2URL", UiKind::kLink, &LauncherConfig::webLink2URL},
    {"webLink2Text", UiKind::kText, &LauncherConfig::webLink2Text},
    {"webLink2Color", UiKind::kColor, &LauncherConfig::webLink2Color},
    {"descriptionColor", UiKind::kColor, &LauncherConfig::descriptionColor},
    {"CaptionColor", UiKind::kColor, &LauncherConfig::CaptionColor},
    {"ProgressColor", UiKind::kColor, &LauncherConfig::ProgressColor},
    {"description", UiKind::kDescription, &LauncherConfig::description},
    {"imgHeaderX", UiKind::kNumber, nullptr, &LauncherConfig::imgHeaderX},
    {"imgHeaderY", UiKind::kNumber, nullptr, &LauncherConfig::imgHeaderY},
    {"imgCloseX", UiKind::kNumber, nullptr, &LauncherConfig::imgCloseX},
    {"imgCloseY", UiKind::kNumber, nullptr, &LauncherConfig::imgCloseY},
    {"captionX", UiKind::kNumber, nullptr, &LauncherConfig::captionX},
    {"captionY", UiKind::kNumber, nullptr, &LauncherConfig::captionY},
    {"webLink1X", UiKind::kNumber, nullptr, &LauncherConfig::webLink1X},
    {"webLink1Y", UiKind::kNumber, nullptr, &LauncherConfig::webLink1Y},
    {"webLink2X", UiKind::kNumber, nullptr, &LauncherConfig::webLink2X},
    {"webLink2Y", UiKind::kNumber, nullptr, &LauncherConfig::webLink2Y},
    {"closeX", UiKind::kNumber, nullptr, &LauncherConfig::closeX},
    {"closeY", UiKind::kNumber, nullptr, &LauncherConfig::closeY},
    {"closeW", UiKind::kNumber, nullptr, &LauncherConfig::closeW},
    {"closeH", UiKind::kNumber, nullptr, &LauncherConfig::closeH},
    {"minimizeX", UiKind::kNumber, nullptr, &LauncherConfig::minimizeX},
    {"minimizeY", UiKind::kNumber, nullptr, &LauncherConfig::minimizeY},
    {"minimizeW", UiKind::kNumber, nullptr, &LauncherConfig::minimizeW},
    {"minimizeH", UiKind::kNumber, nullptr, &LauncherConfig::minimizeH},
};

struct ListSection {
    std::string_view name;
    std::vector<std::string> LauncherConfig::*entries;
};

// The sections read as "name=value" lists, in the order they are merged.
inline constexpr ListSection kListSections[] = {
    {kForceUpdateSection, &LauncherConfig::forceupdate},
    {kMd5Section, &LauncherConfig::md5},
    {kSha256Section, &LauncherConfig::sha256},
    {kSignatureSection, &LauncherConfig::signature},
};

std::string DefaultSetupUrl(std::string_view serverRoot);  // + "/download/mvsetup.exe"

// Loads one configuration text (UTF-8) over the record: present [ui] keys
// overwrite, absent ones keep the field; entries of the list sections
// replace an entry of the same name in place or are appended.
void LoadFromText(LauncherConfig& config, std::string_view utf8Text);

struct ForceEntry {
    size_t index;       // position in config.forceupdate
    std::string value;  // text after the first '='
};

// The first entry whose lower-cased text begins with the lower-cased name and
// "="; an empty name finds nothing.
std::optional<ForceEntry> FindEntry(const LauncherConfig& config, std::string_view name);

// The same look-up in any "name=value" list of the record.
std::optional<ForceEntry> FindListEntry(const std::vector<std::string>& list,
                                        std::string_view name);

// The md5, sha256 and signature values published for the version that the
// "latest" entry names; all empty when there is no such entry.
PackageChecks PackageChecksFor(const LauncherConfig& config);

// The [forceupdate] entry "url", or the default setup URL of kServerRoot when
// there is none.
std::string SetupPackageUrl(const LauncherConfig& config);

// "#rrggbb" to a colour value; white when the text does not start with '#'.
ColorValue parseColor(std::string_view text);

}  // namespace kelto
