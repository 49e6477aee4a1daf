#include "config/remote_config_win.h"

#include "toolkit/product.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_win.h"
#include "transfer/package_check_win.h"

namespace kelto {

namespace {

// Seconds since 1970-01-01T00:00:00Z by the system clock.
int64_t UnixTimeNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const int64_t ticks =
        static_cast<int64_t>(uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime);
    // FILETIME counts 100 ns from 1601-01-01.
    constexpr int64_t kTicksPerSecond = 10'000'000;
    constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    return ticks / kTicksPerSecond - kSecondsFrom1601To1970;
}

void TraceRefusedFiles(const std::array<ConfigFileVerdict, kConfigRequests>& verdicts) {
    const std::array<std::string, kConfigRequests> names = ConfigFileNames(kGameNumber);
    for (size_t i = 0; i < verdicts.size(); ++i) {
        if (verdicts[i] != ConfigFileVerdict::kLoaded &&
            verdicts[i] != ConfigFileVerdict::kNotFetched) {
            DebugTrace("configuration " + names[i] +
                       " not used: " + std::string(ConfigVerdictText(verdicts[i])));
        }
    }
}

}  // namespace

ConfigTrust ThisBuildsConfigTrust() {
    ConfigTrust trust;
    ReleaseKey key = LoadReleaseKey();
    if (key.state != ReleaseKeyState::kNone) {
        // A key that cannot be read verifies nothing: no file is used.
        trust.verify = [key](const EcdsaSignature& rs, std::string_view text) {
            return VerifyReleaseSignature(key, rs, text);
        };
        trust.now = UnixTimeNow();
    }
    return trust;
}

RemoteConfigFetch StartRemoteConfigFetch(std::string_view baseUrl) {
    // In memory from the first byte to the parse: no file on disk that
    // another program could rewrite in between. A longer answer, or one
    // that keeps the launcher waiting, fails the transfer and loads nothing.
    RemoteConfigFetch fetch;
    std::array<std::string, kConfigRequests> urls = ConfigFileUrls(baseUrl, kGameNumber);
    for (size_t i = 0; i < urls.size(); ++i) {
        fetch.requests[i] = StartGet(std::move(urls[i]), kServerFileLimits);
    }
    return fetch;
}

void FinishRemoteConfigFetch(RemoteConfigFetch& fetch, LauncherConfig& config) {
    std::array<GetAnswer, kConfigRequests> answers;
    std::array<ConfigAnswer, kConfigRequests> loads;
    for (size_t i = 0; i < answers.size(); ++i) {
        answers[i] = AwaitGet(*fetch.requests[i]);
        const std::vector<uint8_t>& body = answers[i].body;
        loads[i] = {answers[i].result.status,
                    std::string_view(reinterpret_cast<const char*>(body.data()), body.size())};
    }
    TraceRefusedFiles(ApplyConfigAnswers(config, loads, &LoadFromGbk, ThisBuildsConfigTrust()));
}

void LoadFromGbk(LauncherConfig& config, std::string_view gbk) {
    // Configuration files are GBK by definition, whatever the system code page.
    LoadFromText(config, GbkToUtf8(gbk));
}

}  // namespace kelto
