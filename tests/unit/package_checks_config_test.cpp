#include <string>

#include <gtest/gtest.h>

#include "config/launcher_config.h"

using namespace kelto;

namespace {

TEST(PackageChecksConfig, ValuesOfTheLatestVersion) {
    const std::string latest = "[forceupdate]\nlatest=1.6.5.2288\n";
    struct Case {
        const char* name;
        std::string general;
        std::string game;
        PackageChecks expected;
    };
    const Case cases[] = {
        {"reference file", latest + "[md5]\n1.6.5.2288=\n", "", {"", "", "", "1.6.5.2288"}},
        {"all three, any case, '=' in a value",
         latest + "[MD5]\n1.6.5.2288=m\n[Sha256]\n1.6.5.2288=s\n[signature]\n1.6.5.2288=Zg==\n",
         "",
         {"m", "s", "Zg==", "1.6.5.2288"}},
        {"another version's value",
         latest + "[sha256]\n1.6.5.2282=s\n",
         "",
         {"", "", "", "1.6.5.2288"}},
        {"no latest", "[sha256]\n1.6.5.2288=s\n", "", {}},
        {"game file moves latest on",
         "[forceupdate]\nlatest=1\n[sha256]\n1=old\n1.6.5.2288=old\n",
         latest + "[sha256]\n1.6.5.2288=new\n[sha256]\n1.6.5.2288=repeated section\n",
         {"", "new", "", "1.6.5.2288"}},
    };
    for (const Case& c : cases) {
        LauncherConfig config;
        LoadFromText(config, c.general);
        LoadFromText(config, c.game);
        PackageChecks checks = PackageChecksFor(config);
        EXPECT_EQ(checks.md5, c.expected.md5) << c.name;
        EXPECT_EQ(checks.sha256, c.expected.sha256) << c.name;
        EXPECT_EQ(checks.signature, c.expected.signature) << c.name;
        EXPECT_EQ(checks.version, c.expected.version) << c.name;
        EXPECT_LE(config.forceupdate.size(), 1u) << c.name << ": nothing new in forceupdate";
    }
}

}  // namespace
