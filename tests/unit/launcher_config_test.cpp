#include "config/launcher_config.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/ini.h"
#include "toolkit/text.h"

using namespace kelto;

namespace {

using Entries = std::vector<std::string>;

const std::string kRoot(kServerRoot);

// The reference configuration, as the server delivers it (here in UTF-8).
std::string ReferenceConfig() {
    return "[forceupdate]\r\n"
           "latest=1.6.5.2288\r\n"
           "1.6.5.2282=1\r\n"
           "\r\n"
           "[md5]\r\n"
           "1.6.5.2288=\r\n"
           "\r\n"
           "[ui]\r\n"
           "border=1\r\n"
           "headerImg=" +
           kRoot +
           "/kelto2/mvdown.png\r\n"
           "backgroundImg=" +
           kRoot +
           "/kelto2/background.png\r\n"
           "backgroundMask=" +
           kRoot +
           "/kelto2/backgroundmask.png\r\n"
           "caption=Morvik下载器 2010\r\n"
           "captionColor=#ffffff\r\n"
           "captionX=40\r\n"
           "captionY=10\r\n"
           "description=正在准备下载 %s\r\n"
           "descriptionColor=#585858\r\n"
           "progress=下载速度: %s/s, 剩余时间 %d 秒\r\n"
           "progressColor=#585858\r\n"
           "imgHeaderX=9\r\n"
           "imgHeaderY=35\r\n"
           ";closeImg=\r\n"
           "closeX=341\r\n"
           "closeY=0\r\n"
           "closeW=48\r\n"
           "closeH=21\r\n"
           ";minimizeImg=\r\n"
           "minimizeX=298\r\n"
           "minimizeY=0\r\n"
           "minimizeW=48\r\n"
           "minimizeH=21\r\n"
           "Weblink1Text=本软件已通过安全厂商的认证\r\n"
           "Weblink1URL=http://cert.example.com/kelto2\r\n"
           "Weblink1Color=#1b5d9b\r\n"
           "Weblink1X=45\r\n"
           "Weblink1Y=181\r\n";
}

LauncherConfig Loaded(std::initializer_list<std::string> texts) {
    LauncherConfig config;
    for (const std::string& text : texts) {
        LoadFromText(config, text);
    }
    return config;
}

TEST(LauncherConfigTest, Defaults) {
    LauncherConfig c;
    EXPECT_TRUE(c.forceupdate.empty());
    EXPECT_EQ(c.headerurl, kRoot);
    EXPECT_EQ(c.progress, "下载速度: %s/s, 剩余时间 %d 秒");
    EXPECT_EQ(c.caption, "Morvik下载器 2010");
    EXPECT_EQ(c.headerImg, "");
    EXPECT_EQ(c.description, "");
    EXPECT_EQ(c.closeX, 0);
    EXPECT_EQ(c.minimizeH, 0);
    EXPECT_EQ(DefaultSetupUrl("http://h"), "http://h/download/mvsetup.exe");
    EXPECT_EQ(SetupPackageUrl(c), DefaultSetupUrl(kRoot));
    EXPECT_TRUE(std::string_view(kRoot).starts_with("http://"));
    EXPECT_NE(kRoot.back(), '/');
}

TEST(LauncherConfigTest, ReferenceConfiguration) {
    LauncherConfig c = Loaded({ReferenceConfig()});
    EXPECT_EQ(c.forceupdate, (Entries{"latest=1.6.5.2288", "1.6.5.2282=1"}));
    EXPECT_EQ(c.headerImg, kRoot + "/kelto2/mvdown.png");
    EXPECT_EQ(c.backgroundImg, kRoot + "/kelto2/background.png");
    EXPECT_EQ(c.backgroundMask, kRoot + "/kelto2/backgroundmask.png");
    EXPECT_EQ(c.headerurl, kRoot);  // not in the file
    EXPECT_EQ(c.caption, "Morvik下载器 2010");
    EXPECT_EQ(c.CaptionColor, "#ffffff");
    EXPECT_EQ(c.captionX, 40);
    EXPECT_EQ(c.captionY, 10);
    EXPECT_EQ(c.description, "正在准备下载 %s");
    EXPECT_EQ(c.descriptionColor, "#585858");
    EXPECT_EQ(c.progress, "下载速度: %s/s, 剩余时间 %d 秒");
    EXPECT_EQ(c.ProgressColor, "#585858");
    EXPECT_EQ(c.imgHeaderX, 9);
    EXPECT_EQ(c.imgHeaderY, 35);
    EXPECT_EQ(c.closeImg, "");
    EXPECT_EQ(c.minimizeImg, "");
    EXPECT_EQ(c.cancel, "");
    EXPECT_EQ((std::vector<int>{c.closeX, c.closeY, c.closeW, c.closeH}),
              (std::vector<int>{341, 0, 48, 21}));
    EXPECT_EQ((std::vector<int>{c.minimizeX, c.minimizeY, c.minimizeW, c.minimizeH}),
              (std::vector<int>{298, 0, 48, 21}));
    EXPECT_EQ(c.imgCloseX, 0);
    EXPECT_EQ(c.webLink1Text, "本软件已通过安全厂商的认证");
    EXPECT_EQ(c.webLink1URL, "http://cert.example.com/kelto2");
    EXPECT_EQ(c.webLink1Color, "#1b5d9b");
    EXPECT_EQ(c.webLink1X, 45);
    EXPECT_EQ(c.webLink1Y, 181);
    EXPECT_EQ(c.webLink2URL, "");
    EXPECT_EQ(c.webLink2X, 0);
    EXPECT_EQ(SetupPackageUrl(c), DefaultSetupUrl(kRoot));
}

TEST(LauncherConfigTest, PresenceDecides) {
    struct Case {
        const char* name;
        std::vector<std::string> texts;
        std::string caption;
        int captionX;
        std::string headerurl;
    };
    const Case cases[] = {
        {"missing keys keep the defaults", {"[ui]\nother=1\n"}, "Morvik下载器 2010", 0, kRoot},
        {"no [ui] at all", {"[forceupdate]\nlatest=1.0.0.0\n"}, "Morvik下载器 2010", 0, kRoot},
        {"empty values overwrite", {"[ui]\ncaption=\nheaderurl=\n"}, "", 0, ""},
        {"empty quotes overwrite", {"[ui]\ncaption=\"\"\n"}, "", 0, kRoot},
        {"bare key is absent", {"[ui]\ncaption\ncaptionX\n"}, "Morvik下载器 2010", 0, kRoot},
        {"commented key is absent",
         {"[ui]\n;caption=x\n ;captionX=3\n"},
         "Morvik下载器 2010",
         0,
         kRoot},
        {"keys in any case",
         {"[UI]\nCAPTIONX=7\nCaPtIoN=c\nHEADERURL=http://h\n"},
         "c",
         7,
         "http://h"},
        {"first occurrence wins",
         {"[ui]\ncaption=one\nCaption=two\n[ui]\ncaption=three\n"},
         "one",
         0,
         kRoot},
        {"second file wins",
         {"[ui]\ncaption=one\ncaptionX=5\n", "[ui]\ncaption=two\n"},
         "two",
         5,
         kRoot},
        {"present but empty integer is 0",
         {"[ui]\ncaptionX=5\n", "[ui]\ncaptionX=\n"},
         "Morvik下载器 2010",
         0,
         kRoot},
        {"integer text", {"[ui]\ncaptionX=12px\n"}, "Morvik下载器 2010", 12, kRoot},
        {"negative integer", {"[ui]\ncaptionX=-3\n"}, "Morvik下载器 2010", -3, kRoot},
        {"keys outside [ui] are not read",
         {"caption=x\n[other]\ncaptionX=9\n"},
         "Morvik下载器 2010",
         0,
         kRoot},
    };
    for (const Case& c : cases) {
        LauncherConfig config;
        for (const std::string& text : c.texts) {
            LoadFromText(config, text);
        }
        EXPECT_EQ(config.caption, c.caption) << c.name;
        EXPECT_EQ(config.captionX, c.captionX) << c.name;
        EXPECT_EQ(config.headerurl, c.headerurl) << c.name;
    }
}

TEST(LauncherConfigTest, KeyOrderDoesNotMatter) {
    LauncherConfig a = Loaded({"[ui]\nwebLink2Y=4\ncaption=c\nminimizeH=3\nwebLink1URL=u\n"});
    LauncherConfig b = Loaded({"[ui]\nwebLink1URL=u\nminimizeH=3\ncaption=c\nwebLink2Y=4\n"});
    EXPECT_EQ(a.caption, b.caption);
    EXPECT_EQ(a.webLink1URL, b.webLink1URL);
    EXPECT_EQ(a.minimizeH, b.minimizeH);
    EXPECT_EQ(a.webLink2Y, b.webLink2Y);
    EXPECT_EQ(a.webLink2Y, 4);
    EXPECT_EQ(a.minimizeH, 3);
}

TEST(LauncherConfigTest, EveryFieldHasItsKey) {
    // A value of its own for every key: two keys sharing a field, or a key
    // read into the wrong one, leave some field holding another key's value.
    std::string text = "[ui]\n";
    for (size_t i = 0; i < std::size(kUiFields); ++i) {
        text += std::string(kUiFields[i].key) + "=" + std::to_string(i + 1) + "\n";
    }
    LauncherConfig c = Loaded({text});
    for (size_t i = 0; i < std::size(kUiFields); ++i) {
        const UiField& field = kUiFields[i];
        EXPECT_EQ(field.text ? c.*field.text : std::to_string(c.*field.number),
                  std::to_string(i + 1))
            << field.key;
    }
}

TEST(LauncherConfigTest, ForceUpdateMerge) {
    struct Case {
        const char* name;
        std::vector<std::string> texts;
        Entries expected;
    };
    const Case cases[] = {
        {"later file replaces in place",
         {"[forceupdate]\nlatest=1.6.5.2288\n0=1\n", "[forceupdate]\nLATEST=1.7.0.1\n"},
         {"LATEST=1.7.0.1", "0=1"}},
        {"new names are appended",
         {"[forceupdate]\nlatest=1\na=1\nb=1\n", "[forceupdate]\nB=2\nc=3\n"},
         {"latest=1", "a=1", "B=2", "c=3"}},
        {"bare name reads 1", {"[forceupdate]\n1.6.5.2282\n"}, {"1.6.5.2282=1"}},
        {"empty value stays empty", {"[forceupdate]\nurl=\n"}, {"url="}},
        {"value keeps its own '='",
         {"[forceupdate]\nurl = http://h/a?b=c \n"},
         {"url=http://h/a?b=c"}},
        {"duplicate takes the first value", {"[forceupdate]\na=1\nA=2\n"}, {"A=1"}},
        {"bare first occurrence reads 1", {"[forceupdate]\nx\nx=5\n"}, {"x=1"}},
        {"quotes removed", {"[forceupdate]\nlatest=\"1.6.5.2288\"\n"}, {"latest=1.6.5.2288"}},
        {"a repeated section header hides its entries",
         {"[forceupdate]\na=1\n[ui]\n[ForceUpdate]\nb=2\na=3\n"},
         {"a=1"}},
        {"md5 is not read", {"[md5]\n1.6.5.2288=\n"}, {}},
        {"nothing removed", {"[forceupdate]\na=1\n", "[forceupdate]\n"}, {"a=1"}},
    };
    for (const Case& c : cases) {
        LauncherConfig config;
        for (const std::string& text : c.texts) {
            LoadFromText(config, text);
        }
        EXPECT_EQ(config.forceupdate, c.expected) << c.name;
    }
}

TEST(LauncherConfigTest, FindEntry) {
    LauncherConfig c;
    c.forceupdate = {"1.6.5.2282=0", "1.6.5.22820=1", "Latest=1.2", "url=http://h/x=y", "x"};
    struct Case {
        std::string name;
        bool found;
        size_t index;
        std::string value;
    };
    const Case cases[] = {
        {"1.6.5.2282", true, 0, "0"},
        {"1.6.5.22820", true, 1, "1"},
        {"latest", true, 2, "1.2"},
        {"LATEST", true, 2, "1.2"},
        {"url", true, 3, "http://h/x=y"},
        {"url=http://h/x", true, 3, "y"},  // the name is matched as a prefix with its '='
        {"", false, 0, ""},
        {"1.6.5", false, 0, ""},
        {"x", false, 0, ""},
        {"1.6.5.228", false, 0, ""},
    };
    for (const Case& k : cases) {
        std::optional<ForceEntry> e = FindEntry(c, k.name);
        ASSERT_EQ(e.has_value(), k.found) << k.name;
        if (e) {
            EXPECT_EQ(e->index, k.index) << k.name;
            EXPECT_EQ(e->value, k.value) << k.name;
        }
    }
}

TEST(LauncherConfigTest, SetupPackageUrl) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"", DefaultSetupUrl(kRoot)},
        {"[forceupdate]\nurl=http://mirror/setup.exe\n", "http://mirror/setup.exe"},
        {"[forceupdate]\nURL=http://mirror/setup.exe\n", "http://mirror/setup.exe"},
        {"[forceupdate]\nurl=\n", ""},
        {"[forceupdate]\nurl\n", "1"},
        {"[forceupdate]\nurls=http://x\n", DefaultSetupUrl(kRoot)},
        {"[ui]\nurl=http://x\n", DefaultSetupUrl(kRoot)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetupPackageUrl(Loaded({c.text})), c.expected) << c.text;
    }
}

TEST(LauncherConfigTest, HugeValuesAndSections) {
    LauncherConfig c = Loaded({"[ui]\ndescription=" + std::string(5000, 'd') + "\n"});
    EXPECT_EQ(c.description, std::string(4095, 'd'));

    // 254 entries of 128 bytes fill the section listing exactly; the url entry
    // after them is not seen, though a single read would find it.
    std::string text = "[forceupdate]\n";
    for (int i = 0; i < 254; ++i) {
        std::string name = "v" + std::to_string(i);
        text += name + "=" + std::string(128 - name.size() - 1, '1') + "\n";
    }
    text += "url=http://late/setup.exe\n";
    EXPECT_TRUE(IniReadString(ParseIni(text), "forceupdate", "url").has_value());
    c = Loaded({text});
    EXPECT_EQ(c.forceupdate.size(), 254u);
    EXPECT_EQ(c.forceupdate.back().substr(0, 5), "v253=");
    EXPECT_EQ(SetupPackageUrl(c), DefaultSetupUrl(kRoot));
}

TEST(LauncherConfigTest, GarbageLoadsSafely) {
    uint32_t seed = 7;
    for (int round = 0; round < 20; ++round) {
        std::string text = round % 2 ? "[forceupdate]\n" : "[ui]\n";
        for (int i = 0; i < 5000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            char c = static_cast<char>(seed >> 24);
            text += (seed & 0x300) == 0 ? '=' : (seed & 0x3000) == 0 ? '\n' : c;
        }
        LauncherConfig config;
        LoadFromText(config, text);
        LoadFromText(config, text);
        std::set<std::string> names;
        for (const std::string& entry : config.forceupdate) {
            size_t eq = entry.find('=');
            ASSERT_NE(eq, std::string::npos);
            EXPECT_TRUE(names.insert(AsciiLowered(entry.substr(0, eq))).second) << entry;
        }
    }
}

TEST(LauncherConfigTest, ParseColor) {
    struct Case {
        std::string text;
        ColorValue expected;
    };
    const Case cases[] = {
        {"#1b5d9b", 0x9B5D1B},
        {"#ffffff", 0xFFFFFF},
        {"#585858", 0x585858},
        {"#ABCDEF", 0xEFCDAB},
        {"#fff", 0x000FFF},
        {"#1", 0x000001},
        {"#", 0},
        {"1b5d9b", 0xFFFFFF},
        {"", 0xFFFFFF},
        {" #000000", 0xFFFFFF},
        {"#000000", 0},
        {"#12345678", 0x563412},
        {"#zz1122", 0x2211},
        {"#1122zz", 0},
        {"#12g456", 0x56},
        {"#ff00", 0x00FF},
        {"#0000ff", 0xFF0000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseColor(c.text), c.expected) << '"' << c.text << '"';
    }
}

}  // namespace
