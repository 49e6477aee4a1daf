#include "toolkit/file_win.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "toolkit/path.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// Taken names in a row before MakeTempFileName gives up.
constexpr uint32_t kTempFileTries = 256;

constexpr size_t kLongestPath = 32768;

// Wine reports no final path of MAX_PATH characters or more: its call
// fails with ERROR_MORE_DATA whatever the buffer. The path on the volume
// (links resolved as well) then follows the fixed drive whose volume
// carries the handle's serial number.
std::string FinalPathOnDrive(HANDLE handle) {
    std::vector<uint8_t> buffer(sizeof(FILE_NAME_INFO) + kLongestPath * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    BY_HANDLE_FILE_INFORMATION file{};
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, info,
                                      static_cast<DWORD>(buffer.size())) ||
        !GetFileInformationByHandle(handle, &file)) {
        LogLastError("find the path on the volume");
        return {};
    }
    std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
    DWORD drives = GetLogicalDrives();
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', L'\0'};
        DWORD serial = 0;
        if ((drives & (1u << (letter - L'A'))) && GetDriveTypeW(root) == DRIVE_FIXED &&
            GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) &&
            serial == file.dwVolumeSerialNumber) {
            return PathFromFinalPath(ToUtf8(L"\\\\?\\" + std::wstring(root, 2) + name));
        }
    }
    return {};
}

}  // namespace

std::wstring WidePath(const std::string& path) {
    return ToWide(LongPathForm(path));
}

bool SamePath(const std::string& a, const std::string& b) {
    std::wstring x = ToWide(WithoutLongPrefix(a));
    std::wstring y = ToWide(WithoutLongPrefix(b));
    return !x.empty() && CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                              static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

std::string FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int i = 0; i < 2; ++i) {
        DWORD len = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (len == 0 && GetLastError() == ERROR_MORE_DATA) {
            return FinalPathOnDrive(handle);
        }
        if (len == 0) {
            LogLastError("find the final path");
            return {};
        }
        if (len < path.size()) {
            path.resize(len);
            return PathFromFinalPath(ToUtf8(path));
        }
        path.resize(len);  // too small: len counts the NUL as well
    }
    return {};
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return {};
    }
    std::wstring full(size, L'\0');
    DWORD len = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (len == 0 || len >= size) {
        return {};
    }
    full.resize(len);
    // 8.3 names in the text are no link: compare long names. The system
    // makes none without a '~', and a path without one is spared the
    // lookup (a costly walk of every folder under Wine); a name that still
    // differed would only refuse the open.
    if (full.find(L'~') == std::wstring::npos) {
        return full;
    }
    std::wstring query = WidePath(ToUtf8(full));
    DWORD longSize = GetLongPathNameW(query.c_str(), nullptr, 0);
    if (longSize == 0) {
        return full;
    }
    std::wstring longer(longSize, L'\0');
    len = GetLongPathNameW(query.c_str(), longer.data(), longSize);
    if (len == 0 || len >= longSize) {
        return full;
    }
    longer.resize(len);
    return longer;
}

const char* LinkRefusal(HANDLE handle, const std::string& path, FileKind kind) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        return "no file information";
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return "a reparse point";
    }
    bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder != (kind == FileKind::kFolder)) {
        return folder ? "a folder" : "not a folder";
    }
    if (!folder && info.nNumberOfLinks > 1) {
        return "a file with more than one link";
    }
    if (!SamePath(PathFromFinalPath(ToUtf8(FullPath(ToWide(path)))), FinalPath(handle))) {
        return "reached through a link";
    }
    return nullptr;
}

FileHandle OpenUnredirected(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                            FileKind kind) {
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT |
                  (kind == FileKind::kFolder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL);
    FileHandle handle(CreateFileW(WidePath(path).c_str(), access | FILE_READ_ATTRIBUTES, share,
                                  nullptr, disposition, flags, nullptr));
    if (!handle.IsValid()) {
        return handle;
    }
    if (const char* refusal = LinkRefusal(handle.Get(), path, kind)) {
        TraceStep("refused " + path + ": " + refusal);
        handle.Close();
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    }
    return handle;
}

bool MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO gone{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof(gone)) != FALSE;
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string TempFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD len = GetTempPathW(MAX_PATH + 1, folder);
    if (len == 0) {
        LogLastError("find the temporary folder");
        return {};
    }
    if (len > MAX_PATH) {
        return {};
    }
    std::string text = ToUtf8(folder);
    if (text.back() != '\\') {
        text += '\\';
    }
    return text;
}

std::string SystemTempFolder() {
    // The system's folder, not %SystemRoot%: the environment is the user's.
    wchar_t folder[MAX_PATH + 1] = {};
    UINT len = GetSystemWindowsDirectoryW(folder, MAX_PATH + 1);
    if (len == 0 || len > MAX_PATH) {
        LogLastError("find the Windows folder");
        return {};
    }
    return JoinPath(ToUtf8(folder), "Temp\\");
}

std::string MakeTempFileName(const std::string& folder, const std::string& prefix) {
    if (folder.empty()) {
        return {};
    }
    // Named as GetTempFileName names them (three characters of the prefix,
    // hex digits, ".tmp"), which takes no folder of MAX_PATH less 14
    // characters or more.
    const std::string start = prefix.substr(0, 3);
    const uint32_t first = GetTickCount() & 0xFFFF;
    char digits[8];
    for (uint32_t i = 0; i < kTempFileTries; ++i) {
        uint32_t number = (first + i) & 0xFFFF;
        snprintf(digits, sizeof(digits), "%X", number == 0 ? 1u : number);
        std::string path = JoinPath(folder, start + digits + ".tmp");
        FileHandle file(CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.IsValid()) {
            return path;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS) {
            TraceError("make a temporary file in " + folder, error);
            return {};
        }
    }
    TraceStep("no free temporary name in " + folder);
    return {};
}

}  // namespace kelto
