#include "config/launcher_config_win.h"

#include "toolkit/text_win.h"

namespace kelto {

void LoadFromGbk(LauncherConfig& config, std::string_view gbk) {
    // Configuration files are GBK by definition, whatever the system code page.
    LoadFromText(config, GbkToUtf8(gbk));
}

}  // namespace kelto
