// A file that appears at its path only once it is whole.
#pragma once

#include <cstddef>
#include <string>

#include "toolkit/handles_win.h"

namespace kelto {

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
