// The operator's checker on any configuration text: the input is served as
// kelto2/kelto.dat (raw bytes, so as GBK), every .png path as a small valid
// picture so that the layout is measured, and the Setup package as the input
// again so that published digests are compared.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "checker/check.h"
#include "fuzz_check.h"

using namespace kelto;

namespace {

// A 2 by 2 RGB PNG.
constexpr uint8_t kTinyPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd,
    0xd4, 0x9a, 0x73, 0x00, 0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60,
    0x64, 0x62, 0x06, 0x22, 0x06, 0x08, 0x05, 0x00, 0x00, 0xae, 0x00, 0x19, 0x87, 0x2e, 0x1c,
    0x9d, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

TreeFile Served(std::string_view bytes, uint64_t limit) {
    TreeFile file;
    file.found = true;
    file.size = bytes.size();
    if (file.size <= limit) {
        file.bytes = bytes;
    }
    return file;
}

int LineCount(std::string_view text) {
    int lines = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        bool crlf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        lines += (text[i] == '\n' || (text[i] == '\r' && !crlf)) ? 1 : 0;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string config = ConfigFilePaths().front();
    TreeReader read = [&](const std::string& path, uint64_t limit) {
        if (path == config || path == "download/mvsetup.exe") {
            return Served(text, limit);
        }
        if (path.ends_with(".png")) {
            return Served({reinterpret_cast<const char*>(kTinyPng), sizeof(kTinyPng)}, limit);
        }
        return TreeFile{};
    };
    CheckResult result = CheckServerFiles(read, {});

    int lines = LineCount(text);
    bool anyError = false;
    for (const Diagnostic& d : result.diagnostics) {
        // Every finding is in the one file served, on one of its lines, and
        // prints as one line.
        FUZZ_CHECK(d.file == config);
        FUZZ_CHECK(d.line >= 0 && d.line <= lines);
        std::string shown = FormatDiagnostic(d);
        FUZZ_CHECK(std::none_of(shown.begin(), shown.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
        anyError |= d.severity == Severity::kError;
    }
    int status = ExitStatus(result.diagnostics);
    FUZZ_CHECK(status == (anyError ? 2 : result.diagnostics.empty() ? 0 : 1));

    for (std::string_view installed : {"0", "", "1.6.5.2282"}) {
        FUZZ_CHECK(!DescribeLaunch(result.config, installed, true, false, {}).empty());
    }
    FUZZ_CHECK(!DescribeConfig(result.config).empty());
    return 0;
}
