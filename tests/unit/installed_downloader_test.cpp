#include "launcher/installed_downloader.h"
#include "toolkit/product.h"

#include <string>

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(InstalledDownloaderTest, FolderOfPath) {
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {"C:\\a\\b\\mvdown.exe", "C:\\a\\b\\"},
        {"C:mvdown.exe", "C:"},
        {"a/b\\c", "a/b\\"},
        {"a\\b/c", "a\\b/"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"mvdown.exe", ""},
        {"", ""},
        {"C:\\Morvik网络\\Morvik下载器\\mvdown.exe", "C:\\Morvik网络\\Morvik下载器\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FolderOfPath(c.path), c.expected) << c.path;
    }
}

TEST(InstalledDownloaderTest, InstallCandidate) {
    EXPECT_EQ(InstallCandidate("C:\\Users\\u\\AppData\\Local", kProductName),
              "C:\\Users\\u\\AppData\\Local\\Morvik网络\\Morvik下载器");
    EXPECT_EQ(InstallCandidate("C:\\Program Files", kOldProductName),
              "C:\\Program Files\\Morvik网络\\Morvik下载器 2010");
    EXPECT_EQ(InstallCandidate("", kProductName), "\\Morvik网络\\Morvik下载器");
}

}  // namespace
