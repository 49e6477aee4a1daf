#include "toolkit/process_tree.h"

#include <gtest/gtest.h>

using namespace kelto;

// The root 10 (created at 100) and its child 11 are followed.
TEST(ProcessTreeTest, FollowsWhatAFollowedProcessStarted) {
    const ProcessRecord followed[] = {{10, 0, 100}, {11, 10, 150}};
    const struct {
        const char* name;
        ProcessRecord found;
        bool mayFollow;  // its creation time is worth reading
        bool follow;
    } cases[] = {
        {"child of the root", {12, 10, 200}, true, true},
        {"grandchild as old as its parent", {13, 11, 150}, true, true},
        {"older than its parent: the parent id was reused", {14, 10, 99}, true, false},
        {"another program's child", {15, 7, 200}, false, false},
        {"followed already", {11, 10, 150}, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MayFollow(followed, c.found.id, c.found.parentId), c.mayFollow) << c.name;
        std::vector<ProcessRecord> next = ProcessesToFollow(followed, {&c.found, 1});
        EXPECT_EQ(next.size() == 1 && next[0].id == c.found.id, c.follow) << c.name;
        EXPECT_LE(next.size(), 1u) << c.name;
    }
}
