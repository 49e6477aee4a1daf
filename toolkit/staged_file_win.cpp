#include "toolkit/staged_file_win.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "toolkit/file_win.h"
#include "toolkit/path.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// ReadFile and WriteFile take a DWORD count; larger blocks go in pieces.
constexpr size_t kMaxWrite = 1u << 30;
constexpr DWORD kCopyChunk = 64 * 1024;

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

// Deletes what an interrupted write left at path, when it is a plain file:
// deleting a link by its name may delete its target instead (Wine does).
bool DeleteLeftover(const std::string& path) {
    FileHandle leftover = OpenUnredirected(
        path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    return leftover.IsValid() && MarkForDeletion(leftover.Get());
}

}  // namespace

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
