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

std::string DefaultSetupUrl();  // server root + "/download/mvsetup.exe"

// Loads one configuration text (UTF-8) over the record: present keys
// overwrite, absent ones keep the field; [forceupdate], [md5], [sha256] and
// [signature] entries replace an entry of the same name in place or are
// appended.
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

// The [forceupdate] entry "url", or the default setup URL when there is none.
std::string SetupPackageUrl(const LauncherConfig& config);

// "#rrggbb" to a colour value; white when the text does not start with '#'.
ColorValue parseColor(std::string_view text);

}  // namespace kelto
