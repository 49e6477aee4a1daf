// Who may change a program: what decides whether the elevated launcher
// lends a program its own rights.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "toolkit/handles_win.h"

namespace kelto {

// A program and every folder above it up to its volume's root, each held
// open without delete sharing (the program without write sharing too):
// while they are held none of them can be renamed, replaced or deleted,
// so the program's path names the file that was checked.
struct HeldProgram {
    std::string path;               // its final path; "" when it could not be held
    std::vector<FileHandle> chain;  // the program, its folder, then each folder above
};

// Holds the program at path and its folders, none reached through a link
// (as OpenUnredirected refuses them). A program on a network share is not
// held: the server, not the descriptor, decides which bytes it serves.
// With token, holds only a program that only administrators may change
// (OnlyAdministratorsMayChange), each part checked as it is held, so that
// the first one that fails ends the walk; without, whatever is there.
[[nodiscard]] HeldProgram HoldProgram(const std::string& path, HANDLE token = nullptr);

// True when the descriptor's owner is SYSTEM, the Administrators or
// TrustedInstaller: an owner that no program without administrator rights
// can give an object (a token may name as owner only a group it holds
// enabled for owning, and a filtered token holds the Administrators for
// denying only).
bool IsOwnedByAdministrators(PSECURITY_DESCRIPTOR descriptor);

// True when each descriptor of chain (the program's, its folder's, then
// those of the folders above up to the root) is owned by SYSTEM, the
// Administrators or TrustedInstaller and grants the holder of token (an
// identification token) none of the rights that would let someone change
// what runs: the program's bytes, name, permissions or owner; in its folder
// also a file beside it (a DLL it loads from there) or the removal of the
// program; in a folder above, the renaming or removal of what lies on the
// way (a new name there cannot take a held one's place). A check that
// fails counts as a no, and so does an empty chain.
bool OnlyAdministratorsMayChange(HANDLE token, const std::vector<PSECURITY_DESCRIPTOR>& chain);

}  // namespace kelto
