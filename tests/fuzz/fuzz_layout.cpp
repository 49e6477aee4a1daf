// Window geometry from server-given positions and sizes and from whatever the
// skin pictures and the platform reported. The input is read as little-endian
// 32-bit integers in the order of Take's callers (the [ui] numbers in table
// order first); missing bytes read as 0.
#include <cstdint>
#include <cstring>

#include "config/launcher_config.h"
#include "fuzz_check.h"
#include "ui/layout.h"

using namespace kelto;

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
};

int32_t Take(Input& in) {
    uint8_t bytes[4] = {};
    size_t n = in.size < 4 ? in.size : 4;
    std::memcpy(bytes, in.data, n);
    in.data += n;
    in.size -= n;
    return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                static_cast<uint32_t>(bytes[3]) << 24);
}

kelto::Size TakeSize(Input& in) {
    int32_t width = Take(in);
    return {width, Take(in)};
}

void CheckRect(const kelto::Rect& r) {
    FUZZ_CHECK(r.left >= kelto::kMinCoordinate && r.left <= kelto::kMaxCoordinate);
    FUZZ_CHECK(r.top >= kelto::kMinCoordinate && r.top <= kelto::kMaxCoordinate);
    FUZZ_CHECK(r.width >= 0 && r.width <= kelto::kMaxExtent);
    FUZZ_CHECK(r.height >= 0 && r.height <= kelto::kMaxExtent);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    kelto::LauncherConfig c;
    for (const kelto::UiField& field : kelto::kUiFields) {
        if (field.number) {
            c.*field.number = Take(in);
        }
    }
    kelto::SkinFacts skin;
    skin.headerShown = Take(in) & 1;
    skin.header = TakeSize(in);
    skin.closeFetched = Take(in) & 1;
    skin.close = TakeSize(in);
    skin.background = TakeSize(in);
    kelto::TextSizes text;
    text.link1 = TakeSize(in);
    text.link2 = TakeSize(in);
    int clientWidth = Take(in);
    int dpi = Take(in);

    kelto::ProgressLayout l = kelto::LayoutProgressWindow(c, skin, text, clientWidth, dpi);
    for (const kelto::Rect* r : {&l.header, &l.close, &l.minimize, &l.caption, &l.link1, &l.link2,
                                 &l.progressBar, &l.description, &l.status}) {
        CheckRect(*r);
    }
    kelto::WindowFrame frame = kelto::SkinnedWindowFrame(skin, dpi);
    FUZZ_CHECK(frame.outer.width >= 0 && frame.outer.width <= kelto::kMaxExtent);
    FUZZ_CHECK(frame.outer.height >= 0 && frame.outer.height <= kelto::kMaxExtent);
    FUZZ_CHECK(frame.framed == (skin.background.width <= 0));

    // The three lines under the header share its inset and one width, and
    // stack without overlapping while the platform's range allows.
    FUZZ_CHECK(l.description.left == l.progressBar.left && l.status.left == l.progressBar.left);
    FUZZ_CHECK(l.description.width == l.progressBar.width && l.status.width == l.progressBar.width);
    FUZZ_CHECK(l.progressBar.top >= l.description.top && l.status.top >= l.progressBar.top);
    return 0;
}
