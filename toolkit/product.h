// The product's fixed names and numbers, shared by every layer. Only
// constants live here, so that any folder may include it without reaching
// up the stack.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelto {

// "http://" or "https://" and the distribution server's host, no path, no trailing slash;
// set by the build (KELTO2_SERVER_ROOT).
inline constexpr std::string_view kServerRoot = KELTO2_SERVER_ROOT;

// The one game this launcher serves: the per-game configuration file and
// the parameter of the hand-over message.
inline constexpr int kGameNumber = 9;

// Title of the application window and of the launcher's message boxes.
inline constexpr std::string_view kApplicationCaption = "下载器";
// How the description line and the cancel question name the game.
inline constexpr std::string_view kGameTitle = "Tamble";

// The Downloader: product names in the order they are tried, the company
// folder between the base folder and the product folder, its files.
inline constexpr std::string_view kProductName = "Morvik下载器";
inline constexpr std::string_view kOldProductName = "Morvik下载器 2010";
inline constexpr std::string_view kCompanyFolder = "\\Morvik网络\\";
inline constexpr std::string_view kDownloaderExe = "mvdown.exe";
inline constexpr std::string_view kUninstallerName = "uninst.exe";
inline constexpr std::string_view kSoftwareXmlName = "software.xml";
inline constexpr std::string_view kDownloaderWindowClass = "Tmvna_downloader_MsgWin";
inline constexpr uint32_t kHandOverMessage = 0x13F4;

// The configuration files and skin pictures that the launcher fetches are a
// few kilobytes; above this size a file is not one of them and is not held
// (a configuration file is ignored, a picture counts as fetched and not
// decodable).
inline constexpr int32_t kMaxServerFileBytes = 16 << 20;

// The trace, switched on by the file's presence in the current folder.
inline constexpr std::string_view kLogFileName = "kelto2.log";

}  // namespace kelto
