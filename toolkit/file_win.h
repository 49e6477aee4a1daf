// The file helpers of the Win32 layer: existence, temporary names, paths
// as the system compares them and opens that follow no link.
#pragma once

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

// Why the object that handle is open on may not be written as path (the
// refusals OpenUnredirected lists), or nullptr when it may.
const char* LinkRefusal(HANDLE handle, const std::string& path, FileKind kind);

// path made full as GetFullPathName makes it, its 8.3 names in their long
// form where the path has any; "" when it has no full form.
std::wstring FullPath(const std::wstring& path);

// The object handle is open on (with delete access) goes when its last
// handle closes; a folder only when it is empty by then.
bool MarkForDeletion(HANDLE handle);

}  // namespace kelto
