// Fetching the configuration files from the distribution server, and
// loading them as the server sends them.
#pragma once

#include <array>
#include <memory>
#include <string_view>

#include "config/launcher_config.h"
#include "config/remote_config.h"
#include "transfer/http_pending_win.h"

namespace kelto {

// The requests of one configuration fetch, on their way, in the order of
// ConfigFileUrls.
struct RemoteConfigFetch {
    std::array<std::shared_ptr<PendingGet>, kConfigRequests> requests;
};

// Sends the requests for the general file and the game's file side by
// side. baseUrl empty means the default base.
RemoteConfigFetch StartRemoteConfigFetch(std::string_view baseUrl);

// What this exe trusts configuration files by: with a release key, its
// signature check and the system clock; without, nothing (every file loads).
ConfigTrust ThisBuildsConfigTrust();

// Waits for both answers, each as long as its limits allow, and loads them
// over config as ApplyConfigAnswers says: the general file, then the
// game's, each only when it arrived with status 200 and, in a keyed exe,
// is signed for its name and not expired. Why a file was not used goes to
// the debugger trace.
void FinishRemoteConfigFetch(RemoteConfigFetch& fetch, LauncherConfig& config);

// Loads the bytes of a GBK configuration file over the record.
void LoadFromGbk(LauncherConfig& config, std::string_view gbk);

}  // namespace kelto
