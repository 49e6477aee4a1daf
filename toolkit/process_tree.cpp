#include "toolkit/process_tree.h"

#include <algorithm>

namespace kelto {

namespace {

const ProcessRecord* Find(std::span<const ProcessRecord> records, uint32_t id) {
    auto it = std::find_if(records.begin(), records.end(),
                           [id](const ProcessRecord& r) { return r.id == id; });
    return it == records.end() ? nullptr : &*it;
}

}  // namespace

bool MayFollow(std::span<const ProcessRecord> followed, uint32_t id, uint32_t parentId) {
    return Find(followed, parentId) != nullptr && Find(followed, id) == nullptr;
}

std::vector<ProcessRecord> ProcessesToFollow(std::span<const ProcessRecord> followed,
                                             std::span<const ProcessRecord> found) {
    std::vector<ProcessRecord> next;
    for (const ProcessRecord& record : found) {
        if (MayFollow(followed, record.id, record.parentId) &&
            record.created >= Find(followed, record.parentId)->created) {
            next.push_back(record);
        }
    }
    return next;
}

}  // namespace kelto
