// Windows path texts handled without the platform, so that the host tests
// them: the forms GetFinalPathNameByHandle reports, and the names of the
// folders a run makes for itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelto {

// folder + '\\' + name, without doubling a '\\' that ends folder.
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder part of a full path ("" without a '\\'); a drive's root keeps
// its '\\'.
std::string FolderOf(std::string_view path);

// Bytes of randomness in a run folder's name.
inline constexpr size_t kFolderRandomBytes = 16;

// A final path as the system reports it, in the form the rest of the
// program uses: "\\?\C:\x" becomes "C:\x" and "\\?\UNC\host\share\x"
// becomes "\\host\share\x". A path the short form cannot carry (MAX_PATH
// characters or more) and any other form stay as they are.
std::string PathFromFinalPath(std::string_view finalPath);

// path without the "\\?\" of the long form: "\\?\C:\x" is "C:\x" and
// "\\?\UNC\host\x" is "\\host\x" at any length, so that a path given
// either way compares equal to the other. Other forms stay as they are.
std::string WithoutLongPrefix(std::string_view path);

// The form the file functions take for a full path of MAX_PATH characters
// or more: "C:\x" becomes "\\?\C:\x" and "\\host\share\x"
// "\\?\UNC\host\share\x". Shorter paths, paths in that form already and
// relative ones stay as they are.
std::string LongPathForm(std::string_view path);

// The native name of a full path, for the system's own calls:
// "C:\x" is "\??\C:\x", "\\host\share" is "\??\UNC\host\share", and the
// "\\?\" of a long form becomes "\??\".
std::string NtPathFor(std::string_view path);

// prefix followed by the bytes in lower-case hex.
std::string RandomFolderName(std::string_view prefix, const uint8_t (&random)[kFolderRandomBytes]);

// True for a name RandomFolderName makes with this prefix, and for the
// eight hex digits that older launchers put after it; case is ignored.
bool IsRunFolderName(std::string_view name, std::string_view prefix);

}  // namespace kelto
