// Server-given format texts with whatever arguments the program passes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/ini.h"
#include "fuzz_check.h"
#include "toolkit/format.h"
#include "toolkit/text.h"

using namespace kelto;

namespace {

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        size_t len = b < 0x80                 ? 1
                     : b >= 0xC2 && b <= 0xDF ? 2
                     : b >= 0xE0 && b <= 0xEF ? 3
                     : b >= 0xF0 && b <= 0xF4 ? 4
                                              : 0;
        if (len == 0 || i + len > s.size()) {
            return false;
        }
        auto second = static_cast<unsigned char>(s[i + (len > 1 ? 1 : 0)]);
        unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        if (len > 1 && (second < low || second > high)) {
            return false;
        }
        for (size_t k = 2; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += len;
    }
    return true;
}

// Takes n bytes from the front of the input, fewer when it runs out.
std::string_view Take(std::string_view& input, size_t n) {
    std::string_view piece = input.substr(0, n);
    input.remove_prefix(piece.size());
    return piece;
}

}  // namespace

// Input: one byte whose low two bits give the number of arguments and whose
// next bits their kinds; per text argument a length byte and the text, per
// number four bytes; the rest is the format.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty()) {
        return 0;
    }
    auto head = static_cast<unsigned char>(Take(input, 1)[0]);
    std::vector<FormatArg> args;
    bool textsUtf8 = true;
    for (unsigned i = 0; i < (head & 3u); ++i) {
        if (head & (4u << i)) {
            std::string_view length = Take(input, 1);
            std::string_view text = Take(input, length.empty() ? 0 : uint8_t(length[0]));
            textsUtf8 = textsUtf8 && IsUtf8(text.substr(0, text.find('\0')));
            args.push_back(TextArg(text));
        } else {
            std::string_view bytes = Take(input, 4);
            uint32_t number = 0;
            for (char c : bytes) {
                number = number << 8 | static_cast<unsigned char>(c);
            }
            args.push_back(IntArg(static_cast<int32_t>(number)));
        }
    }
    std::string_view format = input;

    std::string result = FormatText(format, args);
    FUZZ_CHECK(GbkSize(result) <= kFormatTextLimit);
    // Characters are never split, so well-formed input stays well-formed.
    std::string_view read = format.substr(0, format.find('\0'));
    if (textsUtf8 && IsUtf8(read)) {
        FUZZ_CHECK(IsUtf8(result));
    }
    // Plain text is only ever cut, whatever the arguments.
    if (read.find('%') == std::string_view::npos) {
        FUZZ_CHECK(read.substr(0, result.size()) == result);
        FUZZ_CHECK(FormatText(format, {}) == result);
    }
    return 0;
}
