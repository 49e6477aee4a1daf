#include "config/remote_config_win.h"

#include "config/launcher_config_win.h"
#include "config/remote_config.h"
#include "toolkit/file_win.h"
#include "transfer/http_win.h"

namespace kelto {

namespace {

void LoadIfServed(LauncherConfig& config, const std::string& url, const std::string& tempPath) {
    if (DownloadToFile(url, tempPath, "", nullptr, nullptr) == kHttpOk) {
        LoadFromFile(config, tempPath);
    }
}

}  // namespace

void FetchRemoteConfig(LauncherConfig& config, std::string_view baseUrl) {
    std::string base = baseUrl.empty() ? DefaultConfigBaseUrl() : std::string(baseUrl);
    // Without a temporary file there is nowhere to put a download; the
    // built-in configuration stands.
    TempFile temp("mvconfig");
    if (!temp.IsValid()) {
        return;
    }
    LoadIfServed(config, ConfigFileUrl(base, kGeneralConfigName), temp.Path());
    LoadIfServed(config, ConfigFileUrl(base, GameConfigName(kGameNumber)), temp.Path());
}

}  // namespace kelto
