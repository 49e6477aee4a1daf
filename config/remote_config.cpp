#include "config/remote_config.h"

#include "config/config_signature.h"
#include "config/launcher_config.h"
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

std::array<std::string, kConfigRequests> ConfigFileNames(int gameNumber) {
    return {std::string(kGeneralConfigName), GameConfigName(gameNumber)};
}

std::array<std::string, kConfigRequests> ConfigFileUrls(std::string_view baseUrl, int gameNumber) {
    std::string base = baseUrl.empty() ? DefaultConfigBaseUrl() : std::string(baseUrl);
    std::array<std::string, kConfigRequests> urls = ConfigFileNames(gameNumber);
    for (std::string& url : urls) {
        url = ConfigFileUrl(base, url);
    }
    return urls;
}

std::string_view ConfigVerdictText(ConfigFileVerdict verdict) {
    switch (verdict) {
        case ConfigFileVerdict::kLoaded:
            return "loaded";
        case ConfigFileVerdict::kNotFetched:
            return "not fetched";
        case ConfigFileVerdict::kUnsigned:
            return "no signature";
        case ConfigFileVerdict::kSignatureMalformed:
            return "signature malformed";
        case ConfigFileVerdict::kSignatureMismatch:
            return "signature mismatch";
        case ConfigFileVerdict::kExpiryMalformed:
            return "expires is no time";
        case ConfigFileVerdict::kExpired:
            return "expired";
    }
    return "unknown";
}

ConfigFileVerdict JudgeConfigFile(std::string_view name, std::string_view file,
                                  const ConfigTrust& trust, ConfigLoader load) {
    if (!trust.verify) {
        return ConfigFileVerdict::kLoaded;
    }
    ConfigFileParts parts = SplitConfigSignature(file);
    if (parts.signature.empty()) {
        return ConfigFileVerdict::kUnsigned;
    }
    std::optional<EcdsaSignature> rs = EcdsaSignatureFromBase64(parts.signature);
    if (!rs) {
        return ConfigFileVerdict::kSignatureMalformed;
    }
    if (!trust.verify(*rs, ConfigSignedText(name, parts.signedBytes))) {
        return ConfigFileVerdict::kSignatureMismatch;
    }
    // The file's own expiry, not one the other file of the fetch brings.
    LauncherConfig own;
    load(own, parts.signedBytes);
    std::optional<ForceEntry> expires = FindEntry(own, kExpiresKey);
    if (!expires) {
        return ConfigFileVerdict::kLoaded;
    }
    std::optional<int64_t> until = ParseUtcTime(expires->value);
    if (!until) {
        return ConfigFileVerdict::kExpiryMalformed;
    }
    return trust.now < *until ? ConfigFileVerdict::kLoaded : ConfigFileVerdict::kExpired;
}

std::array<ConfigFileVerdict, kConfigRequests> ApplyConfigAnswers(
    LauncherConfig& config, std::span<const ConfigAnswer, kConfigRequests> answers,
    ConfigLoader load, const ConfigTrust& trust, int gameNumber) {
    const std::array<std::string, kConfigRequests> names = ConfigFileNames(gameNumber);
    std::array<ConfigFileVerdict, kConfigRequests> verdicts{};
    // In the order of the files, not of arrival: the game's file overrides.
    for (size_t i = 0; i < answers.size(); ++i) {
        verdicts[i] = answers[i].status == kHttpOk
                          ? JudgeConfigFile(names[i], answers[i].body, trust, load)
                          : ConfigFileVerdict::kNotFetched;
        if (verdicts[i] == ConfigFileVerdict::kLoaded) {
            load(config, answers[i].body);
        }
    }
    return verdicts;
}

}  // namespace kelto
