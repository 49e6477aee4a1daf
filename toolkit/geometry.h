// Small value types for positions and sizes in pixels, and the range the
// window manager carries. Portable: the Win32 layer turns them into RECT and
// POINT at the call.
#pragma once

#include <algorithm>
#include <cstdint>

namespace kelto {

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    constexpr int Right() const { return left + width; }
    constexpr int Bottom() const { return top + height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Child positions and sizes travel in the 16-bit halves of WM_MOVE, WM_SIZE
// and the mouse messages, and the platform cuts window sizes to 32767, so a
// wider value would be reported back as something else than what was set.
// Every rectangle handed to the platform is clamped to this range first;
// within it Right() and Bottom() never overflow an int.
inline constexpr int kMinCoordinate = INT16_MIN;
inline constexpr int kMaxCoordinate = INT16_MAX;
inline constexpr int kMaxExtent = INT16_MAX;

constexpr int ClampCoordinate(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, kMinCoordinate, kMaxCoordinate));
}

// A negative size is no size: the platform makes it 0.
constexpr int ClampExtent(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, 0, kMaxExtent));
}

// The kinds of child element a window is made of, and the size each has
// when it is made.
enum class ElementKind {
    kLabel,       // "STATIC" 0x5000018C
    kRightLabel,  // "STATIC" 0x50000182
    kPictureBox,  // a label without text
    kProgressBar  // "msctls_progress32" WS_CHILD | WS_VISIBLE
};

constexpr Size SizeWhenMade(ElementKind kind) {
    switch (kind) {
        case ElementKind::kPictureBox:
            return {64, 64};
        case ElementKind::kProgressBar:
            return {300, 20};
        default:
            return {64, 22};
    }
}

}  // namespace kelto
