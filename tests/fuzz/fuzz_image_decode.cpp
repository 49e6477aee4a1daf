// Feeds arbitrary bytes to both skin image decoders. Every input must give
// either an empty picture or a complete one within the size limits.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "toolkit/image_decode.h"

using namespace kelto;

namespace {

void CheckImage(const Image& image) {
    if (IsEmpty(image)) {
        FUZZ_CHECK(image.width == 0 && image.height == 0 && image.bgra.empty());
        return;
    }
    FUZZ_CHECK(image.width > 0 && image.width <= kMaxImageSide);
    FUZZ_CHECK(image.height > 0 && image.height <= kMaxImageSide);
    FUZZ_CHECK(int64_t{image.width} * image.height <= kMaxImagePixels);
    FUZZ_CHECK(image.bgra.size() == static_cast<size_t>(image.width) * image.height * 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    CheckImage(DecodePng(bytes));
    CheckImage(DecodeJpeg(bytes));
    return 0;
}
