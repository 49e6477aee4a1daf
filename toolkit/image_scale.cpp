#include "toolkit/image_scale.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kelto {

namespace {

constexpr int kChannels = 4;
constexpr int kOne = 256;  // weights are in 1/256ths

// Where one column (or row) of the result samples the picture: two
// neighbouring source pixels and the weight of the second.
struct Tap {
    int first = 0;
    int second = 0;
    int weight = 0;
};

// The centre of result pixel i lies at (i + 1/2) * from / to - 1/2 in the
// picture; outside the picture the edge pixel repeats.
std::vector<Tap> TapsFor(int from, int to) {
    std::vector<Tap> taps(static_cast<size_t>(to));
    const int64_t last = (int64_t{from} - 1) * kOne;
    for (int i = 0; i < to; ++i) {
        int64_t at = (2 * int64_t{i} + 1) * from * kOne / (2 * int64_t{to}) - kOne / 2;
        at = std::clamp<int64_t>(at, 0, last);
        int first = static_cast<int>(at / kOne);
        taps[static_cast<size_t>(i)] = {first, std::min(first + 1, from - 1),
                                        static_cast<int>(at % kOne)};
    }
    return taps;
}

const uint8_t* PixelAt(const Image& picture, int x, int y) {
    return picture.bgra.data() + (static_cast<size_t>(y) * picture.width + x) * kChannels;
}

void BlendPixel(const Image& picture, const Tap& x, const Tap& y, uint8_t* out) {
    const uint8_t* a = PixelAt(picture, x.first, y.first);
    const uint8_t* b = PixelAt(picture, x.second, y.first);
    const uint8_t* c = PixelAt(picture, x.first, y.second);
    const uint8_t* d = PixelAt(picture, x.second, y.second);
    for (int k = 0; k < kChannels; ++k) {
        int top = a[k] * (kOne - x.weight) + b[k] * x.weight;
        int bottom = c[k] * (kOne - x.weight) + d[k] * x.weight;
        out[k] = static_cast<uint8_t>(
            (top * (kOne - y.weight) + bottom * y.weight + kOne * kOne / 2) / (kOne * kOne));
    }
}

bool Fits(Size size) {
    return size.width > 0 && size.height > 0 && size.width <= kMaxImageSide &&
           size.height <= kMaxImageSide && int64_t{size.width} * size.height <= kMaxImagePixels;
}

}  // namespace

Image ResizeImage(const Image& picture, Size size) {
    if (IsEmpty(picture) || !Fits(size) ||
        picture.bgra.size() < static_cast<size_t>(picture.width) * picture.height * kChannels) {
        return {};
    }
    if (size == Size{picture.width, picture.height}) {
        return picture;
    }
    std::vector<Tap> columns = TapsFor(picture.width, size.width);
    std::vector<Tap> rows = TapsFor(picture.height, size.height);
    Image out{size.width, size.height,
              std::vector<uint8_t>(static_cast<size_t>(size.width) * size.height * kChannels)};
    uint8_t* next = out.bgra.data();
    for (const Tap& row : rows) {
        for (const Tap& column : columns) {
            BlendPixel(picture, column, row, next);
            next += kChannels;
        }
    }
    return out;
}

}  // namespace kelto
