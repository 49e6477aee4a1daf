// The file helpers of the Win32 layer: existence, small reads, temporary
// files and a file that appears at its path only once it is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "toolkit/handles_win.h"

namespace kelto {

// True when path names a file (not a folder).
bool FileExists(const std::string& path);

// The whole file when it exists and holds at most maxBytes; nullopt else.
std::optional<std::string> ReadSmallFile(const std::string& path, int64_t maxBytes);

// The user's temporary folder with a trailing '\', or "" when it is unknown.
std::string TempFolder();

// A new, empty file made by GetTempFileName in folder with the first three
// characters of prefix; "" when none could be made.
std::string MakeTempFileName(const std::string& folder, const std::string& prefix);

// A folder made anew for one task, that only Administrators and SYSTEM may
// read or change: files the elevated launcher writes there and then runs
// cannot be swapped by another program of the user in between. The handle
// is held without delete sharing, so that nobody renames the folder away
// and puts one of their own in its place while it is in use.
struct PrivateFolder {
    std::string path;   // no trailing '\'; "" when none could be made
    FileHandle handle;  // close it before the folder is removed
};

// Makes a new folder named prefix and a unique number in parent (with or
// without its trailing '\'). An existing folder of that name is never
// taken over: whoever made it chose its permissions.
[[nodiscard]] PrivateFolder CreatePrivateFolder(const std::string& parent,
                                                const std::string& prefix);

// Deletes the files directly in folder, then the folder itself when it is
// empty. What another program holds open stays. True when the folder is gone.
bool RemoveFolderAndFiles(const std::string& folder);

// A temporary file made new and empty for one task, deleted when this goes.
class TempFile {
public:
    explicit TempFile(const std::string& prefix);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsValid() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Writes a file beside its target ("<target>.part") and puts it in the
// target's place only when Commit is called, so that an interrupted write
// never leaves half a file where a whole one is expected. Whatever happens,
// the ".part" file is gone when this goes.
class StagedFile {
public:
    explicit StagedFile(const std::string& target);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    [[nodiscard]] bool Write(const void* data, size_t size);
    // Moves the written file over the target. When another program holds
    // the target open without delete sharing, the move is refused: the
    // target is then overwritten in place, as far as that program's sharing
    // allows.
    [[nodiscard]] bool Commit();

private:
    std::wstring target_;
    std::wstring staging_;
    FileHandle file_;
};

}  // namespace kelto
