#include "toolkit/file_win.h"

#include <gtest/gtest.h>

#include "win_test_support.h"

using namespace kelto;

namespace {

TEST(OpenUnredirected, RefusesLinksAndTheWrongKind) {
    REQUIRE_LINK_DIR(links);
    struct Case {
        const char* name;
        FileKind kind;
        bool opens;
    };
    const Case cases[] = {
        {"plain", FileKind::kFile, true},
        {"symlink", FileKind::kFile, false},
        {"hardlink", FileKind::kFile, false},
        {"folder", FileKind::kFolder, true},
        {"folder-symlink", FileKind::kFolder, false},
        {"folder", FileKind::kFile, false},
        {"plain", FileKind::kFolder, false},
    };
    for (const Case& c : cases) {
        FileHandle handle = OpenUnredirected(
            links + "\\" + c.name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, c.kind);
        EXPECT_EQ(handle.IsValid(), c.opens) << c.name;
    }
}

}  // namespace
