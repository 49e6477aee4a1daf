#include "toolkit/file_win.h"

#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "toolkit/path.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// ReadFile and WriteFile take a DWORD count; larger blocks go in pieces.
constexpr size_t kMaxWrite = 1u << 30;
constexpr DWORD kCopyChunk = 64 * 1024;
// Taken names in a row before MakeTempFileName gives up.
constexpr uint32_t kTempFileTries = 256;

// Moves all size bytes at data with move (ReadFile's or WriteFile's
// shape), piece by piece; a piece of nothing ends it as a failure.
template <typename Byte, typename Move>
bool MoveAll(Byte* data, size_t size, Move move) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size < kMaxWrite ? size : kMaxWrite);
        DWORD done = 0;
        if (!move(data, chunk, &done) || done == 0) {
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

bool WriteAll(HANDLE file, const void* data, size_t size) {
    return MoveAll(static_cast<const uint8_t*>(data), size,
                   [file](const uint8_t* bytes, DWORD chunk, DWORD* written) {
                       if (!WriteFile(file, bytes, chunk, written, nullptr)) {
                           LogLastError("write file");
                           return false;
                       }
                       return true;
                   });
}

// Reads exactly size bytes at the file pointer; a short file fails.
bool ReadExactly(HANDLE file, uint8_t* data, size_t size) {
    return MoveAll(data, size, [file](uint8_t* bytes, DWORD chunk, DWORD* got) {
        if (!ReadFile(file, bytes, chunk, got, nullptr)) {
            LogLastError("read file");
            return false;
        }
        return true;
    });
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

// Why the object that handle is open on may not be written as path, or
// nullptr when it may.
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

// The final path of a folder as given, links on the way followed.
std::string FolderFinalPath(const std::string& folder) {
    FileHandle handle(CreateFileW(WidePath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.IsValid()) {
        DWORD error = GetLastError();
        TraceError("open folder " + folder, error);
        return {};
    }
    return FinalPath(handle.Get());
}

bool RenameOpenFile(HANDLE file, const std::string& to) {
    std::wstring wide = WidePath(to);
    size_t nameBytes = wide.size() * sizeof(wchar_t);
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, wide.data(), nameBytes);
    return SetFileInformationByHandle(file, FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

// The old bytes of a file overwritten in place are kept in memory to be put
// back after a failure: a file beyond this is none the launcher writes so.
constexpr int64_t kMaxInPlaceBytes = kMaxServerFileBytes;

bool SeekTo(HANDLE file, int64_t offset) {
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
        LogLastError("seek in file");
        return false;
    }
    return true;
}

bool SetLength(HANDLE file, int64_t length) {
    if (!SeekTo(file, length)) {
        return false;
    }
    if (!SetEndOfFile(file)) {
        LogLastError("set the end of file");
        return false;
    }
    return true;
}

int64_t SizeOf(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        LogLastError("size of file");
        return -1;
    }
    return size.QuadPart;
}

// Puts old back as the file's content. A piece that still holds its old
// bytes is left alone: a failed write reached no further than the range
// that refused it, and a byte-range lock that refused the write would
// refuse the repair too.
bool RestoreContent(HANDLE file, const std::vector<uint8_t>& old) {
    std::vector<uint8_t> now(kCopyChunk);
    bool restored = true;
    for (size_t at = 0; at < old.size(); at += kCopyChunk) {
        size_t size = std::min<size_t>(kCopyChunk, old.size() - at);
        bool same = SeekTo(file, static_cast<int64_t>(at)) && ReadExactly(file, now.data(), size) &&
                    std::equal(now.begin(), now.begin() + size, old.begin() + at);
        if (!same &&
            !(SeekTo(file, static_cast<int64_t>(at)) && WriteAll(file, old.data() + at, size))) {
            restored = false;
        }
    }
    return SetLength(file, static_cast<int64_t>(old.size())) && restored;
}

// Writes the staged bytes over the file to, whose length is first set to
// the larger of the two: a full disk refuses that before any old byte goes.
bool WriteOver(HANDLE staging, int64_t newSize, HANDLE to, int64_t oldSize) {
    return SetLength(to, std::max(oldSize, newSize)) && SeekTo(to, 0) && SeekTo(staging, 0) &&
           CopyFileContents(staging, to) && SetLength(to, newSize);
}

// All or nothing: the new bytes, or after any failure the old ones again.
bool OverwriteInPlace(HANDLE staging, const std::string& target) {
    FileHandle to =
        OpenUnredirected(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!to.IsValid()) {
        DWORD error = GetLastError();
        TraceError("overwrite " + target, error);
        return false;
    }
    int64_t oldSize = SizeOf(to.Get());
    int64_t newSize = SizeOf(staging);
    if (oldSize < 0 || newSize < 0 || oldSize > kMaxInPlaceBytes) {
        TraceStep("not overwritten in place: " + target + " of " + std::to_string(oldSize) +
                  " bytes");
        return false;
    }
    std::vector<uint8_t> old(static_cast<size_t>(oldSize));
    if (!SeekTo(to.Get(), 0) || !ReadExactly(to.Get(), old.data(), old.size())) {
        TraceStep("not overwritten in place: " + target + " unreadable");
        return false;
    }
    if (WriteOver(staging, newSize, to.Get(), oldSize)) {
        return true;
    }
    TraceStep(RestoreContent(to.Get(), old) ? "kept the old " + target
                                            : "could not put back the old " + target);
    return false;
}

// The object handle is open on (with delete access) goes when its last
// handle closes; a folder only when it is empty by then.
bool MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO gone{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof(gone)) != FALSE;
}

// Deletes what an interrupted write left at path, when it is a plain file:
// deleting a link by its name may delete its target instead (Wine does).
bool DeleteLeftover(const std::string& path) {
    FileHandle leftover = OpenUnredirected(
        path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    return leftover.IsValid() && MarkForDeletion(leftover.Get());
}

// Owned by the Administrators, whichever member made it; full access for
// SYSTEM and the Administrators, passed on to everything made inside. "P"
// keeps the parent's entries out: those that let users add files to the
// temporary folder must not flow in.
constexpr wchar_t kPrivateFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// With 128 random bits a taken name means someone else is at work in the
// parent; a few more names are tried, then the folder is given up.
constexpr uint32_t kPrivateFolderTries = 4;
constexpr NTSTATUS kObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);

bool IsGone(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The names of the files (not folders) directly in the folder that folder
// holds, read through that handle.
std::vector<std::wstring> FileNamesIn(HANDLE folder) {
    std::vector<std::wstring> names;
    alignas(LONGLONG) uint8_t buffer[16 * 1024];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer))) {
        kind = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(buffer + at);
            // Subfolders are not ours to make, so not ours to empty either.
            if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.emplace_back(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        LogLastError("list a folder");
    }
    return names;
}

// Deletes the file name in the folder that folder holds (whose final path
// is folderPath), opened relative to that handle: a link is deleted
// itself, never what it leads to, and one that the open follows all the
// same (Unix links under Wine) stays. What another program holds without
// delete sharing stays.
bool DeleteFileIn(HANDLE folder, const std::string& folderPath, std::wstring name) {
    USHORT bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    UNICODE_STRING relative{bytes, bytes, name.data()};
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &relative, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    FileHandle file;
    NTSTATUS status = NtCreateFile(
        file.Put(), DELETE | SYNCHRONIZE, &object, &io, nullptr, 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr,
        0);
    if (!NT_SUCCESS(status)) {
        TraceStatus("open " + ToUtf8(name) + " to delete it", status);
        return false;
    }
    std::string path = JoinPath(folderPath, ToUtf8(name));
    if (!SamePath(path, FinalPath(file.Get()))) {
        TraceStep("refused " + path + ": reached through a link");
        return false;
    }
    if (!MarkForDeletion(file.Get())) {
        LogLastError("delete a file");
        return false;
    }
    return true;
}

// Held without delete sharing, nobody can rename the folder away and put a
// link in its place: its files are found and deleted through this handle
// (RemoveHeldFolder), never through the folder's name.
FileHandle OpenFolderToRemove(const std::string& folder) {
    return OpenUnredirected(folder, DELETE | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FileKind::kFolder);
}

// Deletes the files directly in the folder that held holds, then marks the
// folder itself.
bool RemoveHeldFolder(HANDLE held, const std::string& folder) {
    std::string folderPath = FinalPath(held);
    for (const std::wstring& name : FileNamesIn(held)) {
        DeleteFileIn(held, folderPath, name);
    }
    if (!MarkForDeletion(held)) {
        DWORD error = GetLastError();
        TraceError("remove folder " + folder, error);
        return false;
    }
    return true;
}

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

PrivateFolder CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
    PrivateFolder folder;
    std::string base = parent.empty() ? std::string() : FolderFinalPath(parent);
    if (base.empty()) {
        return folder;
    }
    LocalMemory<PSECURITY_DESCRIPTOR> sd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFolderSddl, SDDL_REVISION_1,
                                                              sd.Put(), nullptr)) {
        LogLastError("make the private folder's descriptor");
        return folder;
    }
    for (uint32_t i = 0; i < kPrivateFolderTries; ++i) {
        uint8_t random[kFolderRandomBytes];
        NTSTATUS status =
            BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!BCRYPT_SUCCESS(status)) {
            TraceStatus("draw a folder name", status);
            return folder;
        }
        std::string path = JoinPath(base, RandomFolderName(prefix, random));
        std::wstring wide = WidePath(path);
        // Made and opened in one call: whoever may delete in the parent
        // could otherwise put a folder of their own in its place between
        // the two. FILE_CREATE never opens what is there already.
        std::wstring native = ToWide(NtPathFor(path));
        USHORT bytes = static_cast<USHORT>(native.size() * sizeof(wchar_t));
        UNICODE_STRING name{bytes, bytes, native.data()};
        OBJECT_ATTRIBUTES object;
        InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, sd.Get());
        IO_STATUS_BLOCK io{};
        status = NtCreateFile(
            folder.handle.Put(), FILE_LIST_DIRECTORY | SYNCHRONIZE, &object, &io, nullptr,
            FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
            FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr,
            0);
        if (status == kObjectNameCollision) {
            continue;
        }
        if (!NT_SUCCESS(status)) {
            TraceStatus("create folder " + path, status);
            return folder;  // no such parent, no right to it: no name helps
        }
        // What is held is the folder made here; it is checked all the same.
        if (const char* refusal = LinkRefusal(folder.handle.Get(), path, FileKind::kFolder)) {
            TraceStep("refused " + path + ": " + refusal);
            folder.handle.Close();
            return folder;
        }
        DWORD volumeFlags = 0;
        if (!GetVolumeInformationByHandleW(folder.handle.Get(), nullptr, 0, nullptr, nullptr,
                                           &volumeFlags, nullptr, 0) ||
            !(volumeFlags & FILE_PERSISTENT_ACLS)) {
            TraceStep("no access control lists on the volume of " + path);
            folder.handle.Close();
            RemoveDirectoryW(wide.c_str());
            return folder;
        }
        folder.path = path;  // its final path: the check compared them
        return folder;
    }
    return folder;
}

void RemoveAbandonedFolders(const std::string& parent, const std::string& prefix) {
    std::string base = parent.empty() ? std::string() : FolderFinalPath(parent);
    if (base.empty()) {
        return;
    }
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW(WidePath(JoinPath(base, prefix + "*")).c_str(),
                                     FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!find.IsValid()) {
        return;
    }
    do {
        std::string name = ToUtf8(entry.cFileName);
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !IsRunFolderName(name, prefix)) {
            continue;
        }
        // A run holds its folder without delete sharing, so asking for
        // delete access fails while it runs. No run takes up a folder it
        // did not make, so one found unused stays so.
        std::string path = JoinPath(base, name);
        FileHandle held = OpenFolderToRemove(path);
        if (held.IsValid()) {
            TraceStep("remove abandoned folder " + path);
            RemoveHeldFolder(held.Get(), path);
        }
    } while (FindNextFileW(find.Get(), &entry));
}

bool RemoveFolderAndFiles(const std::string& folder) {
    if (folder.empty()) {
        return false;  // would name the current drive's root
    }
    FileHandle held = OpenFolderToRemove(folder);
    if (!held.IsValid()) {
        DWORD error = GetLastError();
        if (IsGone(WidePath(folder))) {
            return true;
        }
        TraceError("open folder " + folder + " to remove it", error);
        return false;
    }
    return RemoveHeldFolder(held.Get(), folder);
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

StagedFile::StagedFile(const std::string& target)
    : target_(ToUtf8(FullPath(ToWide(target)))), staging_(target_ + ".part") {
    std::string folder = FolderOf(target_);
    if (target.empty() || folder.empty()) {
        return;
    }
    // Held where it was checked: on Windows a folder that is open without
    // delete sharing cannot be renamed or replaced, nor can the folders
    // above it.
    folder_ = OpenUnredirected(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, FileKind::kFolder);
    if (!folder_.IsValid()) {
        DWORD error = GetLastError();
        TraceError("open folder " + folder, error);
        return;
    }
    // The file written is always one made here. Delete sharing lets
    // whoever tidies up the folder remove it while a stalled transfer still
    // holds it: it goes when closed.
    for (int i = 0; i < 2 && !file_.IsValid(); ++i) {
        file_ = OpenUnredirected(staging_, GENERIC_READ | GENERIC_WRITE | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW);
        DWORD error = GetLastError();
        if (!file_.IsValid() &&
            (i > 0 || error != ERROR_FILE_EXISTS || !DeleteLeftover(staging_))) {
            TraceError("create " + staging_, error);
            return;
        }
    }
}

StagedFile::~StagedFile() {
    if (file_.IsValid()) {
        if (!MarkForDeletion(file_.Get())) {
            LogLastError("delete staged file");
        }
    }
}

bool StagedFile::Write(const void* data, size_t size) {
    return file_.IsValid() && WriteAll(file_.Get(), data, size);
}

bool StagedFile::Rewind() {
    LARGE_INTEGER start{};
    if (!file_.IsValid() || !SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(file_.Get())) {
        TraceError("empty " + staging_, GetLastError());
        return false;
    }
    return true;
}

bool StagedFile::Retarget(const std::string& target) {
    std::string full = ToUtf8(FullPath(ToWide(target)));
    // The folder held is the one checked: another folder would need its own.
    if (!file_.IsValid() || target.empty() || !SamePath(FolderOf(full), FolderOf(target_))) {
        return false;
    }
    target_ = full;
    return true;
}

bool StagedFile::Commit() {
    if (!file_.IsValid()) {
        return false;
    }
    // The file made here takes the target's name in the folder held since:
    // a link with that name is replaced, not followed.
    std::string folder = FinalPath(folder_.Get());
    std::string to =
        folder.empty() ? std::string() : JoinPath(folder, target_.substr(target_.rfind('\\') + 1));
    if (!to.empty() && RenameOpenFile(file_.Get(), to)) {
        file_.Close();
        return true;
    }
    DWORD error = GetLastError();
    TraceError("rename " + staging_ + " to " + target_, error);
    return IsHeldOpen(error) && OverwriteInPlace(file_.Get(), target_);
}

}  // namespace kelto
