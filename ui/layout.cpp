#include "ui/layout.h"

namespace kelto {

namespace {

// Every element is placed this far from the window's edge and from the
// element above it.
constexpr int kMargin = 5;

constexpr Size kFramedWindowSize{400, 200};

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
Rect NewElement(ElementKind kind) {
    Size size = SizeWhenMade(kind);
    return {kMargin, kMargin, size.width, size.height};
}

// Puts an element one margin below the element made just before it.
void PlaceBelow(Rect& r, const Rect& previous) {
    SetTop(r, BottomOf(previous) + kMargin);
}

// A configured position counts only when it is greater than 0; 0 or less
// leaves the element where it is.
void MoveWhenPositive(Rect& r, int x, int y) {
    if (x > 0) {
        SetLeft(r, x);
    }
    if (y > 0) {
        SetTop(r, y);
    }
}

// A configured size of 0 means "not given" and keeps the size the element
// has; any other is applied as it stands, a negative one giving an empty
// area as the platform would make it.
void ResizeUnlessZero(Rect& r, int width, int height) {
    if (width != 0) {
        SetWidth(r, width);
    }
    if (height != 0) {
        SetHeight(r, height);
    }
}

// The geometry the elements get when they are made, in the order they are
// made (the place-below rule depends on that order).
void BuildElements(ProgressLayout& l, const TextSizes& text) {
    // The header is the first element, so placing it below changes nothing.
    l.header = NewElement(ElementKind::kPictureBox);
    SetLeft(l.header, 0);
    SetTop(l.header, 25);
    SetHeight(l.header, 80);

    l.close = NewElement(ElementKind::kPictureBox);
    l.minimize = NewElement(ElementKind::kPictureBox);

    // The links size themselves to their text as soon as it is set.
    l.link1 = NewElement(ElementKind::kLabel);
    PlaceBelow(l.link1, l.minimize);
    SetSize(l.link1, text.link1);

    l.link2 = NewElement(ElementKind::kLabel);
    PlaceBelow(l.link2, l.link1);
    SetSize(l.link2, text.link2);

    l.caption = NewElement(ElementKind::kLabel);
    SetHeight(l.caption, 20);

    l.progressBar = NewElement(ElementKind::kProgressBar);
    PlaceBelow(l.progressBar, l.caption);

    l.description = NewElement(ElementKind::kLabel);
    PlaceBelow(l.description, l.progressBar);
    SetWidth(l.description, 286);
    SetHeight(l.description, 20);

    // The status line starts with no text; it takes its text's size only when
    // the first progress text arrives, so it is 20 high until then.
    l.status = NewElement(ElementKind::kLabel);
    PlaceBelow(l.status, l.description);
    SetWidth(l.status, 286);
    SetHeight(l.status, 20);
}

// Sizes the header and the close area to the fetched pictures. A hidden
// header keeps its geometry: the layout pass still measures from it.
void ApplySkin(ProgressLayout& l, const SkinFacts& skin) {
    if (skin.headerShown) {
        SetHeight(l.header, skin.header.height);
        SetWidth(l.header, skin.header.width);
    }
    // A close image that answered but did not decode still sizes the area,
    // to 0 by 0; the configured close size may then restore it.
    if (skin.closeFetched) {
        SetHeight(l.close, skin.close.height);
        SetWidth(l.close, skin.close.width);
    }
}

// The layout pass, once the pictures are known.
void ApplyConfig(ProgressLayout& l, const LauncherConfig& c, int clientWidth) {
    SetTop(l.header, 28);
    MoveWhenPositive(l.header, c.imgHeaderX, c.imgHeaderY);
    // closeX and closeY below always replace this position.
    MoveWhenPositive(l.close, c.imgCloseX, c.imgCloseY);

    SetWidth(l.caption, int64_t{clientWidth} - 10);
    MoveWhenPositive(l.caption, c.captionX, c.captionY);
    MoveWhenPositive(l.link1, c.webLink1X, c.webLink1Y);
    MoveWhenPositive(l.link2, c.webLink2X, c.webLink2Y);

    // The description, bar and status line hang under the header box, inset
    // by the margin on both sides.
    SetLeft(l.description, int64_t{l.header.left} + kMargin);
    SetTop(l.description, BottomOf(l.header) + kMargin);

    SetLeft(l.progressBar, int64_t{l.header.left} + kMargin);
    SetWidth(l.progressBar, int64_t{l.header.width} - 2 * kMargin);
    SetTop(l.progressBar, BottomOf(l.description) + kMargin);

    SetWidth(l.description, l.progressBar.width);

    SetWidth(l.status, l.progressBar.width);
    SetLeft(l.status, l.progressBar.left);
    SetTop(l.status, BottomOf(l.progressBar) + kMargin);

    // The close and minimise positions apply whatever their values: 0 puts
    // an area on the window's edge.
    SetLeft(l.close, c.closeX);
    SetTop(l.close, c.closeY);
    ResizeUnlessZero(l.close, c.closeW, c.closeH);

    SetLeft(l.minimize, c.minimizeX);
    SetTop(l.minimize, c.minimizeY);
    ResizeUnlessZero(l.minimize, c.minimizeW, c.minimizeH);
}

}  // namespace

Rect CenteredWindowRect(Size screen) {
    // Arithmetic shifts round down, also for a screen narrower than the window.
    return {ClampCoordinate((int64_t{screen.width} - kFramedWindowSize.width) >> 1),
            ClampCoordinate((int64_t{screen.height} - kFramedWindowSize.height) >> 1),
            kFramedWindowSize.width, kFramedWindowSize.height};
}

WindowFrame SkinnedWindowFrame(const SkinFacts& skin) {
    if (skin.background.width <= 0) {
        return {kFramedWindowSize, true};
    }
    return {{ClampExtent(skin.background.width), ClampExtent(skin.background.height)}, false};
}

ProgressLayout LayoutProgressWindow(const LauncherConfig& c, const SkinFacts& skin,
                                    const TextSizes& text, int clientWidth) {
    ProgressLayout layout;
    BuildElements(layout, text);
    ApplySkin(layout, skin);
    ApplyConfig(layout, c, clientWidth);
    return layout;
}

}  // namespace kelto
