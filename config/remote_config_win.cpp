#include "config/remote_config_win.h"

#include "config/remote_config.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"
#include "transfer/http_win.h"

namespace kelto {

namespace {

void LoadIfServed(LauncherConfig& config, const std::string& url) {
    // In memory from the first byte to the parse: no file on disk that
    // another program could rewrite in between.
    // A longer answer, or one that keeps the launcher waiting, fails the
    // transfer and loads nothing.
    MemorySink body;
    if (HttpGet(url, body, "", nullptr, nullptr, kServerFileLimits).status == kHttpOk) {
        const std::vector<uint8_t>& bytes = body.Bytes();
        LoadFromGbk(config,
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
}

}  // namespace

void FetchRemoteConfig(LauncherConfig& config, std::string_view baseUrl) {
    std::string base = baseUrl.empty() ? DefaultConfigBaseUrl() : std::string(baseUrl);
    LoadIfServed(config, ConfigFileUrl(base, kGeneralConfigName));
    LoadIfServed(config, ConfigFileUrl(base, GameConfigName(kGameNumber)));
}

void LoadFromGbk(LauncherConfig& config, std::string_view gbk) {
    // Configuration files are GBK by definition, whatever the system code page.
    LoadFromText(config, GbkToUtf8(gbk));
}

}  // namespace kelto
