// Windows programs link with -municode, so the runtime calls wmain; gtest's
// own main would never run.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
