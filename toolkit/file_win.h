// The file helpers of the Win32 layer: existence, temporary names, opens
// that follow no link, private folders and a file that appears at its path
// only once it is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/handles_win.h"

namespace kelto {

// True when path names a file (not a folder).
bool FileExists(const std::string& path);

// The user's temporary folder with a trailing '\', or "" when it is unknown.
std::string TempFolder();

// The system's own temporary folder (Temp in the Windows folder) with a
// trailing '\': only administrators may change what they make there, and
// it lies on the system volume, which keeps access control lists.
std::string SystemTempFolder();

// A new, empty file in folder named as GetTempFileName names them, with the
// first three characters of prefix, in a folder of any length; "" when none
// could be made.
std::string MakeTempFileName(const std::string& folder, const std::string& prefix);

// path for the W file functions: in its long form ("\\?\") from MAX_PATH
// characters on, where the short one would fail.
std::wstring WidePath(const std::string& path);

// True when two full paths name the same place as the system compares
// them: case ignored, either in its long form or not.
bool SamePath(const std::string& a, const std::string& b);

// The path the system reports for the object handle is open on, in the
// short form where it carries it (PathFromFinalPath); "" when none.
std::string FinalPath(HANDLE handle);

enum class FileKind { kFile, kFolder };

// Opens path where it is and never through a link, for writes made with
// the launcher's rights in folders that others may change. A reparse
// point is opened itself, not followed. Refused (an invalid handle, traced,
// ERROR_CANT_RESOLVE_FILENAME) when the object is a reparse point, is not
// of the kind asked for, is a file with more than one link, or is reached
// under another final path than path (a link the system follows without
// calling it a reparse point, as Unix links under Wine). A failed open
// leaves its own error.
[[nodiscard]] FileHandle OpenUnredirected(const std::string& path, DWORD access, DWORD share,
                                          DWORD disposition, FileKind kind = FileKind::kFile);

// A folder made anew for one task, that only Administrators and SYSTEM may
// read or change: files the elevated launcher writes there and then runs
// cannot be swapped by another program of the user in between. The handle
// is held without delete sharing, so that nobody renames the folder away
// and puts one of their own in its place while it is in use.
struct PrivateFolder {
    std::string path;   // its final path, no trailing '\'; "" when none could be made
    FileHandle handle;  // close it before the folder is removed
};

// Makes a new folder in parent (with or without its trailing '\'), named
// by prefix and random digits from the system's generator, below the
// parent's final path: a junction on the way is followed once, here, and
// the folder's path never goes through it again. An existing folder of
// that name is never taken over: whoever made it chose its permissions.
// None is made where the parent's volume keeps no access control lists
// (FAT, exFAT): a folder there would be open to everybody.
[[nodiscard]] PrivateFolder CreatePrivateFolder(const std::string& parent,
                                                const std::string& prefix);

// Removes the folders in parent named as CreatePrivateFolder names them
// with prefix (IsRunFolderName) that nobody holds: those of runs that were
// ended before they could tidy up. A folder that a run holds, and the
// files that another program holds open, stay.
void RemoveAbandonedFolders(const std::string& parent, const std::string& prefix);

// Deletes the files directly in folder, then the folder itself when it is
// empty, all through a handle that holds the folder: a link put in its
// place is refused, and a link inside is deleted, not what it leads to.
// What another program holds open stays. True when the folder is gone.
bool RemoveFolderAndFiles(const std::string& folder);

// Writes a file beside its target ("<target>.part") and puts it in the
// target's place only when Commit is called, so that an interrupted write
// never leaves half a file where a whole one is expected. Whatever happens,
// the ".part" file is gone when this goes. Neither file is reached through
// a link: the target's folder is held as OpenUnredirected opens it, the
// staging file is made new, and the target is replaced by name, never
// written through, except as Commit says.
class StagedFile {
public:
    explicit StagedFile(const std::string& target);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    [[nodiscard]] bool Write(const void* data, size_t size);
    // Empties the staging file: what follows is written from its start.
    [[nodiscard]] bool Rewind();
    // Makes another file of the same folder the target: what is written so
    // far stays, in the same staging file. False (and nothing changed) for a
    // target in any other folder.
    [[nodiscard]] bool Retarget(const std::string& target);
    // Moves the written file over the target. When another program holds
    // the target open without delete sharing, the move is refused: the
    // target is then overwritten in place, as far as that program's sharing
    // allows, and only when it is a plain file of one link of at most
    // kMaxServerFileBytes. That is all or nothing as far as the system
    // allows: a write that fails midway puts the old bytes and length back,
    // and Commit returns false.
    [[nodiscard]] bool Commit();

private:
    std::string target_;
    std::string staging_;
    FileHandle folder_;
    FileHandle file_;
};

}  // namespace kelto
