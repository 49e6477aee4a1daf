// What the launcher does to the Downloader once it has decided: hand over
// (start it, find its message window, send the game number), refresh its
// software.xml, and run its uninstaller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/launcher_config.h"

inline constexpr const char* kDownloaderWindowClass = "Tmvna_downloader_MsgWin";
inline constexpr unsigned kHandOverMessage = 0x13F4;
inline constexpr const char* kSoftwareXmlPath = "/software2.xml";  // on the server root
inline constexpr const char* kUninstallerName = "uninst.exe";
inline constexpr const char* kUninstallParameters = " /S";  // the blank is part of it

// Time limits of the hand-over. The defaults are the product's; tests pass
// smaller ones instead of waiting minutes.
struct HandOverTiming {
    uint32_t pollMs = 100;                  // between searches for the window
    uint32_t windowSearchLimitMs = 600000;  // give up after 10 minutes
    uint32_t refreshAttempts = 5;           // software.xml downloads
    uint32_t refreshPauseMs = 500;          // between failed attempts
};

inline constexpr uint32_t kUninstallWaitMs = 60000;

// "SendMessage %d, %d, %d" of the window handle, the message and the game.
// The handle reads as the 32-bit program printed it: its low 32 bits, signed.
std::string SendMessageLogLine(int64_t window, unsigned message, int gameNumber);

// The URL of the Downloader's software.xml: always below the server root,
// whatever base URL the command line gave for the configuration.
std::string SoftwareXmlUrl(std::string_view serverRoot);

// --- Windows (handover_win.cpp) ---

bool DownloaderWindowExists();

// Starts the installed Downloader with "/u", waits for its message window
// and sends it the game number. Returns the window, or 0 when no Downloader
// is installed or its window never came. A RegistryError of the search for
// the executable reaches the caller; one of the software.xml refresh does
// not. serverRoot is the product's server; tests pass their own.
uintptr_t RunDownloader(int gameNumber, const HandOverTiming& timing = {},
                        std::string_view serverRoot = kServerRoot);

// Replaces software.xml in the current product's folder from the server.
// Without such a folder nothing is fetched and one failure is logged.
void UpdateSoftwareXml(const HandOverTiming& timing = {},
                       std::string_view serverRoot = kServerRoot);

// Runs "uninst.exe /S" of the folder (with its trailing '\') hidden and
// waits for it; a hanging uninstaller is ended after waitMs.
void UninstallDownloader(const std::string& folder, uint32_t waitMs = kUninstallWaitMs);
