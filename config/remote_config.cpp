#include "config/remote_config.h"

#include "toolkit/product.h"

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

}  // namespace kelto
