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

// Every Rect here has its left and top within kMinCoordinate..kMaxCoordinate
// and its size within 0..kMaxExtent.
struct ProgressLayout {
    Rect header, close, minimize, caption, link1, link2, progressBar, description, status;
};

struct WindowFrame {
    Size outer;          // 400 by 200, or the background picture's size
    bool framed = true;  // false when the background picture took the frame off
};

// The window as it is made: 400 by 200, centred on a screen of the given
// size (halves rounded down, also when the screen is smaller).
Rect CenteredWindowRect(Size screen);

// The window's size and frame once the skin pictures are known.
WindowFrame SkinnedWindowFrame(const SkinFacts& skin);

// The geometry of every element after construction, the skin step and the
// layout pass. clientWidth is the window's client width as the platform
// reports it once the SkinnedWindowFrame is applied.
ProgressLayout LayoutProgressWindow(const LauncherConfig& c, const SkinFacts& skin,
                                    const TextSizes& text, int clientWidth);

}  // namespace kelto
