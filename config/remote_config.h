// The configuration files on the distribution server, and how the answers
// of one fetch apply to the record.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/product.h"
#include "transfer/package_check.h"

namespace kelto {

struct LauncherConfig;

inline constexpr std::string_view kGeneralConfigName = "kelto.dat";
// The general file and the game's: the requests of one fetch.
inline constexpr int kConfigRequests = 2;

std::string DefaultConfigBaseUrl();          // server root + "/kelto2/"
std::string GameConfigName(int gameNumber);  // "games/9.dat" for game 9

// The base URL joined unchanged with a file name: no '/' added or removed.
std::string ConfigFileUrl(std::string_view baseUrl, std::string_view fileName);

// The names of one fetch's files in the order they apply: the general
// file, then the game's.
std::array<std::string, kConfigRequests> ConfigFileNames(int gameNumber);

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

// What a keyed launcher trusts a configuration file by. Without verify
// (a launcher without a key) every file that arrived is loaded as it came.
struct ConfigTrust {
    SignatureVerifier verify;  // r || s against the SHA-256 of a text, with the release keys
    int64_t now = 0;           // the system clock, seconds since 1970 UTC
};

// What became of one answer of a fetch.
enum class ConfigFileVerdict {
    kLoaded,
    kNotFetched,  // any status but 200
    kUnsigned,
    kSignatureMalformed,
    kSignatureMismatch,  // for another file's name, altered, or another key
    kExpiryMalformed,
    kExpired,
};

// The verdict's name for the trace ("signature mismatch").
std::string_view ConfigVerdictText(ConfigFileVerdict verdict);

// Whether the file named name ("kelto.dat", "games/9.dat") that arrived with
// status 200 may be loaded. With a key it must end with a signature line that
// verifies for that name, and its own [forceupdate] expires (read with load),
// when given, must be a time still ahead of trust.now: an expiry that does
// not read as one counts as passed.
ConfigFileVerdict JudgeConfigFile(std::string_view name, std::string_view file,
                                  const ConfigTrust& trust, ConfigLoader load);

// Loads the answers of one fetch over config with load, as fetching the
// files one after the other does: answers[i] answers ConfigFileUrls()[i] for
// gameNumber, whichever of them arrived first; they are loaded in that
// order, each only when JudgeConfigFile loads it. A file that is not loaded
// counts as not fetched, exactly as a failed request. Returns each file's
// verdict.
std::array<ConfigFileVerdict, kConfigRequests> ApplyConfigAnswers(
    LauncherConfig& config, std::span<const ConfigAnswer, kConfigRequests> answers,
    ConfigLoader load, const ConfigTrust& trust = {}, int gameNumber = kGameNumber);

}  // namespace kelto
