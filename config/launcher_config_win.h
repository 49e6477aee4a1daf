// Loading a configuration file from disk.
#pragma once

#include <string>

#include "config/launcher_config.h"

namespace kelto {

// Loads a GBK configuration file over the record; a missing or unreadable
// file changes nothing.
void LoadFromFile(LauncherConfig& config, const std::string& path);

}  // namespace kelto
