// Colour texts of the [ui] section.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/launcher_config.h"
#include "fuzz_check.h"
#include "toolkit/text.h"

using namespace kelto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ColorValue color = parseColor(text);
    FUZZ_CHECK(color <= 0xFFFFFF);
    if (text.empty() || text.front() != '#') {
        FUZZ_CHECK(color == 0xFFFFFF);
        return 0;
    }
    // Only "#rrggbb" is looked at, in either letter case.
    FUZZ_CHECK(parseColor(text.substr(0, 7)) == color);
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    FUZZ_CHECK(parseColor(upper) == color);
    // Every colour value has a text that gives it back.
    char written[8];
    std::snprintf(written, sizeof(written), "#%02x%02x%02x", color & 0xFF, (color >> 8) & 0xFF,
                  (color >> 16) & 0xFF);
    FUZZ_CHECK(parseColor(written) == color);
    return 0;
}
