// Helpers shared by the Windows layer's tests: scratch folders and files in
// the Wine prefix, and the environment the harness passes in.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/text_win.h"

inline std::optional<std::string> EnvVar(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD len = GetEnvironmentVariableW(name, buffer, 4096);
    if (len == 0 || len >= 4096) {
        return std::nullopt;
    }
    return ToUtf8(std::wstring_view(buffer, len));
}

inline std::string TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD len = GetTempPathW(MAX_PATH + 1, buffer);
    std::string path = ToUtf8(std::wstring_view(buffer, len));
    if (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    return path;
}

// Creates every missing folder of path.
inline bool MakeFolders(const std::string& path) {
    std::wstring wide = ToWide(path);
    for (size_t i = 3; i <= wide.size(); ++i) {
        if (i == wide.size() || wide[i] == L'\\') {
            std::wstring part = wide.substr(0, i);
            if (!CreateDirectoryW(part.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
    }
    return true;
}

inline void RemoveTree(const std::string& path) {
    std::wstring wide = ToWide(path);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((wide + L"\\*").c_str(), &data);
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
                SetFileAttributesW(ToWide(child).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(ToWide(child).c_str());
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
    return GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh folder under %TEMP% named after the test, removed by the caller.
inline std::string ScratchFolder(std::string_view name) {
    std::string path = TempFolder() + "\\kelto2-win-tests\\" + std::string(name);
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
