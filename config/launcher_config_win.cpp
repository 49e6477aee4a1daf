#include "config/launcher_config_win.h"

#include <optional>

#include "toolkit/file_win.h"
#include "toolkit/text_win.h"

namespace kelto {

namespace {

// A configuration file is a few kilobytes; anything far beyond that is not
// one, and is not worth holding in memory.
constexpr int64_t kMaxConfigFileBytes = 16 << 20;

}  // namespace

void LoadFromFile(LauncherConfig& config, const std::string& path) {
    // Configuration files are GBK by definition, whatever the system code page.
    if (std::optional<std::string> bytes = ReadSmallFile(path, kMaxConfigFileBytes)) {
        LoadFromText(config, GbkToUtf8(*bytes));
    }
}

}  // namespace kelto
