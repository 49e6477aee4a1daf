#include "launcher/installed_downloader_win.h"

#include <windows.h>
#include <shlobj.h>

#include <array>
#include <vector>

#include "launcher/version.h"
#include "toolkit/file_win.h"
#include "toolkit/handles_win.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"

namespace kelto {

namespace {

// The Downloader is a 32-bit program: its installer writes the 32-bit view
// of the registry and installs under the 32-bit program files folder, which
// a 64-bit build of the launcher must look at too.
constexpr REGSAM kUninstallKeyAccess = KEY_QUERY_VALUE | KEY_WOW64_32KEY;
constexpr wchar_t kInstallLocationValue[] = L"InstallLocation";

int ProgramFilesCsidl() {
#ifdef _WIN64
    return CSIDL_PROGRAM_FILESX86;
#else
    return CSIDL_PROGRAM_FILES;
#endif
}

std::string BaseFolder() {
    return GetSpecialFolder(IsVistaOrLater() ? CSIDL_LOCAL_APPDATA : ProgramFilesCsidl());
}

std::string JoinExe(const std::string& folder) {
    return folder + "\\" + std::string(kDownloaderExe);
}

// The text of a REG_SZ or REG_EXPAND_SZ value up to its first NUL. The data
// may lack the NUL or have an odd byte count; the odd byte is no character.
std::string TextOfRegString(const std::vector<BYTE>& data, DWORD size) {
    std::wstring text(size / sizeof(wchar_t), L'\0');
    memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) {
        text.resize(nul);
    }
    return ToUtf8(text);
}

[[noreturn]] void ThrowReadError(LONG rc) {
    throw RegistryError("Failed to get data for 'InstallLocation'", rc);
}

// "" when the value is absent or empty. A value that exists but cannot be
// read, or is no string, raises RegistryError.
std::string ReadInstallLocation(HKEY key) {
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, kInstallLocationValue, nullptr, nullptr, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    if (rc != ERROR_SUCCESS) {
        ThrowReadError(rc);
    }
    // The value may grow between the size query and the read; follow it a
    // few times rather than forever.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (size == 0) {
            return {};
        }
        std::vector<BYTE> data(size);
        DWORD type = REG_NONE;
        DWORD got = size;
        rc = RegQueryValueExW(key, kInstallLocationValue, nullptr, &type, data.data(), &got);
        if (rc == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (rc == ERROR_FILE_NOT_FOUND) {
            return {};
        }
        if (rc != ERROR_SUCCESS) {
            ThrowReadError(rc);
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            throw RegistryError("Invalid data type for 'InstallLocation'", ERROR_UNSUPPORTED_TYPE);
        }
        return TextOfRegString(data, got < size ? got : size);
    }
    ThrowReadError(ERROR_MORE_DATA);
}

std::string UninstallLocation(std::string_view productName) {
    std::wstring subKey = ToWide(std::string(kUninstallKeyPrefix) + std::string(productName));
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, kUninstallKeyAccess, key.Put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    return ReadInstallLocation(key.Get());
}

std::wstring OwnModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD len = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (len == 0) {
            return {};
        }
        if (len < path.size()) {
            path.resize(len);
            return path;
        }
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

bool IsVistaOrLater() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) {
        return false;
    }
#pragma GCC diagnostic pop
    return info.dwMajorVersion >= 6;
}

std::string GetSpecialFolder(int csidl) {
    std::array<wchar_t, MAX_PATH + 1> buffer{};
    if (!SHGetSpecialFolderPathW(nullptr, buffer.data(), csidl, FALSE)) {
        return {};
    }
    buffer.back() = L'\0';
    return ToUtf8(buffer.data());
}

std::string GetInstallLocation(std::string_view productName) {
    std::string base = BaseFolder();
    if (!base.empty()) {
        std::string candidate = InstallCandidate(base, productName);
        if (FileExists(JoinExe(candidate))) {
            return candidate;
        }
    }
    // Taken as stored; the callers test whether mvdown.exe is there.
    return UninstallLocation(productName);
}

std::string FindDownloaderExe() {
    for (std::string_view name : {kProductName, kOldProductName}) {
        std::string location = GetInstallLocation(name);
        if (location.empty()) {
            continue;  // never probe "\mvdown.exe" at the root of the current drive
        }
        std::string exe = JoinExe(location);
        if (FileExists(exe)) {
            return exe;
        }
    }
    return {};
}

std::string GetInstalledVersion() {
    return InstalledVersionOf(FindDownloaderExe());
}

std::string InstalledVersionOf(const std::string& exe) {
    return exe.empty() ? std::string(kNoVersion) : GetFileVersionText(exe);
}

std::string GetInstalledDir() {
    std::string exe = FindDownloaderExe();
    return exe.empty() ? std::string() : FolderOfPath(exe);
}

std::string GetFileVersionText(const std::string& path) {
    std::wstring file = path.empty() ? OwnModulePath() : ToWide(path);
    if (file.empty()) {
        return {};
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) {
        return {};
    }
    void* fixedPart = nullptr;
    UINT fixedLen = 0;
    if (!VerQueryValueW(info.data(), L"\\", &fixedPart, &fixedLen) || !fixedPart ||
        fixedLen < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    VS_FIXEDFILEINFO fixed{};
    memcpy(&fixed, fixedPart, sizeof(fixed));
    if (fixed.dwSignature != VS_FFI_SIGNATURE) {
        return {};
    }
    VersionValue v{HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
                   HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS)};
    return FormatVersion(v);
}

}  // namespace kelto
