// Where the installed Downloader lives and which version it is.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

inline constexpr std::string_view kProductName = "Morvik下载器";
inline constexpr std::string_view kOldProductName = "Morvik下载器 2010";
inline constexpr std::string_view kCompanyFolder = "\\Morvik网络\\";
inline constexpr std::string_view kDownloaderExe = "mvdown.exe";
inline constexpr std::string_view kUninstallKeyPrefix =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Raised by the registry read when "InstallLocation" is unreadable or not a
// string; during start-up it ends the launcher with an error box.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// base + "\Morvik网络\" + product name.
std::string InstallCandidate(std::string_view baseFolder, std::string_view productName);

// The folder part of a path up to and including its last ':', '\' or '/'.
std::string FolderOfPath(std::string_view path);

// --- Windows (installed_downloader_win.cpp) ---

bool IsVistaOrLater();
std::string GetSpecialFolder(int csidl);
bool FileExists(const std::string& path);  // exists and is no directory
std::string GetInstallLocation(std::string_view productName);
// "0" when no Downloader is found, "" when its executable has no version.
std::string GetInstalledVersion();
// The folder of the found executable with a trailing '\', or "".
std::string GetInstalledDir();
// The file version in "%d.%d.%d.%d"; "" without a readable version resource.
// An empty path means the launcher's own executable.
std::string GetFileVersionText(const std::string& path);
