// Geometry of the progress window: where every element lies once the skin
// pictures are known. Pure arithmetic over the configuration and the measured
// sizes, so the Win32 layer only applies the rectangles it is given.
#pragma once

#include "config/launcher_config.h"
#include "toolkit/geometry.h"

namespace kelto {

// What the fetched skin pictures gave.
struct SkinFacts {
    bool headerShown = false;   // header answered 200 and decoded to a width other than 0
    Size header;                // its size when shown
    bool closeFetched = false;  // close image answered 200 (its size may be 0 by 0)
    Size close;
    Size background;  // 0 by 0 when there is no usable background picture
};

// The measured size of each link's text in its font; the links size
// themselves to their text.
struct TextSizes {
    Size link1;
    Size link2;
};

// The screen density the configuration's pixels are given in.
inline constexpr int kBaseDpi = 96;

// value * dpi / 96 rounded to the nearest, halves away from zero (as
// MulDiv rounds): the one rule by which every configured position and size,
// the window's size, the pictures and the font heights follow the window's
// DPI. A dpi of 0 or less is taken as 96, any other is held to 24..960.
// value must lie within +-2^52.
int64_t ScaleToDpi(int64_t value, int dpi);
// Both sides scaled and clamped to 0..kMaxExtent.
Size ScaleToDpi(Size size, int dpi);

// Every Rect here has its left and top within kMinCoordinate..kMaxCoordinate
// and its size within 0..kMaxExtent.
struct ProgressLayout {
    Rect header, close, minimize, caption, link1, link2, progressBar, description, status;
};

struct WindowFrame {
    Size outer;          // 400 by 200, or the background picture's size
    bool framed = true;  // false when the background picture took the frame off
};

// The window as it is made: 400 by 200 scaled to dpi, centred on a screen
// of the given size (halves rounded down, also when the screen is smaller).
Rect CenteredWindowRect(Size screen, int dpi = kBaseDpi);

// The window's size and frame once the skin pictures are known; skin holds
// the pictures' own sizes, the outer size is scaled to dpi.
WindowFrame SkinnedWindowFrame(const SkinFacts& skin, int dpi = kBaseDpi);

// The geometry of every element after construction, the skin step and the
// layout pass, in pixels of a screen of the given dpi: skin holds the
// pictures' own sizes (scaled here), text and clientWidth are measured at
// that dpi already. clientWidth is the window's client width as the
// platform reports it once the SkinnedWindowFrame is applied.
ProgressLayout LayoutProgressWindow(const LauncherConfig& c, const SkinFacts& skin,
                                    const TextSizes& text, int clientWidth, int dpi = kBaseDpi);

// Whether a point of the window's client area at dpi lies in the close
// rectangle the configuration gives (closeX, closeY, closeW, closeH scaled),
// both edges included.
bool InCloseRectangle(const LauncherConfig& c, int dpi, Point point);

}  // namespace kelto
