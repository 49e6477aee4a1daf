// The configuration files on the distribution server.
#pragma once

#include <string>
#include <string_view>

namespace kelto {

inline constexpr std::string_view kGeneralConfigName = "kelto.dat";
// The general file and the game's: the requests of one fetch.
inline constexpr int kConfigRequests = 2;

std::string DefaultConfigBaseUrl();          // server root + "/kelto2/"
std::string GameConfigName(int gameNumber);  // "games/9.dat" for game 9

// The base URL joined unchanged with a file name: no '/' added or removed.
std::string ConfigFileUrl(std::string_view baseUrl, std::string_view fileName);

}  // namespace kelto
