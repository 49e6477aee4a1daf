// Fetching the configuration files from the distribution server, and
// loading them as the server sends them.
#pragma once

#include <string_view>

#include "config/launcher_config.h"

namespace kelto {

// Loads the general file, then the game's file, over config; each only when
// it arrived with status 200. baseUrl empty means the default base.
void FetchRemoteConfig(LauncherConfig& config, std::string_view baseUrl);

// Loads the bytes of a GBK configuration file over the record.
void LoadFromGbk(LauncherConfig& config, std::string_view gbk);

}  // namespace kelto
