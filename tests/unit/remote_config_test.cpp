#include "config/remote_config.h"

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/launcher_config.h"
#include "toolkit/product.h"

using namespace kelto;

namespace {

TEST(ConfigFileUrls, GeneralFileFirstThenTheGames) {
    using Urls = std::array<std::string, kConfigRequests>;
    EXPECT_EQ(ConfigFileUrls("http://mirror.example/q/", 9),
              (Urls{"http://mirror.example/q/kelto.dat", "http://mirror.example/q/games/9.dat"}));
    EXPECT_EQ(ConfigFileUrls("", 12), (Urls{std::string(kServerRoot) + "/kelto2/kelto.dat",
                                            std::string(kServerRoot) + "/kelto2/games/12.dat"}));
}

// The answers of both requests, whichever came first, give the record that
// loading the files one after the other gives.
TEST(ApplyConfigAnswers, GeneralThenGameEachOnlyAt200) {
    const std::string general =
        "[forceupdate]\nlatest=1.6.5.2288\n1.6.5.2282=1\n[ui]\ncaptionX=40\n";
    const std::string game = "[forceupdate]\nLATEST=1.6.5.2282\n[ui]\ncaptionX=7\ncloseW=48\n";
    struct Case {
        const char* name;
        ConfigAnswer general;
        ConfigAnswer game;
        std::vector<std::string> forceupdate;
        int captionX;
        int closeW;
    };
    const LauncherConfig defaults;
    const Case cases[] = {
        {"both: the game's keys win, the entries merge",
         {200, general},
         {200, game},
         {"LATEST=1.6.5.2282", "1.6.5.2282=1"},
         7,
         48},
        {"general only",
         {200, general},
         {404, game},
         {"latest=1.6.5.2288", "1.6.5.2282=1"},
         40,
         defaults.closeW},
        {"game only", {500, general}, {200, game}, {"LATEST=1.6.5.2282"}, 7, 48},
        {"no answer, or a broken one",
         {0, general},
         {0, game},
         {},
         defaults.captionX,
         defaults.closeW},
        {"a redirect is no file",
         {302, general},
         {206, game},
         {},
         defaults.captionX,
         defaults.closeW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LauncherConfig config;
        const std::array<ConfigAnswer, kConfigRequests> answers{c.general, c.game};
        ApplyConfigAnswers(config, answers, &LoadFromText);
        EXPECT_EQ(config.forceupdate, c.forceupdate);
        EXPECT_EQ(config.captionX, c.captionX);
        EXPECT_EQ(config.closeW, c.closeW);
    }
}

}  // namespace
