// The configuration files on the distribution server, and how the answers
// of one fetch apply to the record.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kelto {

struct LauncherConfig;

inline constexpr std::string_view kGeneralConfigName = "kelto.dat";
// The general file and the game's: the requests of one fetch.
inline constexpr int kConfigRequests = 2;

std::string DefaultConfigBaseUrl();          // server root + "/kelto2/"
std::string GameConfigName(int gameNumber);  // "games/9.dat" for game 9

// The base URL joined unchanged with a file name: no '/' added or removed.
std::string ConfigFileUrl(std::string_view baseUrl, std::string_view fileName);

// The URLs of one fetch in the order their files apply: the general file,
// then the game's, whose keys win. An empty baseUrl means the default base.
std::array<std::string, kConfigRequests> ConfigFileUrls(std::string_view baseUrl, int gameNumber);

// What one configuration request came to: its status, and its body as the
// server sent it.
struct ConfigAnswer {
    int32_t status = 0;
    std::string_view body;
};

// Reads one body over the record (on Windows as GBK).
using ConfigLoader = void (*)(LauncherConfig& config, std::string_view body);

// Loads the answers of one fetch over config with load, as fetching the
// files one after the other does: answers[i] answers ConfigFileUrls()[i],
// whichever of them arrived first; they are loaded in that order, each only
// when it came with status 200.
void ApplyConfigAnswers(LauncherConfig& config,
                        std::span<const ConfigAnswer, kConfigRequests> answers, ConfigLoader load);

}  // namespace kelto
