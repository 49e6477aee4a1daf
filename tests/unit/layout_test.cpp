#include "ui/layout.h"

#include <climits>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

namespace kelto {

void PrintTo(const Rect& r, std::ostream* os) {
    *os << '(' << r.left << ", " << r.top << ") " << r.width << " by " << r.height;
}

namespace {

constexpr int kW = 382;  // header picture
constexpr int kH = 86;
constexpr TextSizes kText{{171, 12}, {0, 12}};  // link 2 has no text

LauncherConfig ReferenceConfig() {
    LauncherConfig c;
    c.imgHeaderX = 9, c.imgHeaderY = 35, c.captionX = 40, c.captionY = 10;
    c.webLink1X = 45, c.webLink1Y = 181;
    c.closeX = 341, c.closeY = 0, c.closeW = 48, c.closeH = 21;
    c.minimizeX = 298, c.minimizeY = 0, c.minimizeW = 48, c.minimizeH = 21;
    return c;
}

constexpr SkinFacts kReferenceSkin{true, {kW, kH}, false, {}, {420, 240}};

template <typename Edit>
LauncherConfig Edited(LauncherConfig c, Edit edit) {
    edit(c);
    return c;
}

// Every number of the [ui] section set to v.
LauncherConfig AllFields(int v) {
    return Edited(LauncherConfig{}, [v](LauncherConfig& c) {
        for (const UiField& field : kUiFields) {
            if (field.number) {
                c.*field.number = v;
            }
        }
    });
}

struct Expect {
    Rect ProgressLayout::*element;
    Rect rect;
};

struct Case {
    const char* name;
    ProgressLayout layout;
    std::vector<Expect> expected;
};

using L = ProgressLayout;

L Layout(const LauncherConfig& c, const SkinFacts& skin, int clientWidth = 420,
         const TextSizes& text = kText, int dpi = kBaseDpi) {
    return LayoutProgressWindow(c, skin, text, clientWidth, dpi);
}

TEST(LayoutTest, ScaleToDpiRoundsHalvesAwayFromZero) {
    const struct {
        int64_t value;
        int dpi;
        int64_t scaled;
    } cases[] = {
        {5, 144, 8},        {-5, 144, -8},          {35, 120, 44},
        {2, 120, 3},        {-2, 120, -3},          {1, 72, 1},
        {13, 144, 20},      {INT_MAX, 96, INT_MAX}, {INT_MIN, 144, int64_t{INT_MIN} * 3 / 2},
        {100, 0, 100},      {100, -5, 100},  // no DPI known: as at 96
        {100, 10000, 1000}, {100, 1, 25},    // held to 24..960
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaleToDpi(c.value, c.dpi), c.scaled) << c.value << " at " << c.dpi;
    }
    EXPECT_EQ(ScaleToDpi(Size{INT_MAX, -4}, 144), (Size{32767, 0}));
}

TEST(LayoutTest, ElementRects) {
    const SkinFacts kMaxSkin{true, {INT_MAX, INT_MAX}, true, {INT_MAX, INT_MAX}, {}};
    const SkinFacts kMinSkin{true, {INT_MIN, INT_MIN}, true, {INT_MIN, INT_MIN}, {}};
    const TextSizes kMaxText{{INT_MAX, INT_MAX}, {INT_MAX, INT_MAX}};
    const TextSizes kMinText{{INT_MIN, INT_MIN}, {INT_MIN, INT_MIN}};
    const Case cases[] = {
        {"reference",
         Layout(ReferenceConfig(), kReferenceSkin),
         {{&L::header, {9, 35, kW, kH}},
          {&L::description, {14, 40 + kH, kW - 10, 20}},
          {&L::progressBar, {14, 65 + kH, kW - 10, 20}},
          {&L::status, {14, 90 + kH, kW - 10, 20}},
          {&L::caption, {40, 10, 410, 20}},
          {&L::link1, {45, 181, 171, 12}},
          {&L::link2, {5, 91, 0, 12}},
          {&L::close, {341, 0, 48, 21}},
          {&L::minimize, {298, 0, 48, 21}}}},
        // Every configured number and built-in size is scaled alone, sums
        // are made of scaled parts; text and client width come measured.
        {"reference at 144 DPI",
         Layout(ReferenceConfig(), kReferenceSkin, 630, kText, 144),
         {{&L::header, {14, 53, 573, 129}},
          {&L::description, {22, 190, 557, 30}},
          {&L::progressBar, {22, 228, 557, 30}},
          {&L::status, {22, 266, 557, 30}},
          {&L::caption, {60, 15, 614, 30}},
          {&L::link1, {68, 272, 171, 12}},
          {&L::link2, {8, 132, 0, 12}},
          {&L::close, {512, 0, 72, 32}},
          {&L::minimize, {447, 0, 72, 32}}}},
        {"no ui values, no pictures",
         Layout(LauncherConfig{}, SkinFacts{}, 384),
         {{&L::header, {0, 28, 64, 80}},
          {&L::description, {5, 113, 54, 20}},
          {&L::progressBar, {5, 138, 54, 20}},
          {&L::status, {5, 163, 54, 20}},
          {&L::caption, {5, 5, 374, 20}},
          {&L::link1, {5, 74, 171, 12}},
          {&L::close, {0, 0, 64, 64}},
          {&L::minimize, {0, 0, 64, 64}}}},
        // Positions of 0 or less keep the defaults, except for the close and
        // minimise areas; imgClose is always replaced.
        {"edited positions",
         Layout(Edited(ReferenceConfig(),
                       [](LauncherConfig& c) {
                           c.imgHeaderX = 0, c.imgHeaderY = -1, c.captionX = -7, c.captionY = 0;
                           c.webLink1X = 0, c.webLink1Y = -5, c.webLink2X = 200, c.webLink2Y = 150;
                           c.imgCloseX = 100, c.imgCloseY = 100, c.closeX = -3, c.minimizeY = -9;
                       }),
                kReferenceSkin),
         {{&L::header, {0, 28, kW, kH}},
          {&L::caption, {5, 5, 410, 20}},
          {&L::link1, {5, 74, 171, 12}},
          {&L::link2, {200, 150, 0, 12}},
          {&L::close, {-3, 0, 48, 21}},
          {&L::minimize, {298, -9, 48, 21}}}},
        // 0 keeps the picture's size; a negative size applies, as the
        // platform does, as 0.
        {"close size 0 or negative",
         Layout(Edited(ReferenceConfig(),
                       [](LauncherConfig& c) {
                           c.closeW = 0, c.closeH = -1, c.minimizeW = -48, c.minimizeH = 0;
                       }),
                {true, {kW, kH}, true, {30, 12}, {}}),
         {{&L::close, {341, 0, 30, 0}}, {&L::minimize, {298, 0, 0, 64}}}},
        {"close picture answered but did not decode",
         Layout(Edited(ReferenceConfig(), [](LauncherConfig& c) { c.closeW = 0, c.closeH = 0; }),
                {true, {kW, kH}, true, {0, 0}, {}}),
         {{&L::close, {341, 0, 0, 0}}}},
        {"hidden header still carries the lines under it",
         Layout(ReferenceConfig(), SkinFacts{}),
         {{&L::header, {9, 35, 64, 80}}, {&L::status, {14, 170, 54, 20}}}},
        {"INT32_MAX everywhere",
         Layout(AllFields(INT_MAX), kMaxSkin, INT_MAX, kMaxText),
         {{&L::header, {32767, 32767, 32767, 32767}},
          {&L::status, {32767, 32767, 32757, 20}},
          {&L::caption, {32767, 32767, 32767, 20}},
          {&L::link2, {32767, 32767, 32767, 32767}},
          {&L::close, {32767, 32767, 32767, 32767}}}},
        {"INT32_MIN everywhere",
         Layout(AllFields(INT_MIN), kMinSkin, INT_MIN, kMinText),
         {{&L::header, {0, 28, 0, 0}},
          {&L::progressBar, {5, 58, 0, 20}},
          {&L::caption, {5, 5, 0, 20}},
          {&L::link2, {5, 79, 0, 0}},
          {&L::close, {-32768, -32768, 0, 0}},
          {&L::minimize, {-32768, -32768, 0, 0}}}},
    };
    for (const Case& c : cases) {
        for (const Expect& e : c.expected) {
            EXPECT_EQ(c.layout.*e.element, e.rect) << c.name;
        }
    }
}

TEST(LayoutTest, CloseRectangleAtDpi) {
    const struct {
        int dpi;
        Point point;
        bool inside;
    } cases[] = {
        {96, {389, 21}, true},   {96, {390, 21}, false}, {96, {340, 10}, false},
        {144, {512, 0}, true},   {144, {584, 32}, true}, {144, {585, 32}, false},
        {144, {584, 33}, false}, {144, {511, 0}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InCloseRectangle(ReferenceConfig(), c.dpi, c.point), c.inside)
            << c.point.x << "," << c.point.y << " at " << c.dpi;
    }
}

TEST(LayoutTest, WindowFollowsBackground) {
    const struct {
        Size background, outer;
        bool framed;
        int dpi = kBaseDpi;
    } cases[] = {
        {{0, 0}, {400, 200}, true},      {{0, 220}, {400, 200}, true},
        {{380, 220}, {380, 220}, false}, {{INT_MAX, INT_MIN}, {32767, 0}, false},
        {{0, 0}, {600, 300}, true, 144}, {{380, 220}, {570, 330}, false, 144},
    };
    for (const auto& c : cases) {
        WindowFrame frame = SkinnedWindowFrame({false, {}, false, {}, c.background}, c.dpi);
        EXPECT_EQ(frame.outer, c.outer) << c.background.width;
        EXPECT_EQ(frame.framed, c.framed) << c.background.width;
    }
}

TEST(LayoutTest, CenteredWindowRect) {
    const struct {
        Size screen;
        Rect window;
        int dpi = kBaseDpi;
    } cases[] = {
        {{1920, 1080}, {760, 440, 400, 200}},
        {{1367, 769}, {483, 284, 400, 200}},
        {{399, 199}, {-1, -1, 400, 200}},  // rounds down, not toward 0
        {{INT_MIN, INT_MAX}, {-32768, 32767, 400, 200}},
        {{1920, 1080}, {660, 390, 600, 300}, 144},
        {{1920, 1080}, {710, 415, 500, 250}, 120},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CenteredWindowRect(c.screen, c.dpi), c.window) << c.screen.width;
    }
}

}  // namespace

}  // namespace kelto
