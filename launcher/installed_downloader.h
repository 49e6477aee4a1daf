// Where the installed Downloader lives: the portable part.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace kelto {

inline constexpr std::string_view kUninstallKeyPrefix =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Raised by the registry read when "InstallLocation" is unreadable or not a
// string; during start-up it ends the launcher with an error box. code() is
// the registry's error (a Win32 error code) for the trace.
class RegistryError : public std::runtime_error {
public:
    RegistryError(const std::string& what, long code) : std::runtime_error(what), code_(code) {}
    long code() const { return code_; }

private:
    long code_;
};

// base + "\Morvik网络\" + product name.
std::string InstallCandidate(std::string_view baseFolder, std::string_view productName);

// The folder part of a path up to and including its last ':', '\' or '/'.
std::string FolderOfPath(std::string_view path);

}  // namespace kelto
