// The processes a program started, and theirs, found by parent id: what a
// wait covers when the program could not be put into a job.
#pragma once

#include <windows.h>

#include <vector>

#include "toolkit/handles_win.h"
#include "toolkit/process_tree.h"

namespace kelto {

class ProcessTree {
public:
    // root is held open by the caller while the tree is used, so that its
    // id is not reused.
    explicit ProcessTree(HANDLE root);

    // WaitForSingleObject on the root until start + waitMs (GetTickCount),
    // following what is started meanwhile.
    DWORD WaitForRoot(DWORD start, DWORD waitMs);
    // True when every process followed has ended, false at start + waitMs;
    // those still running are left to run.
    bool WaitForAll(DWORD start, DWORD waitMs);

private:
    bool FollowNew();
    bool AllEnded() const;

    HANDLE root_;
    std::vector<ProcessRecord> followed_;  // the root first
    std::vector<ProcessHandle> held_;      // the others, open so that their ids stay theirs
};

}  // namespace kelto
