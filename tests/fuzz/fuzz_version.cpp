// Version texts from the server and from file version resources.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "launcher/version.h"

using namespace kelto;

namespace {

uint64_t Packed(const VersionValue& v) {
    return uint64_t{v.major} << 48 | uint64_t{v.minor} << 32 | uint64_t{v.release} << 16 | v.build;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\n');
    std::string_view textA = input.substr(0, cut);
    std::string_view textB = cut == std::string_view::npos ? "0" : input.substr(cut + 1);

    VersionValue a = ParseVersion(textA);
    VersionValue b = ParseVersion(textB);

    // Formatting is exact: the printed text reads back as the same value.
    std::string formatted = FormatVersion(a);
    FUZZ_CHECK(ParseVersion(formatted) == a);
    FUZZ_CHECK(FormatVersion(ParseVersion(formatted)) == formatted);

    // One final dot adds no piece.
    if (!textA.empty() && textA.back() != '.') {
        FUZZ_CHECK(ParseVersion(std::string(textA) + ".") == a);
    }

    // The order is that of one 64-bit number, and antisymmetric.
    int ab = CompareVersion(a, b);
    int ba = CompareVersion(b, a);
    FUZZ_CHECK(ab >= -1 && ab <= 1);
    FUZZ_CHECK(ab == -ba);
    FUZZ_CHECK((ab == 0) == (a == b));
    FUZZ_CHECK((ab < 0) == (Packed(a) < Packed(b)));
    FUZZ_CHECK(CompareVersion(a, a) == 0);
    return 0;
}
