#include "config/remote_config.h"

#include <windows.h>

#include "config/launcher_config.h"
#include "launcher/launch_decision.h"
#include "toolkit/text_win.h"
#include "transfer/http.h"

namespace {

// A new, empty file in the user's temporary folder, deleted when this goes.
class TempFile {
public:
    explicit TempFile(const wchar_t* prefix) {
        wchar_t folder[MAX_PATH + 1] = {};
        DWORD len = GetTempPathW(MAX_PATH + 1, folder);
        if (len == 0 || len > MAX_PATH) {
            return;
        }
        wchar_t name[MAX_PATH + 1] = {};
        if (GetTempFileNameW(folder, prefix, 0, name) != 0) {
            path_ = name;
        }
    }
    ~TempFile() {
        if (IsValid()) {
            DeleteFileW(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsValid() const { return !path_.empty(); }
    std::string Path() const { return ToUtf8(path_); }

private:
    std::wstring path_;
};

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
    TempFile temp(L"mvconfig");
    if (!temp.IsValid()) {
        return;
    }
    LoadIfServed(config, ConfigFileUrl(base, kGeneralConfigName), temp.Path());
    LoadIfServed(config, ConfigFileUrl(base, GameConfigName(kGameNumber)), temp.Path());
}
