// Where the installed Downloader lives and which version it is.
#pragma once

#include <string>
#include <string_view>

#include "launcher/installed_downloader.h"

namespace kelto {

bool IsVistaOrLater();
std::string GetSpecialFolder(int csidl);
std::string GetInstallLocation(std::string_view productName);
// The path of mvdown.exe of the first product name that has one, or "".
std::string FindDownloaderExe();
// "0" when no Downloader is found, "" when its executable has no version.
std::string GetInstalledVersion();
// The folder of the found executable with a trailing '\', or "".
std::string GetInstalledDir();
// The file version in "%d.%d.%d.%d"; "" without a readable version resource.
// An empty path means the launcher's own executable.
std::string GetFileVersionText(const std::string& path);

}  // namespace kelto
