#include "toolkit/file_win.h"

#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// WriteFile takes a DWORD count; larger blocks go in pieces.
constexpr size_t kMaxWrite = 1u << 30;
constexpr DWORD kCopyChunk = 64 * 1024;

bool WriteAll(HANDLE file, const void* data, size_t size) {
    auto bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size < kMaxWrite ? size : kMaxWrite);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr)) {
            LogLastError("write file");
            return false;
        }
        if (written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool CopyFileContents(HANDLE from, HANDLE to) {
    std::vector<uint8_t> buffer(kCopyChunk);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer.data(), kCopyChunk, &got, nullptr)) {
            LogLastError("read staged file");
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!WriteAll(to, buffer.data(), got)) {
            return false;
        }
    }
}

// The move is refused with these when another program has the target open
// without delete sharing (or it is read-only, where the copy fails too).
bool IsHeldOpen(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

bool OverwriteInPlace(const std::wstring& staging, const std::wstring& target) {
    FileHandle from(CreateFileW(staging.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!from.IsValid()) {
        LogLastError("open staged file");
        return false;
    }
    FileHandle to(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to.IsValid()) {
        DWORD error = GetLastError();
        TraceError("overwrite " + ToUtf8(target), error);
        return false;
    }
    return CopyFileContents(from.Get(), to.Get());
}

// Full access for SYSTEM and the Administrators, passed on to everything
// made inside. "P" keeps the parent's entries out: the user's own full
// access to their temporary folder must not flow in.
constexpr wchar_t kPrivateFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// A name that is taken means someone else made that folder; after this many
// such names the folder is given up rather than searched for endlessly.
constexpr uint32_t kPrivateFolderTries = 64;

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '\\') {
        return folder + name;
    }
    return folder + "\\" + name;
}

std::atomic<uint32_t> gPrivateFolderCalls{0};

// Differs between processes and between calls of one process; a clash is
// only a retry, so nothing stronger is needed.
uint32_t FolderNumberSeed() {
    return (GetCurrentProcessId() << 16) ^ GetTickCount() ^
           (gPrivateFolderCalls.fetch_add(1) << 24);
}

bool IsGone(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::string HexNumber(uint32_t n) {
    char text[9] = {};
    std::snprintf(text, sizeof(text), "%08X", static_cast<unsigned>(n));
    return text;
}

}  // namespace

PrivateFolder CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
    PrivateFolder folder;
    if (parent.empty()) {
        return folder;
    }
    LocalMemory<PSECURITY_DESCRIPTOR> sd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFolderSddl, SDDL_REVISION_1,
                                                              sd.Put(), nullptr)) {
        LogLastError("make the private folder's descriptor");
        return folder;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), sd.Get(), FALSE};
    uint32_t seed = FolderNumberSeed();
    for (uint32_t i = 0; i < kPrivateFolderTries; ++i) {
        std::string path = JoinPath(parent, prefix + HexNumber(seed + i));
        std::wstring wide = ToWide(path);
        if (!CreateDirectoryW(wide.c_str(), &attributes)) {
            DWORD error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            TraceError("create folder " + path, error);
            return folder;  // no such parent, no right to it: no name helps
        }
        folder.handle = FileHandle(CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder.handle.IsValid()) {
            DWORD error = GetLastError();
            TraceError("open folder " + path, error);
            RemoveDirectoryW(wide.c_str());
            return folder;
        }
        folder.path = path;
        return folder;
    }
    return folder;
}

bool RemoveFolderAndFiles(const std::string& folder) {
    if (folder.empty()) {
        return false;  // would name the current drive's root
    }
    std::wstring wide = ToWide(folder);
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW((wide + L"\\*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0));
    if (find.IsValid()) {
        do {
            // Subfolders are not ours to make, so not ours to empty either.
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW((wide + L"\\" + entry.cFileName).c_str());
            }
        } while (FindNextFileW(find.Get(), &entry));
    }
    if (RemoveDirectoryW(wide.c_str())) {
        return true;
    }
    DWORD error = GetLastError();
    if (IsGone(wide)) {
        return true;
    }
    TraceError("remove folder " + folder, error);
    return false;
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> ReadSmallFile(const std::string& path, int64_t maxBytes) {
    std::wstring wide = ToWide(path);
    FileHandle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        DWORD error = GetLastError();
        // An absent file is an answer, not a failure.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            TraceError("open " + path, error);
        }
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > maxBytes) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(bytes.size() - done);
        if (!ReadFile(file.Get(), bytes.data() + done, want, &got, nullptr)) {
            DWORD error = GetLastError();
            TraceError("read " + path, error);
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

std::string MakeTempFileName(const std::string& folder, const std::string& prefix) {
    wchar_t name[MAX_PATH + 1] = {};
    if (folder.empty()) {
        return {};
    }
    std::wstring wideFolder = ToWide(folder);
    std::wstring widePrefix = ToWide(prefix);
    if (GetTempFileNameW(wideFolder.c_str(), widePrefix.c_str(), 0, name) == 0) {
        DWORD error = GetLastError();
        TraceError("make a temporary file in " + folder, error);
        return {};
    }
    return ToUtf8(name);
}

TempFile::TempFile(const std::string& prefix) : path_(MakeTempFileName(TempFolder(), prefix)) {}

TempFile::~TempFile() {
    if (IsValid()) {
        DeleteFileW(ToWide(path_).c_str());
    }
}

StagedFile::StagedFile(const std::string& target)
    : target_(ToWide(target)),
      staging_(target_ + L".part"),
      // Delete sharing lets whoever tidies up the folder remove the file
      // while a stalled transfer still holds it: it goes when closed.
      file_(CreateFileW(staging_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (!file_.IsValid()) {
        DWORD error = GetLastError();
        TraceError("create " + ToUtf8(staging_), error);
    }
}

StagedFile::~StagedFile() {
    file_.Close();
    DeleteFileW(staging_.c_str());
}

bool StagedFile::Write(const void* data, size_t size) {
    return file_.IsValid() && WriteAll(file_.Get(), data, size);
}

bool StagedFile::Commit() {
    if (!file_.IsValid()) {
        return false;
    }
    file_.Close();
    if (MoveFileExW(staging_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    DWORD error = GetLastError();
    TraceError("rename " + ToUtf8(staging_) + " to " + ToUtf8(target_), error);
    return IsHeldOpen(error) && OverwriteInPlace(staging_, target_);
}

}  // namespace kelto
