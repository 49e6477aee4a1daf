// What the launcher does to the Downloader once it has decided: the
// portable part of the hand-over, the software.xml refresh and the
// uninstall.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/remote_config.h"
#include "transfer/http.h"

namespace kelto {

// Whatever the server does, the windowless run ends within this: the
// configuration requests take at most their time limit each, the
// software.xml refresh the rest, less a margin for the run's own work.
inline constexpr uint32_t kWindowlessRunMs = 120000;
inline constexpr uint32_t kWindowlessMarginMs = 10000;
inline constexpr uint32_t kRefreshBudgetMs =
    kWindowlessRunMs - kConfigRequests * kServerFileTotalMs - kWindowlessMarginMs;
static_assert(kRefreshBudgetMs >= kServerFileTotalMs, "a refresh gets one whole request at least");

inline constexpr std::string_view kSoftwareXmlPath = "/software2.xml";  // on the server root
inline constexpr std::string_view kUninstallParameters = " /S";         // the blank is part of it
inline constexpr uint32_t kUninstallWaitMs = 60000;

// Time limits of the hand-over. The defaults are the product's; tests pass
// smaller ones instead of waiting minutes.
struct HandOverTiming {
    uint32_t pollMs = 100;                  // between searches for the window
    uint32_t windowSearchLimitMs = 600000;  // give up after 10 minutes
    uint32_t refreshAttempts = 5;           // software.xml downloads
    uint32_t refreshPauseMs = 500;          // between failed attempts
    // A Downloader that stops answering must not keep the windowless
    // launcher alive for ever; a live one answers long before this.
    uint32_t hungSendLimitMs = 60000;
    uint32_t refreshBudgetMs = kRefreshBudgetMs;  // all software.xml attempts together
};

// "SendMessage %d, %d, %d" of the window handle, the message and the game.
// The handle reads as the 32-bit program printed it: its low 32 bits, signed.
std::string SendMessageLogLine(int64_t window, uint32_t message, int gameNumber);

// The URL of the Downloader's software.xml: always below the server root,
// whatever base URL the command line gave for the configuration.
std::string SoftwareXmlUrl(std::string_view serverRoot);

}  // namespace kelto
