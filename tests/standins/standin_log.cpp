#include "standin_log.h"

#include <cwchar>
#include <vector>

namespace standin {

std::wstring EnvText(const wchar_t* name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(size);
    DWORD length = GetEnvironmentVariableW(name, buffer.data(), size);
    if (length == 0 || length >= size) {
        return {};
    }
    return std::wstring(buffer.data(), length);
}

long EnvNumber(const wchar_t* name, long fallback) {
    std::wstring text = EnvText(name);
    if (text.empty()) {
        return fallback;
    }
    wchar_t* end = nullptr;
    long value = std::wcstol(text.c_str(), &end, 10);
    return (end && *end == L'\0') ? value : fallback;
}

std::wstring RawArguments() {
    const wchar_t* p = GetCommandLineW();
    // The program name ends at the closing quote when quoted, else at the
    // first blank; the same rule CreateProcess uses to find the module.
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') {
            ++p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p && *p != L' ' && *p != L'\t') {
            ++p;
        }
    }
    if (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

namespace {

void AppendToFile(const std::wstring& path, const std::string& line) {
    // Another stand-in may hold the file for a moment: retry briefly
    // rather than lose the line.
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE file =
            CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(20);
    }
}

}  // namespace

void AppendLogLine(const std::string& utf8) {
    std::wstring path = EnvText(L"KELTO2_STANDIN_LOG");
    if (!path.empty()) {
        AppendToFile(path, utf8 + "\n");
    }
}

std::string TokenLine(const char* who) {
    HANDLE token = nullptr;
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    int value = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size)) {
            value = static_cast<int>(type);
        }
        CloseHandle(token);
    }
    return std::string("token ") + who + " " + std::to_string(value);
}

std::string CurrentFolderLine(const char* who) {
    wchar_t current[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, current);
    return std::string(who) + " cwd " + ToUtf8(current);
}

void AppendClockMark(const std::string& what) {
    std::wstring path = EnvText(L"KELTO2_STANDIN_CLOCK_LOG");
    if (path.empty()) {
        return;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
    constexpr unsigned long long kUnixEpoch = 116444736000000000ull;  // in 100 ns since 1601
    unsigned long long ms = (ticks.QuadPart - kUnixEpoch) / 10000;
    AppendToFile(path, std::to_string(ms) + " " + what + "\n");
}

}  // namespace standin
