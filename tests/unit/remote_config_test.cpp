#include "config/remote_config.h"

#include <array>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/config_signature.h"
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
        (void)ApplyConfigAnswers(config, answers, &LoadFromText);
        EXPECT_EQ(config.forceupdate, c.forceupdate);
        EXPECT_EQ(config.captionX, c.captionX);
        EXPECT_EQ(config.closeW, c.closeW);
    }
}

// Stands for the release key: a signature verifies for exactly the texts
// that were signed. Any well-formed DER will do as the signature itself.
std::set<std::string> g_signed;
constexpr std::string_view kSomeSignature =
    "MEUCIFgX4H67rVm4MAXzbWtOUgOElpjKPEYWobBqcXlKheXOAiEA/kE0nT7QysX3mGZqGJLuyhJDNE/Z51IN5X4I8m+"
    "K6mY=";

std::string Signed(std::string_view name, const std::string& body) {
    g_signed.insert(ConfigSignedText(name, body));
    return body + std::string(kConfigSignaturePrefix) + std::string(kSomeSignature) + "\r\n";
}

// With a key each file stands or falls alone; one that falls counts as not
// fetched, so the other, or the defaults (captionX 0), stand.
TEST(ApplyConfigAnswers, KeyedLauncherLoadsOnlySignedUnexpiredFiles) {
    using V = ConfigFileVerdict;
    const std::string general = "[forceupdate]\r\nlatest=1.6.5.2288\r\n[ui]\r\ncaptionX=40\r\n";
    const std::string game = "[ui]\r\ncaptionX=7\r\n";
    auto expiring = [](const char* when) {
        return Signed("kelto.dat", "[forceupdate]\r\nexpires=" + std::string(when) +
                                       "\r\n[ui]\r\ncaptionX=40\r\n");
    };
    std::string altered = Signed("kelto.dat", general);
    altered.replace(altered.find("40"), 2, "41");
    const std::string kelto = Signed("kelto.dat", general), game9 = Signed("games/9.dat", game);
    struct Case {
        bool keyed;
        std::string general, game;  // "": 404
        std::array<V, kConfigRequests> verdicts;
        int captionX;
    };
    const Case cases[] = {
        {true, kelto, game9, {V::kLoaded, V::kLoaded}, 7},
        {false, general, "", {V::kLoaded, V::kNotFetched}, 40},
        {true, general, game9, {V::kUnsigned, V::kLoaded}, 7},
        {true,
         Signed("games/9.dat", game),
         Signed("kelto.dat", general),  // swapped
         {V::kSignatureMismatch, V::kSignatureMismatch},
         0},
        {true, altered, "", {V::kSignatureMismatch, V::kNotFetched}, 0},
        {true,
         general + ";kelto2-signature AAAA\r\n",
         "",
         {V::kSignatureMalformed, V::kNotFetched},
         0},
        {true, expiring("2026-12-09T20:00:01Z"), "", {V::kLoaded, V::kNotFetched}, 40},
        {true, expiring("2026-12-09T20:00:00Z"), "", {V::kExpired, V::kNotFetched}, 0},
        {true, expiring("next week"), "", {V::kExpiryMalformed, V::kNotFetched}, 0},
        // One file's expiry is not the other's.
        {true, expiring("2020-01-01T00:00:00Z"), game9, {V::kExpired, V::kLoaded}, 7},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        ConfigTrust trust;
        if (c.keyed) {
            trust.verify = [](const EcdsaSignature&, std::string_view text) {
                return g_signed.contains(std::string(text));
            };
            trust.now = *ParseUtcTime("2026-12-09T20:00:00Z");
        }
        const std::array<ConfigAnswer, kConfigRequests> answers{
            ConfigAnswer{200, c.general}, ConfigAnswer{c.game.empty() ? 404 : 200, c.game}};
        LauncherConfig config;
        EXPECT_EQ(ApplyConfigAnswers(config, answers, &LoadFromText, trust, 9), c.verdicts) << i;
        EXPECT_EQ(config.captionX, c.captionX) << i;
    }
}

}  // namespace
