#include "toolkit/image_scale.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelto {
namespace {

// A picture of one row whose pixels have the given blue values (green,
// red and alpha fixed).
Image Row(std::vector<uint8_t> blues) {
    Image image{static_cast<int>(blues.size()), 1, {}};
    for (uint8_t blue : blues) {
        image.bgra.insert(image.bgra.end(), {blue, 10, 20, 255});
    }
    return image;
}

std::vector<uint8_t> Blues(const Image& image) {
    std::vector<uint8_t> blues;
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        blues.push_back(image.bgra[i]);
    }
    return blues;
}

TEST(ImageScaleTest, BlendsNeighboursWithCentresAligned) {
    const struct {
        std::vector<uint8_t> from;
        int width;
        std::vector<uint8_t> to;
    } cases[] = {
        {{0, 200}, 3, {0, 100, 200}},                // 1.5 times: the middle pixel blends
        {{0, 200}, 4, {0, 50, 150, 200}},            // twice: quarter steps, edges repeat
        {{0, 100, 200, 100}, 2, {50, 150}},          // half: pairs averaged
        {{7, 9}, 2, {7, 9}},                         // same size: a copy
        {{0, 255, 0}, 6, {0, 64, 191, 191, 64, 0}},  // rounding to the nearest
    };
    for (const auto& c : cases) {
        Image out = ResizeImage(Row(c.from), {c.width, 1});
        EXPECT_EQ(Blues(out), c.to) << c.width;
        ASSERT_EQ(out.bgra.size(), c.to.size() * 4);
        EXPECT_EQ(out.bgra[1], 10);  // the other channels are untouched by blending
        EXPECT_EQ(out.bgra[3], 255);
    }
}

TEST(ImageScaleTest, RefusesWhatCannotBeMade) {
    const Image row = Row({1, 2});
    Image cut = row;
    cut.bgra.resize(4);  // claims 2 pixels, holds 1
    const struct {
        const Image& picture;
        Size size;
    } cases[] = {
        {Image{}, {10, 10}}, {row, {0, 5}}, {row, {5, -1}}, {row, {kMaxImageSide + 1, 1}},
        {row, {8192, 8192}},  // beyond kMaxImagePixels
        {cut, {4, 1}},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(IsEmpty(ResizeImage(c.picture, c.size)))
            << c.size.width << "x" << c.size.height;
    }
}

}  // namespace
}  // namespace kelto
