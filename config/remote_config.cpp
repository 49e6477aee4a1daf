#include "config/remote_config.h"

#include "toolkit/product.h"
#include "transfer/http.h"

namespace kelto {

std::string DefaultConfigBaseUrl() {
    return std::string(kServerRoot) + "/kelto2/";
}

std::string GameConfigName(int gameNumber) {
    return "games/" + std::to_string(gameNumber) + ".dat";
}

std::string ConfigFileUrl(std::string_view baseUrl, std::string_view fileName) {
    std::string url(baseUrl);
    url += fileName;
    return url;
}

std::array<std::string, kConfigRequests> ConfigFileUrls(std::string_view baseUrl, int gameNumber) {
    std::string base = baseUrl.empty() ? DefaultConfigBaseUrl() : std::string(baseUrl);
    return {ConfigFileUrl(base, kGeneralConfigName),
            ConfigFileUrl(base, GameConfigName(gameNumber))};
}

void ApplyConfigAnswers(LauncherConfig& config,
                        std::span<const ConfigAnswer, kConfigRequests> answers, ConfigLoader load) {
    // In the order of the files, not of arrival: the game's file overrides.
    for (const ConfigAnswer& answer : answers) {
        if (answer.status == kHttpOk) {
            load(config, answer.body);
        }
    }
}

}  // namespace kelto
