#include "launcher/command_line.h"

#include "toolkit/text.h"
#include "transfer/http.h"

namespace kelto {

namespace {

bool IsSeparator(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

bool IsEmptyQuotePair(std::string_view s, size_t pos) {
    return pos + 1 < s.size() && s[pos] == '"' && s[pos + 1] == '"';
}

// Skips blanks and control characters, and "" pairs met where an argument
// would start: such a pair stands for nothing, not for an empty argument.
size_t SkipSeparators(std::string_view s, size_t pos) {
    for (;;) {
        while (pos < s.size() && IsSeparator(s[pos])) {
            ++pos;
        }
        if (!IsEmptyQuotePair(s, pos)) {
            return pos;
        }
        pos += 2;
    }
}

size_t ArgumentEnd(std::string_view s, size_t pos) {
    while (pos < s.size() && !IsSeparator(s[pos])) {
        if (s[pos] == '"') {
            size_t close = s.find('"', pos + 1);
            pos = close == std::string_view::npos ? s.size() : close + 1;
        } else {
            ++pos;
        }
    }
    return pos;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::string_view s = commandLine.substr(0, commandLine.find('\0'));
    std::vector<std::string> args;
    size_t pos = SkipSeparators(s, 0);
    while (pos < s.size()) {
        size_t end = ArgumentEnd(s, pos);
        std::string_view arg = s.substr(pos, end - pos);
        if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') {
            arg = arg.substr(1, arg.size() - 2);
        }
        args.emplace_back(arg);
        pos = SkipSeparators(s, end);
    }
    return args;
}

bool CommandLineHasSwitch(const std::vector<std::string>& args, std::string_view name) {
    for (size_t i = 1; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (!arg.empty() && (arg[0] == '-' || arg[0] == '/') &&
            EqualsIgnoreAsciiCase(arg.substr(1), name)) {
            return true;
        }
    }
    return false;
}

std::string BaseUrlArgument(const std::vector<std::string>& args) {
    if (args.size() >= 2 && WebSchemeLength(args[1]) != 0) {
        return args[1];
    }
    return {};
}

}  // namespace kelto
