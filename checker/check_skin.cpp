#include <algorithm>
#include <optional>
#include <span>

#include "checker/check_internal.h"
#include "toolkit/image_decode.h"
#include "toolkit/product.h"
#include "ui/layout.h"

namespace kelto {

namespace {

// ---- pictures and layout ----

// The [ui] field read into that member of the record, found while compiling:
// a member that no field reads does not build.
consteval const UiField& UiFieldOf(std::string LauncherConfig::*text) {
    return *std::ranges::find(kUiFields, text, &UiField::text);
}

consteval const UiField& UiFieldOf(int LauncherConfig::*number) {
    return *std::ranges::find(kUiFields, number, &UiField::number);
}

// A picture the window shows is a part of it gone when missing; the mask is
// fetched and never used, so a missing one costs a request only.
Severity MissingPictureSeverity(const UiField& picture) {
    return picture.kind == UiKind::kKeptPicture ? Severity::kWarning : Severity::kError;
}

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

PictureSeen CheckPicture(Checking& c, const UiField& picture) {
    PictureSeen seen;
    const std::string& url = c.config.*picture.text;
    if (url.empty()) {
        return seen;
    }
    TreeTarget target = TargetOf(url, c.options.serverHost);
    if (!target.onServer) {
        seen.known = false;  // only its extension could be checked
        return seen;
    }
    Place at = LocateOr(c, kUiSection, picture.key);
    std::string name(picture.key);
    if (target.path.empty()) {
        Report(c, at, Severity::kError,
               name + " " + Quote(url) + " names no file inside the server's tree");
        return seen;
    }
    TreeFile file = c.read(target.path, kMaxServerFileBytes);
    if (!file.found) {
        Report(c, at, MissingPictureSeverity(picture),
               name + ": " + target.path + " is not on the server");
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
    bool whole;               // false: only its top-left corner must lie on the picture
    const UiField& placedBy;  // for the message's line
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
        {"header picture", l.header, true, UiFieldOf(&LauncherConfig::imgHeaderX),
         skin.headerShown},
        {"close area", l.close, true, UiFieldOf(&LauncherConfig::closeX), true},
        {"minimise area", l.minimize, true, UiFieldOf(&LauncherConfig::minimizeX), true},
        {"caption", l.caption, false, UiFieldOf(&LauncherConfig::captionX), !cfg.caption.empty()},
        {"link 1", l.link1, false, UiFieldOf(&LauncherConfig::webLink1X),
         !cfg.webLink1Text.empty()},
        {"link 2", l.link2, false, UiFieldOf(&LauncherConfig::webLink2X),
         !cfg.webLink2Text.empty()},
        {"description line", l.description, true, UiFieldOf(&LauncherConfig::imgHeaderY), true},
        {"progress bar", l.progressBar, true, UiFieldOf(&LauncherConfig::imgHeaderY), true},
        {"status line", l.status, true, UiFieldOf(&LauncherConfig::imgHeaderY), true},
    };
    const Size bg = background.size;
    const std::string_view backgroundKey = UiFieldOf(&LauncherConfig::backgroundImg).key;
    for (const LaidOut& e : elements) {
        const Rect& r = e.rect;
        bool inside =
            e.whole ? r.left >= 0 && r.top >= 0 && r.Right() <= bg.width && r.Bottom() <= bg.height
                    : r.left >= 0 && r.top >= 0 && r.left < bg.width && r.top < bg.height;
        if (!e.shown || inside) {
            continue;
        }
        std::optional<Place> at = Locate(c, kUiSection, e.placedBy.key);
        std::string where = "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ")";
        if (e.whole) {
            where += " " + std::to_string(r.width) + " by " + std::to_string(r.height);
        }
        Report(c, at ? *at : LocateOr(c, kUiSection, backgroundKey), Severity::kWarning,
               std::string(e.what) + " at " + where + " lies outside the " +
                   std::to_string(bg.width) + " by " + std::to_string(bg.height) +
                   " background picture");
    }
}

}  // namespace

void CheckSkin(Checking& c) {
    // In the order the launcher fetches them.
    PictureSeen header = CheckPicture(c, UiFieldOf(&LauncherConfig::headerImg));
    PictureSeen close = CheckPicture(c, UiFieldOf(&LauncherConfig::closeImg));
    CheckPicture(c, UiFieldOf(&LauncherConfig::backgroundMask));
    PictureSeen background = CheckPicture(c, UiFieldOf(&LauncherConfig::backgroundImg));
    CheckLayout(c, header, close, background);
}

}  // namespace kelto
