#include "transfer/setup_job.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(SetupFilePath, ExtensionOfTheFileNameBecomesExe) {
    struct Case {
        const char* tempFile;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\Temp\\kelto2-setup-1\\mvs1A2B.tmp", "C:\\Temp\\kelto2-setup-1\\mvs1A2B.exe"},
        {"C:\\a.b\\mvs1A2B", "C:\\a.b\\mvs1A2B.exe"},  // the folder's dot is no extension
        {"C:\\a\\mvs.x.tmp", "C:\\a\\mvs.x.exe"},
        {"mvs1.", "mvs1.exe"},
        {"", ".exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetupFilePathFor(c.tempFile), c.expected) << c.tempFile;
    }
}

}  // namespace
