#include "toolkit/image_scale.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelto {
namespace {

// One row of pixels with these blue values; green 10, red 20, alpha 255.
Image Row(const std::vector<uint8_t>& blues) {
    Image image{static_cast<int>(blues.size()), 1, {}};
    for (uint8_t blue : blues) {
        image.bgra.insert(image.bgra.end(), {blue, 10, 20, 255});
    }
    return image;
}

TEST(ImageScaleTest, BlendsNeighboursWithCentresAligned) {
    const struct {
        std::vector<uint8_t> from, to;
    } cases[] = {
        {{0, 200}, {0, 100, 200}},                // 1.5 times: the middle pixel blends
        {{0, 200}, {0, 50, 150, 200}},            // twice: quarter steps, edges repeat
        {{0, 100, 200, 100}, {50, 150}},          // half: pairs averaged
        {{7, 9}, {7, 9}},                         // same size: a copy
        {{0, 255, 0}, {0, 64, 191, 191, 64, 0}},  // rounded to the nearest
    };
    for (const auto& c : cases) {
        Image out = ResizeImage(Row(c.from), {static_cast<int>(c.to.size()), 1});
        EXPECT_EQ(out.bgra, Row(c.to).bgra) << c.to.size();
    }
}

TEST(ImageScaleTest, RefusesWhatCannotBeMade) {
    Image cut = Row({1, 2});
    cut.bgra.resize(4);  // claims 2 pixels, holds 1
    const struct {
        Image picture;
        Size size;
    } cases[] = {
        {Image{}, {10, 10}},      {Row({1}), {0, 5}},
        {Row({1}), {5, -1}},      {Row({1}), {kMaxImageSide + 1, 1}},
        {Row({1}), {8192, 8192}}, {cut, {4, 1}},  // beyond kMaxImagePixels; cut short
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(IsEmpty(ResizeImage(c.picture, c.size))) << c.size.width;
    }
}

}  // namespace
}  // namespace kelto
