#include "toolkit/format.h"

#include <algorithm>
#include <limits>

#include "toolkit/text.h"

namespace kelto {
namespace {

// The text written so far and the GBK bytes still free in the platform's
// buffer. Once room is 0 nothing more is written, as the platform stops
// when its buffer is full.
struct Output {
    std::string text;
    size_t room = kFormatTextLimit;
};

// Writes the character at s[pos] when it fits whole, else ends the output
// (a later, smaller character must not slip in behind a dropped one).
// Returns the bytes of s it stands for.
size_t AppendChar(Output& out, std::string_view s, size_t pos) {
    size_t len = Utf8CharLength(s, pos);
    size_t cost = GbkCharSize(s[pos]);
    if (cost > out.room) {
        out.room = 0;
        return len;
    }
    out.text.append(s.substr(pos, len));
    out.room -= cost;
    return len;
}

void AppendPlain(Output& out, std::string_view s) {
    for (size_t pos = 0; pos < s.size() && out.room > 0;) {
        pos += AppendChar(out, s, pos);
    }
}

// One conversion as the wsprintf family reads it: %[-][#][0][width][.precision]
// [size]type, each flag at most once and in that order.
struct Conversion {
    bool leftAlign = false;
    bool hexPrefix = false;
    bool zeroPad = false;
    uint32_t width = 0;
    uint32_t precision = 0;
    std::string_view size;  // "l", "h", "w", "I", "I32", "I64" or empty
    char type = '\0';       // '\0' when the format ends first
    size_t length = 0;      // bytes from the '%' up to the type
};

// Digits from s[pos] on; a value past the 32-bit range stays at its top,
// which is more than any buffer can hold anyway.
uint32_t ReadCount(std::string_view s, size_t& pos) {
    constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
    uint64_t value = 0;
    for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
        value = std::min(value * 10 + static_cast<uint64_t>(s[pos] - '0'), kMax);
    }
    return static_cast<uint32_t>(value);
}

bool Accept(std::string_view s, size_t& pos, char c) {
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

std::string_view ReadSizePrefix(std::string_view s, size_t& pos) {
    size_t start = pos;
    if (Accept(s, pos, 'l') || Accept(s, pos, 'h') || Accept(s, pos, 'w')) {
        return s.substr(start, 1);
    }
    if (Accept(s, pos, 'I')) {
        std::string_view bits = s.substr(pos, 2);
        if (bits == "32" || bits == "64") {
            pos += 2;
        }
    }
    return s.substr(start, pos - start);
}

Conversion ParseConversion(std::string_view format, size_t percent) {
    Conversion conv;
    size_t pos = percent + 1;
    conv.leftAlign = Accept(format, pos, '-');
    conv.hexPrefix = Accept(format, pos, '#');
    conv.zeroPad = Accept(format, pos, '0');
    conv.width = ReadCount(format, pos);
    if (Accept(format, pos, '.')) {
        conv.precision = ReadCount(format, pos);
    }
    conv.size = ReadSizePrefix(format, pos);
    conv.type = pos < format.size() ? format[pos] : '\0';
    conv.length = pos - percent;
    return conv;
}

bool TakesArgument(const Conversion& conv) {
    return conv.type == 's' || conv.type == 'd';
}

// Within the contract: the forms the platform fills the same way as we do.
// ("%hd" is not: the platform may or may not cut the number to 16 bits.)
bool Fills(const Conversion& conv, const FormatArg& arg) {
    if (conv.hexPrefix) {
        return false;
    }
    if (conv.type == 's') {
        return arg.kind == FormatArg::Kind::Text && (conv.size.empty() || conv.size == "h");
    }
    if (conv.type == 'd') {
        return arg.kind == FormatArg::Kind::Int && (conv.size.empty() || conv.size == "l");
    }
    return false;
}

// A field never takes more than the room left: the platform shrinks the
// width and precision to the buffer, so a huge width fills it and no more.
void AppendText(Output& out, const Conversion& conv, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (conv.precision > 0) {
        text = CutToGbkSize(text, conv.precision).text;
    }
    GbkCut fitted = CutToGbkSize(text, out.room);
    size_t width = std::min<size_t>(conv.width, out.room);
    size_t pad = width > fitted.size ? width - fitted.size : 0;
    if (!conv.leftAlign) {
        out.text.append(pad, ' ');
    }
    out.text.append(fitted.text);
    if (conv.leftAlign) {
        out.text.append(pad, ' ');
    }
    out.room -= pad + fitted.size;
    if (fitted.text.size() < text.size()) {
        out.room = 0;  // the rest of the text had no room: the output ends with it
    }
}

// The platform counts the sign among the precision's characters ("%.3d" of
// -5 is "-05") and cuts the digits, not the field, when the buffer is full.
void AppendNumber(Output& out, const Conversion& conv, int32_t number) {
    std::string digits = std::to_string(number);
    size_t sign = number < 0 ? 1 : 0;
    size_t len = std::min(digits.size(), out.room);
    size_t width = std::min<size_t>(conv.width, out.room);
    size_t precision = std::min<size_t>(std::max<size_t>(conv.precision, len), out.room);
    if (conv.zeroPad && !conv.leftAlign && width > precision) {
        precision = width;
    }
    size_t pad = width > precision ? width - precision : 0;
    if (!conv.leftAlign) {
        out.text.append(pad, ' ');
    }
    out.text.append(digits, 0, sign);
    out.text.append(precision - len, '0');
    out.text.append(digits, sign, len - sign);
    if (conv.leftAlign) {
        out.text.append(pad, ' ');
    }
    out.room -= pad + precision;
}

}  // namespace

FormatArg TextArg(std::string_view text) {
    FormatArg arg;
    arg.kind = FormatArg::Kind::Text;
    arg.text = text;
    return arg;
}

FormatArg IntArg(int32_t number) {
    FormatArg arg;
    arg.kind = FormatArg::Kind::Int;
    arg.number = number;
    return arg;
}

std::string FormatText(std::string_view format, std::span<const FormatArg> args) {
    format = format.substr(0, format.find('\0'));  // the platform reads up to the NUL
    Output out;
    size_t nextArg = 0;
    size_t pos = 0;
    while (pos < format.size() && out.room > 0) {
        if (format[pos] != '%') {
            pos += AppendChar(out, format, pos);
            continue;
        }
        if (pos + 1 < format.size() && format[pos + 1] == '%') {
            AppendPlain(out, "%");
            pos += 2;
            continue;
        }
        Conversion conv = ParseConversion(format, pos);
        const FormatArg* arg = nullptr;
        if (TakesArgument(conv)) {
            arg = nextArg < args.size() ? &args[nextArg] : nullptr;
            ++nextArg;
        }
        if (!arg || !Fills(conv, *arg)) {
            // Copied as it stands; the type character (if any) follows as
            // plain text, and a '%' there starts the next conversion.
            AppendPlain(out, format.substr(pos, conv.length));
            pos += conv.length;
            continue;
        }
        if (arg->kind == FormatArg::Kind::Text) {
            AppendText(out, conv, arg->text);
        } else {
            AppendNumber(out, conv, arg->number);
        }
        pos += conv.length + 1;
    }
    return out.text;
}

}  // namespace kelto
