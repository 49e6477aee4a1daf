// What the launcher does to the Downloader once it has decided.
#pragma once

inline constexpr const char* kDownloaderWindowClass = "Tmvna_downloader_MsgWin";

// Windows only (handover_win.cpp).
bool DownloaderWindowExists();
