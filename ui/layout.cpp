#include "ui/layout.h"

#include <algorithm>

namespace kelto {

namespace {

// Every element is placed this far from the window's edge and from the
// element above it.
constexpr int kMargin = 5;

constexpr Size kFramedWindowSize{400, 200};

constexpr int kMinDpi = 24;
constexpr int kMaxDpi = 960;

// The configuration's pixels at the window's DPI; every number of the
// layout goes through it.
struct Scaler {
    int dpi = kBaseDpi;
    int64_t operator()(int64_t value) const { return ScaleToDpi(value, dpi); }
};

// Positions and sizes come from the server as any 32-bit value, and sums of
// them overflow an int, so all arithmetic here runs in 64 bits; each result
// is clamped once, where it is stored. Moving keeps the size, resizing keeps
// the left and top, as on the platform.
void SetLeft(Rect& r, int64_t left) {
    r.left = ClampCoordinate(left);
}

void SetTop(Rect& r, int64_t top) {
    r.top = ClampCoordinate(top);
}

void SetWidth(Rect& r, int64_t width) {
    r.width = ClampExtent(width);
}

void SetHeight(Rect& r, int64_t height) {
    r.height = ClampExtent(height);
}

void SetSize(Rect& r, Size size) {
    SetWidth(r, size.width);
    SetHeight(r, size.height);
}

int64_t BottomOf(const Rect& r) {
    return int64_t{r.top} + r.height;
}

// A new element starts at the window's margin with its kind's size.
Rect NewElement(ElementKind kind, Scaler s) {
    Rect r;
    SetLeft(r, s(kMargin));
    SetTop(r, s(kMargin));
    SetSize(r, ScaleToDpi(SizeWhenMade(kind), s.dpi));
    return r;
}

// Puts an element one margin below the element made just before it.
void PlaceBelow(Rect& r, const Rect& previous, Scaler s) {
    SetTop(r, BottomOf(previous) + s(kMargin));
}

// A configured position counts only when it is greater than 0; 0 or less
// leaves the element where it is.
void MoveWhenPositive(Rect& r, int x, int y, Scaler s) {
    if (x > 0) {
        SetLeft(r, s(x));
    }
    if (y > 0) {
        SetTop(r, s(y));
    }
}

// A configured size of 0 means "not given" and keeps the size the element
// has; any other is applied as it stands, a negative one giving an empty
// area as the platform would make it.
void ResizeUnlessZero(Rect& r, int width, int height, Scaler s) {
    if (width != 0) {
        SetWidth(r, s(width));
    }
    if (height != 0) {
        SetHeight(r, s(height));
    }
}

// The geometry the elements get when they are made, in the order they are
// made (the place-below rule depends on that order).
void BuildElements(ProgressLayout& l, const TextSizes& text, Scaler s) {
    // The header is the first element, so placing it below changes nothing.
    l.header = NewElement(ElementKind::kPictureBox, s);
    SetLeft(l.header, 0);
    SetTop(l.header, s(25));
    SetHeight(l.header, s(80));

    l.close = NewElement(ElementKind::kPictureBox, s);
    l.minimize = NewElement(ElementKind::kPictureBox, s);

    // The links size themselves to their text as soon as it is set.
    l.link1 = NewElement(ElementKind::kLabel, s);
    PlaceBelow(l.link1, l.minimize, s);
    SetSize(l.link1, text.link1);

    l.link2 = NewElement(ElementKind::kLabel, s);
    PlaceBelow(l.link2, l.link1, s);
    SetSize(l.link2, text.link2);

    l.caption = NewElement(ElementKind::kLabel, s);
    SetHeight(l.caption, s(20));

    l.progressBar = NewElement(ElementKind::kProgressBar, s);
    PlaceBelow(l.progressBar, l.caption, s);

    l.description = NewElement(ElementKind::kLabel, s);
    PlaceBelow(l.description, l.progressBar, s);
    SetWidth(l.description, s(286));
    SetHeight(l.description, s(20));

    // The status line starts with no text; it takes its text's size only when
    // the first progress text arrives, so it is 20 high until then.
    l.status = NewElement(ElementKind::kLabel, s);
    PlaceBelow(l.status, l.description, s);
    SetWidth(l.status, s(286));
    SetHeight(l.status, s(20));
}

// Sizes the header and the close area to the fetched pictures, which are
// drawn scaled by the same rule. A hidden header keeps its geometry: the
// layout pass still measures from it.
void ApplySkin(ProgressLayout& l, const SkinFacts& skin, Scaler s) {
    if (skin.headerShown) {
        SetHeight(l.header, s(skin.header.height));
        SetWidth(l.header, s(skin.header.width));
    }
    // A close image that answered but did not decode still sizes the area,
    // to 0 by 0; the configured close size may then restore it.
    if (skin.closeFetched) {
        SetHeight(l.close, s(skin.close.height));
        SetWidth(l.close, s(skin.close.width));
    }
}

// The layout pass, once the pictures are known.
void ApplyConfig(ProgressLayout& l, const LauncherConfig& c, int clientWidth, Scaler s) {
    const int64_t margin = s(kMargin);
    SetTop(l.header, s(28));
    MoveWhenPositive(l.header, c.imgHeaderX, c.imgHeaderY, s);
    // closeX and closeY below always replace this position.
    MoveWhenPositive(l.close, c.imgCloseX, c.imgCloseY, s);

    SetWidth(l.caption, int64_t{clientWidth} - 2 * margin);
    MoveWhenPositive(l.caption, c.captionX, c.captionY, s);
    MoveWhenPositive(l.link1, c.webLink1X, c.webLink1Y, s);
    MoveWhenPositive(l.link2, c.webLink2X, c.webLink2Y, s);

    // The description, bar and status line hang under the header box, inset
    // by the margin on both sides.
    SetLeft(l.description, int64_t{l.header.left} + margin);
    SetTop(l.description, BottomOf(l.header) + margin);

    SetLeft(l.progressBar, int64_t{l.header.left} + margin);
    SetWidth(l.progressBar, int64_t{l.header.width} - 2 * margin);
    SetTop(l.progressBar, BottomOf(l.description) + margin);

    SetWidth(l.description, l.progressBar.width);

    SetWidth(l.status, l.progressBar.width);
    SetLeft(l.status, l.progressBar.left);
    SetTop(l.status, BottomOf(l.progressBar) + margin);

    // The close and minimise positions apply whatever their values: 0 puts
    // an area on the window's edge.
    SetLeft(l.close, s(c.closeX));
    SetTop(l.close, s(c.closeY));
    ResizeUnlessZero(l.close, c.closeW, c.closeH, s);

    SetLeft(l.minimize, s(c.minimizeX));
    SetTop(l.minimize, s(c.minimizeY));
    ResizeUnlessZero(l.minimize, c.minimizeW, c.minimizeH, s);
}

}  // namespace

int64_t ScaleToDpi(int64_t value, int dpi) {
    const int64_t d = dpi <= 0 ? kBaseDpi : std::clamp(dpi, kMinDpi, kMaxDpi);
    const int64_t product = value * d;
    const int64_t half = kBaseDpi / 2;
    return product >= 0 ? (product + half) / kBaseDpi : -((half - product) / kBaseDpi);
}

Size ScaleToDpi(Size size, int dpi) {
    return {ClampExtent(ScaleToDpi(size.width, dpi)), ClampExtent(ScaleToDpi(size.height, dpi))};
}

Rect CenteredWindowRect(Size screen, int dpi) {
    Size size = ScaleToDpi(kFramedWindowSize, dpi);
    // Arithmetic shifts round down, also for a screen narrower than the window.
    return {ClampCoordinate((int64_t{screen.width} - size.width) >> 1),
            ClampCoordinate((int64_t{screen.height} - size.height) >> 1), size.width, size.height};
}

WindowFrame SkinnedWindowFrame(const SkinFacts& skin, int dpi) {
    if (skin.background.width <= 0) {
        return {ScaleToDpi(kFramedWindowSize, dpi), true};
    }
    return {ScaleToDpi(skin.background, dpi), false};
}

ProgressLayout LayoutProgressWindow(const LauncherConfig& c, const SkinFacts& skin,
                                    const TextSizes& text, int clientWidth, int dpi) {
    const Scaler s{dpi};
    ProgressLayout layout;
    BuildElements(layout, text, s);
    ApplySkin(layout, skin, s);
    ApplyConfig(layout, c, clientWidth, s);
    return layout;
}

// Computed wide, as the sizes come from the server.
bool InCloseRectangle(const LauncherConfig& c, int dpi, Point point) {
    const Scaler s{dpi};
    const int64_t left = s(c.closeX);
    const int64_t top = s(c.closeY);
    return left <= point.x && point.x <= left + s(c.closeW) && top <= point.y &&
           point.y <= top + s(c.closeH);
}

}  // namespace kelto
