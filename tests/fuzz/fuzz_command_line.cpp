// The command line the launcher is started with.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "launcher/command_line.h"
#include "toolkit/text.h"

using namespace kelto;

namespace {

bool HasSeparator(const std::string& s) {
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 1 && u <= 32) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args = SplitCommandLine(line);

    size_t total = 0;
    bool anyQuote = false;
    for (const std::string& arg : args) {
        FUZZ_CHECK(!arg.empty());
        FUZZ_CHECK(arg.find('\0') == std::string::npos);
        total += arg.size();
        anyQuote = anyQuote || arg.find('"') != std::string::npos;
    }
    FUZZ_CHECK(total <= size);

    // Arguments without quotes survive being quoted and joined again.
    if (!anyQuote) {
        std::string joined;
        for (const std::string& arg : args) {
            joined += (HasSeparator(arg) ? "\"" + arg + "\"" : arg) + " ";
        }
        FUZZ_CHECK(SplitCommandLine(joined) == args);
    }

    std::string base = BaseUrlArgument(args);
    FUZZ_CHECK(base.empty() || (args.size() >= 2 && base == args[1] &&
                                (base.starts_with("http://") || base.starts_with("https://"))));

    if (CommandLineHasSwitch(args, "testui")) {
        bool seen = false;
        for (size_t i = 1; i < args.size(); ++i) {
            seen = seen || EqualsIgnoreAsciiCase(args[i].substr(1), "testui");
        }
        FUZZ_CHECK(seen);
    }
    return 0;
}
