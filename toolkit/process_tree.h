// Which processes a wait follows by parent id when no job holds them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelto {

struct ProcessRecord {
    uint32_t id = 0;
    uint32_t parentId = 0;
    uint64_t created = 0;  // creation time, FILETIME units
};

// True when a process with these ids may have been started by a followed
// one and is not followed yet: only such a one needs its creation time.
bool MayFollow(std::span<const ProcessRecord> followed, uint32_t id, uint32_t parentId);

// The records of found to follow: MayFollow, and created no earlier than
// the followed parent (an earlier one named a former holder of its id). A
// process started by one of these is found on the next look.
std::vector<ProcessRecord> ProcessesToFollow(std::span<const ProcessRecord> followed,
                                             std::span<const ProcessRecord> found);

}  // namespace kelto
