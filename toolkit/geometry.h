// Small value types for positions and sizes in pixels. Portable: the Win32
// layer turns them into RECT and POINT at the call.
#pragma once

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

}  // namespace kelto
