// Loading a configuration file as the server sends it.
#pragma once

#include <string_view>

#include "config/launcher_config.h"

namespace kelto {

// Loads the bytes of a GBK configuration file over the record.
void LoadFromGbk(LauncherConfig& config, std::string_view gbk);

}  // namespace kelto
