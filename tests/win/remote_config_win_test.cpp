#include "config/remote_config_win.h"

#include <gtest/gtest.h>

#include <random>

#include "win_test_support.h"

using namespace kelto;

namespace {

// The fields a load would touch first; enough to tell "changed nothing".
void ExpectDefaults(const LauncherConfig& c) {
    LauncherConfig defaults;
    EXPECT_EQ(c.forceupdate, defaults.forceupdate);
    EXPECT_EQ(c.caption, defaults.caption);
    EXPECT_EQ(c.progress, defaults.progress);
    EXPECT_EQ(c.headerurl, defaults.headerurl);
    EXPECT_EQ(c.headerImg, defaults.headerImg);
    EXPECT_EQ(c.captionX, defaults.captionX);
    EXPECT_EQ(c.closeX, defaults.closeX);
}

TEST(LoadFromGbk, KeepsItsChineseTexts) {
    // caption=Morvik下载器, description=正在准备下载 %s, in GBK.
    std::string gbk =
        "[forceupdate]\r\nlatest=1.6.5.2288\r\n1.6.5.2282=1\r\n"
        "[ui]\r\ncaption=Morvik\xCF\xC2\xD4\xD8\xC6\xF7\r\n"
        "description=\xD5\xFD\xD4\xDA\xD7\xBC\xB1\xB8\xCF\xC2\xD4\xD8 %s\r\n"
        "captionX=40\r\n";
    LauncherConfig config;
    LoadFromGbk(config, gbk);
    EXPECT_EQ(config.caption, "Morvik下载器");
    EXPECT_EQ(config.description, "正在准备下载 %s");
    EXPECT_EQ(config.captionX, 40);
    EXPECT_EQ(config.forceupdate, (std::vector<std::string>{"latest=1.6.5.2288", "1.6.5.2282=1"}));
}

TEST(LoadFromGbk, Utf8BomIsNotGuessedAway) {
    // GBK by definition: a UTF-8 file's Chinese text does not come through as
    // written, but the ASCII keys after the first line still load.
    LauncherConfig config;
    LoadFromGbk(config, "\xEF\xBB\xBF[ui]\r\ncaption=x\r\n[ui]\r\ncaptionX=3\r\n");
    EXPECT_EQ(config.captionX, 3);
    EXPECT_EQ(config.caption, LauncherConfig{}.caption);
}

TEST(LoadFromGbk, InvalidGbkInOneValueSparesTheOthers) {
    LauncherConfig config;
    LoadFromGbk(config,
                "[ui]\r\ncaption=a\x81\x20z\xFF\r\ncaptionX=12\r\nprogress=\xCF\r\ncloseW=48\r\n");
    EXPECT_TRUE(config.caption.starts_with("a")) << config.caption;
    EXPECT_NE(config.caption.find('z'), std::string::npos) << config.caption;
    EXPECT_EQ(config.captionX, 12);
    EXPECT_EQ(config.closeW, 48);
}

TEST(LoadFromGbk, UnusableBytesChangeNothing) {
    std::mt19937 random(2288);
    std::string garbage(200000, '\0');
    for (char& c : garbage) {
        do {
            c = static_cast<char>(random());
        } while (c == '\n' || c == '\r' || c == '[' || c == '=');  // no lines, sections, keys
    }
    for (const std::string& bytes : {std::string(), garbage}) {
        LauncherConfig config;
        LoadFromGbk(config, bytes);
        ExpectDefaults(config);
    }
}

}  // namespace
