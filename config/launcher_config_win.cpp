#include "config/launcher_config_win.h"

#include <optional>

#include "toolkit/file_win.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"

namespace kelto {

void LoadFromFile(LauncherConfig& config, const std::string& path) {
    // Configuration files are GBK by definition, whatever the system code page.
    if (std::optional<std::string> bytes = ReadSmallFile(path, kMaxServerFileBytes)) {
        LoadFromText(config, GbkToUtf8(*bytes));
    }
}

}  // namespace kelto
