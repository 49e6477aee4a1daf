// What the launcher does to the Downloader once it has decided: hand over
// (start it, find its message window, send the game number), refresh its
// software.xml, and run its uninstaller.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kDownloaderWindowClass = "Tmvna_downloader_MsgWin";
inline constexpr unsigned kHandOverMessage = 0x13F4;
inline constexpr const char* kSoftwareXmlPath = "/software2.xml";  // on the server root

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
std::string SendMessageLogLine(int64_t window, unsigned message, int gameNumber);

// --- Windows (handover_win.cpp) ---

bool DownloaderWindowExists();

// Starts the installed Downloader with "/u", waits for its message window
// and sends it the game number. Returns the window, or 0 on failure.
uintptr_t RunDownloader(int gameNumber, const HandOverTiming& timing = {});

// Replaces software.xml in the current product's folder from the server.
void UpdateSoftwareXml(const HandOverTiming& timing = {});

// Runs "uninst.exe /S" of the folder (with its trailing '\') hidden and
// waits for it; a hanging uninstaller is ended after waitMs.
void UninstallDownloader(const std::string& folder, uint32_t waitMs = kUninstallWaitMs);
