#include "config/remote_config_win.h"

#include "toolkit/product.h"
#include "toolkit/text_win.h"
#include "transfer/http_win.h"

namespace kelto {

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
    ApplyConfigAnswers(config, loads, &LoadFromGbk);
}

void LoadFromGbk(LauncherConfig& config, std::string_view gbk) {
    // Configuration files are GBK by definition, whatever the system code page.
    LoadFromText(config, GbkToUtf8(gbk));
}

}  // namespace kelto
