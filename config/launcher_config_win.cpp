#include "config/launcher_config.h"

#include <windows.h>

#include <optional>

#include "toolkit/handles_win.h"
#include "toolkit/text_win.h"

namespace {

// A configuration file is a few kilobytes; anything far beyond that is not
// one, and is not worth holding in memory.
constexpr LONGLONG kMaxConfigFileBytes = 16 << 20;

std::optional<std::string> ReadSmallFile(const std::string& path) {
    FileHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        size.QuadPart > kMaxConfigFileBytes) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(bytes.size() - done);
        if (!ReadFile(file.Get(), bytes.data() + done, want, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            break;  // the file shrank while we read it: take what is there
        }
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace

void LoadFromFile(LauncherConfig& config, const std::string& path) {
    // Configuration files are GBK by definition, whatever the system code page.
    if (std::optional<std::string> bytes = ReadSmallFile(path)) {
        LoadFromText(config, GbkToUtf8(*bytes));
    }
}
