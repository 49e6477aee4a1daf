#include "ui/layout.h"

#include <algorithm>

namespace kelto {

namespace {

// Every element is placed this far from the window's edge and from the
// element above it.
constexpr int kMargin = 5;

constexpr Size kLabelSize{64, 22};
constexpr Size kPictureBoxSize{64, 64};
constexpr Size kProgressBarSize{300, 20};
constexpr Size kFramedWindowSize{400, 200};

// Positions and sizes come from the server as any 32-bit value, and sums of
// them overflow an int, so all arithmetic here runs in 64 bits. The results
// are then clamped to what the window manager carries faithfully: child
// positions and sizes travel in the 16-bit halves of WM_MOVE and WM_SIZE, and
// the platform cuts window sizes to 32767, so a wider value would be reported
// back as something else than what was set. Clamping once here also keeps
// Right() and Bottom() within an int.
int ClampCoordinate(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, kMinCoordinate, kMaxCoordinate));
}

int ClampExtent(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, 0, kMaxExtent));
}

// Moving keeps the size, resizing keeps the left and top, as on the platform.
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
Rect NewElement(Size kindSize) {
    return {kMargin, kMargin, kindSize.width, kindSize.height};
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
// has. A negative size is treated the same: it describes no rectangle, the
// platform would make it an empty area that cannot be clicked, and on a
// frameless window the close area is the user's only way out.
void ResizeWhenPositive(Rect& r, int width, int height) {
    if (width > 0) {
        SetWidth(r, width);
    }
    if (height > 0) {
        SetHeight(r, height);
    }
}

// The geometry the elements get when they are made, in the order they are
// made (the place-below rule depends on that order).
void BuildElements(ProgressLayout& l, const TextSizes& text) {
    // The header is the first element, so placing it below changes nothing.
    l.header = NewElement(kPictureBoxSize);
    SetLeft(l.header, 0);
    SetTop(l.header, 25);
    SetHeight(l.header, 80);

    l.close = NewElement(kPictureBoxSize);
    l.minimize = NewElement(kPictureBoxSize);

    // The links size themselves to their text as soon as it is set.
    l.link1 = NewElement(kLabelSize);
    PlaceBelow(l.link1, l.minimize);
    SetSize(l.link1, text.link1);

    l.link2 = NewElement(kLabelSize);
    PlaceBelow(l.link2, l.link1);
    SetSize(l.link2, text.link2);

    l.caption = NewElement(kLabelSize);
    SetHeight(l.caption, 20);

    l.progressBar = NewElement(kProgressBarSize);
    PlaceBelow(l.progressBar, l.caption);

    l.description = NewElement(kLabelSize);
    PlaceBelow(l.description, l.progressBar);
    SetWidth(l.description, 286);
    SetHeight(l.description, 20);

    // The status line starts with no text; it takes its text's size only when
    // the first progress text arrives, so it is 20 high until then.
    l.status = NewElement(kLabelSize);
    PlaceBelow(l.status, l.description);
    SetWidth(l.status, 286);
    SetHeight(l.status, 20);

    l.windowOuter = kFramedWindowSize;
    l.framed = true;
}

// Sizes the header, the close area and the window to the fetched pictures.
// A hidden header keeps its geometry: the layout pass still measures from it.
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
    if (skin.background.width > 0) {
        l.windowOuter = {ClampExtent(skin.background.width), ClampExtent(skin.background.height)};
        l.framed = false;
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
    ResizeWhenPositive(l.close, c.closeW, c.closeH);

    SetLeft(l.minimize, c.minimizeX);
    SetTop(l.minimize, c.minimizeY);
    ResizeWhenPositive(l.minimize, c.minimizeW, c.minimizeH);
}

}  // namespace

Point CenteredWindowOrigin(Size screen) {
    // Arithmetic shifts round down, also for a screen narrower than the window.
    return {static_cast<int>((int64_t{screen.width} - kFramedWindowSize.width) >> 1),
            static_cast<int>((int64_t{screen.height} - kFramedWindowSize.height) >> 1)};
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
