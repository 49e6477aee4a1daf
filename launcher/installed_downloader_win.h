// Where the installed Downloader lives and which version it is.
#pragma once

#include <string>
#include <string_view>

#include "launcher/installed_downloader.h"

namespace kelto {

// The Downloader is looked for, under each product name in turn (the
// current one, then the older one), first in its per-user folder (local
// application data; the 32-bit program files folder before Vista), then
// in the InstallLocation of its uninstall key (32-bit registry view). A
// folder counts only when mvdown.exe is in it.

// True on Windows Vista and later (major version 6 or more).
bool IsVistaOrLater();
// The folder of a CSIDL, without a trailing ''; "" when the system has none.
std::string GetSpecialFolder(int csidl);
// productName's folder: the per-user one when mvdown.exe is in it, else
// the InstallLocation of its uninstall key as stored (not expanded, not
// checked); "" when the key or the value is absent or empty. An existing
// value that cannot be read or is no string raises RegistryError with the
// registry's error.
std::string GetInstallLocation(std::string_view productName);
// The path of mvdown.exe of the first product name that has one, or "".
// Raises RegistryError as GetInstallLocation does.
std::string FindDownloaderExe();
// "0" when no Downloader is found, "" when its executable has no version.
std::string GetInstalledVersion();
// The same for the executable FindDownloaderExe found ("" for none).
std::string InstalledVersionOf(const std::string& exe);
// The folder of the found executable with a trailing '\', or "".
std::string GetInstalledDir();
// The file version in "%d.%d.%d.%d"; "" without a readable version resource.
// An empty path means the launcher's own executable.
std::string GetFileVersionText(const std::string& path);

}  // namespace kelto
