#include "toolkit/staged_file_win.h"

#include <gtest/gtest.h>

#include "toolkit/product.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

// Another program holds the target open without delete sharing, so the
// rename is refused and the target is written in place. When it also maps
// the file, the system refuses to cut the file shorter: the last step of a
// shorter file's overwrite fails after all its bytes were written. (Wine
// does not let byte-range locks refuse writes.)
TEST(StagedFile, CommitInPlaceIsAllOrNothing) {
    struct Case {
        size_t oldSize;
        size_t newSize;
        bool mapped;
        bool committed;
    };
    const Case cases[] = {
        {200 << 10, 100 << 10, true, false},
        {200 << 10, 100 << 10, false, true},
        {size_t{kMaxServerFileBytes} + 1, 10, false, false},  // too big to keep
    };
    const std::string dir = ScratchFolder("staged");
    const std::string target = dir + "\\software.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.oldSize << " mapped " << c.mapped);
        const std::string old(c.oldSize, 'o');
        const std::string fresh(c.newSize, 'n');
        ASSERT_TRUE(WriteBytes(target, old));
        FileHandle holder(CreateFileW(ToWide(target).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        ASSERT_TRUE(holder.IsValid());
        FileHandle mapping(
            c.mapped ? CreateFileMappingW(holder.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr)
                     : nullptr);
        void* view = c.mapped ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
        ASSERT_EQ(view != nullptr, c.mapped);
        {
            StagedFile staged(target);
            ASSERT_TRUE(staged.Write(fresh.data(), fresh.size()));
            EXPECT_EQ(staged.Commit(), c.committed);
        }
        if (view) {
            UnmapViewOfFile(view);
        }
        mapping.Close();
        holder.Close();
        EXPECT_TRUE(ReadBytes(target) == (c.committed ? fresh : old));
        EXPECT_FALSE(PathExists(target + ".part"));
    }
    RemoveTree(dir);
}

}  // namespace
