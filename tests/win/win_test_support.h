// Helpers shared by the Windows layer's tests: scratch folders and files in
// the Wine prefix, and the environment the harness passes in.
#pragma once

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/installed_downloader_win.h"
#include "toolkit/file_win.h"
#include "toolkit/handles_win.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"

namespace kelto {

inline std::optional<std::string> EnvVar(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD len = GetEnvironmentVariableW(name, buffer, 4096);
    if (len == 0 || len >= 4096) {
        return std::nullopt;
    }
    return ToUtf8(std::wstring_view(buffer, len));
}

// The test's own user, as a string SID; "" when it cannot be read.
inline std::wstring OwnUserSid() {
    TokenHandle token;
    BYTE buffer[256];
    DWORD size = 0;
    LocalMemory<wchar_t*> text;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()) ||
        !GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, text.Put())) {
        return L"";
    }
    return text.Get();
}

// Creates every missing folder of path.
inline bool MakeFolders(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (!CreateDirectoryW(WidePath(path.substr(0, i)).c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
    }
    return true;
}

inline void RemoveTree(const std::string& path) {
    std::wstring wide = WidePath(path);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(WidePath(path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::string child = path + "\\" + ToUtf8(name);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(WidePath(child).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(WidePath(child).c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(wide.c_str());
}

inline bool WriteBytes(const std::string& path, std::string_view bytes) {
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

inline std::optional<std::string> ReadBytes(const std::string& path) {
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

inline bool PathExists(const std::string& path) {
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh folder under %TEMP% named after the test, removed by the caller.
inline std::string ScratchFolder(std::string_view name) {
    std::string path = TempFolder() + "kelto2-win-tests\\" + std::string(name);
    RemoveTree(path);
    MakeFolders(path);
    return path;
}

// The folder of the Downloader stand-ins (mvdown_1.6.5.2282.exe ...), from
// KELTO2_STANDIN_DIR; a Unix path is taken as one under Wine's Z: drive.
inline std::optional<std::string> StandinDir() {
    std::optional<std::string> dir = EnvVar(L"KELTO2_STANDIN_DIR");
    if (!dir || dir->empty()) {
        return std::nullopt;
    }
    if ((*dir)[0] == '/') {
        std::string windows = "Z:" + *dir;
        for (char& c : windows) {
            if (c == '/') {
                c = '\\';
            }
        }
        return windows;
    }
    return dir;
}

#define REQUIRE_STANDIN_DIR(var)                                                     \
    std::optional<std::string> var##Opt = StandinDir();                              \
    if (!var##Opt) {                                                                 \
        GTEST_SKIP() << "KELTO2_STANDIN_DIR is not set: it names the folder of the " \
                        "mvdown stand-ins (build/<dir>/bin)";                        \
    }                                                                                \
    const std::string var = *var##Opt

// The links test_win_layer.py places in KELTO2_LINK_DIR: "symlink",
// "hardlink" and "staged.xml.part" lead to "victim", "folder-symlink" to
// "folder"; "plain" is a plain file; "doomed" holds a plain file and a
// symbolic link to "victim".
#define REQUIRE_LINK_DIR(var)                                                          \
    std::optional<std::string> var##Opt = EnvVar(L"KELTO2_LINK_DIR");                  \
    if (!var##Opt) {                                                                   \
        GTEST_SKIP() << "KELTO2_LINK_DIR names a folder of links (test_win_layer.py)"; \
    }                                                                                  \
    const std::string var = *var##Opt

// The canned test server's root, reached through the proxy that
// http_proxy names: the harness sets KELTO2_TEST_URL to a root whose host
// only that proxy knows.
#define REQUIRE_TEST_URL(var)                                                          \
    std::optional<std::string> var##Opt = EnvVar(L"KELTO2_TEST_URL");                  \
    if (!var##Opt) {                                                                   \
        GTEST_SKIP() << "KELTO2_TEST_URL is not set: run under the e2e harness, with " \
                        "http_proxy pointing at the canned test server";               \
    }                                                                                  \
    const std::string var = *var##Opt

// The body the canned server sends for /canned/ok: byte i is i % 251.
inline std::string CannedBody(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>(i % 251);
    }
    return body;
}

// The test server's root reached without the proxy (test_win_layer.py):
// Wine's WinInet never gives a connection to a proxy a second request, so
// a connection kept open shows only on a direct one.
#define REQUIRE_DIRECT_URL(var)                                                           \
    std::optional<std::string> var##Opt = EnvVar(L"KELTO2_TEST_DIRECT_URL");              \
    if (!var##Opt) {                                                                      \
        GTEST_SKIP() << "KELTO2_TEST_DIRECT_URL names the test server without the proxy"; \
    }                                                                                     \
    const std::string var = *var##Opt

// ---- The Downloader's traces outside its folder ----

inline std::string LocalAppData() {
    wchar_t buffer[MAX_PATH + 1] = {};
    SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_LOCAL_APPDATA, FALSE);
    return ToUtf8(buffer);
}

// The Downloader's installer is 32-bit: its Uninstall keys live in the
// registry's 32-bit view, which is where the launcher must look.
inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

inline std::wstring UninstallKey(std::string_view product) {
    return ToWide(std::string(kUninstallKeyPrefix) + std::string(product));
}

inline bool KeyExists(std::string_view product, REGSAM view) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKey(product).c_str(), 0,
                            KEY_QUERY_VALUE | view, &key);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return rc == ERROR_SUCCESS;
}

inline void DeleteKey(std::string_view product) {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, UninstallKey(product).c_str(), kView32, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, UninstallKey(product).c_str(), kView64, 0);
}

// Writes InstallLocation with exactly these bytes and this type.
inline bool SetInstallLocation(std::string_view product, REGSAM view, DWORD type, const void* data,
                               DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKey(product).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | view, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG rc =
        RegSetValueExW(key, L"InstallLocation", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

inline bool SetInstallLocationText(std::string_view product, const std::string& folder) {
    std::wstring wide = ToWide(folder);
    return SetInstallLocation(product, kView32, REG_SZ, wide.c_str(),
                              static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

// The company folder below the per-user application data, no trailing '\'.
inline std::string CompanyFolder() {
    std::string folder = LocalAppData() + std::string(kCompanyFolder);
    folder.pop_back();
    return folder;
}

// Tests that install stand-ins need a prefix without a Downloader of its own.
inline bool DownloaderAlreadyInstalled() {
    return PathExists(CompanyFolder()) || KeyExists(kProductName, kView32) ||
           KeyExists(kOldProductName, kView32);
}

// ---- Process state that a test changes and must give back ----

// Sets an environment variable (empty: removes it) until the end of the
// scope; programs started meanwhile inherit it.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::string& value) : name_(name), old_(EnvVar(name)) {
        SetEnvironmentVariableW(name, value.empty() ? nullptr : ToWide(value).c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), old_ ? ToWide(*old_).c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_;
    std::optional<std::string> old_;
};

class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::string& folder) {
        wchar_t buffer[MAX_PATH + 1] = {};
        GetCurrentDirectoryW(MAX_PATH + 1, buffer);
        old_ = buffer;
        ok_ = SetCurrentDirectoryW(ToWide(folder).c_str()) != FALSE;
    }
    ~ScopedCurrentFolder() { SetCurrentDirectoryW(old_.c_str()); }
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;
    bool ok() const { return ok_; }

private:
    std::wstring old_;
    bool ok_ = false;
};

// ---- Logs ----

// The lines of a file; "\n" ends a line, a "\r" before it is dropped.
inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::optional<std::string> bytes = ReadBytes(path);
    if (!bytes) {
        return lines;
    }
    size_t start = 0;
    while (start < bytes->size()) {
        size_t end = bytes->find('\n', start);
        if (end == std::string::npos) {
            end = bytes->size();
        }
        std::string line = bytes->substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

inline bool HasLine(const std::vector<std::string>& lines, std::string_view line) {
    for (const std::string& l : lines) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

// Waits until the file holds the line; false after timeoutMs.
inline bool WaitForLine(const std::string& path, std::string_view line, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HasLine(ReadLines(path), line)) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(50);
    }
}

// ---- Processes the tests started ----

// Calls f(process handle) for every running process whose image is the file
// at imagePath; the handle may terminate and wait.
template <typename F>
int ForEachProcessOf(const std::string& imagePath, F f) {
    std::wstring image = ToWide(imagePath);
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                        entry.th32ProcessID);
        if (process == nullptr) {
            continue;
        }
        wchar_t name[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (QueryFullProcessImageNameW(process, 0, name, &size) &&
            CompareStringOrdinal(name, static_cast<int>(size), image.c_str(),
                                 static_cast<int>(image.size()), TRUE) == CSTR_EQUAL &&
            WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            ++count;
            f(process);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return count;
}

inline int CountProcessesOf(const std::string& imagePath) {
    return ForEachProcessOf(imagePath, [](HANDLE) {});
}

// Ends every process started from imagePath, so that its file can go.
inline int EndProcessesOf(const std::string& imagePath) {
    return ForEachProcessOf(imagePath, [](HANDLE process) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    });
}

}  // namespace kelto
