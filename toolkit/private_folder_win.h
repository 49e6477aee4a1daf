// The private folders of one task: made with a descriptor of their own,
// found again when a run left them behind, removed through a handle that
// holds them.
#pragma once

#include <string>

#include "toolkit/handles_win.h"

namespace kelto {

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

}  // namespace kelto
