#include "toolkit/path.h"

namespace kelto {

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '\\') {
        path += '\\';
    }
    path += name;
    return path;
}

std::string FolderOf(std::string_view path) {
    size_t slash = path.find_last_of('\\');
    if (slash == std::string_view::npos) {
        return {};
    }
    return std::string(path.substr(0, slash == 2 && path[1] == ':' ? 3 : slash));
}

namespace {

// MAX_PATH, which the short forms must stay below.
constexpr size_t kMaxShortPath = 260;

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string WithoutLongPrefix(std::string_view path) {
    if (StartsWith(path, "\\\\?\\UNC\\")) {
        return "\\\\" + std::string(path.substr(8));
    }
    if (StartsWith(path, "\\\\?\\") && path.size() >= 6 && path[5] == ':') {
        return std::string(path.substr(4));
    }
    return std::string(path);
}

std::string PathFromFinalPath(std::string_view finalPath) {
    std::string shortForm = WithoutLongPrefix(finalPath);
    return shortForm.size() < kMaxShortPath ? shortForm : std::string(finalPath);
}

std::string LongPathForm(std::string_view path) {
    if (path.size() < kMaxShortPath || StartsWith(path, "\\\\?\\")) {
        return std::string(path);
    }
    if (StartsWith(path, "\\\\")) {
        return "\\\\?\\UNC\\" + std::string(path.substr(2));
    }
    if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
        return "\\\\?\\" + std::string(path);
    }
    return std::string(path);
}

std::string NtPathFor(std::string_view path) {
    if (StartsWith(path, "\\\\?\\")) {
        return "\\??\\" + std::string(path.substr(4));
    }
    if (StartsWith(path, "\\\\")) {
        return "\\??\\UNC\\" + std::string(path.substr(2));
    }
    return "\\??\\" + std::string(path);
}

std::string RandomFolderName(std::string_view prefix, const uint8_t (&random)[kFolderRandomBytes]) {
    std::string name(prefix);
    for (uint8_t b : random) {
        name += "0123456789abcdef"[b >> 4];
        name += "0123456789abcdef"[b & 15];
    }
    return name;
}

bool IsRunFolderName(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || !SameLetters(name.substr(0, prefix.size()), prefix)) {
        return false;
    }
    std::string_view digits = name.substr(prefix.size());
    if (digits.size() != 8 && digits.size() != 2 * kFolderRandomBytes) {
        return false;
    }
    for (char c : digits) {
        if (!IsHexDigit(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace kelto
