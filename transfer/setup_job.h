// The setup download job's fixed values and the naming of its files: what
// does not need the platform, so that it is tested on the host too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelto {

// The package is fetched up to this many times, each into a new file.
inline constexpr int kSetupAttempts = 3;
// GetTempFileName takes the first three characters of it.
inline constexpr std::string_view kSetupFilePrefix = "mvsetup";
// Windows and the user know a program by this extension; the package keeps it.
inline constexpr std::string_view kSetupFileExtension = ".exe";
// Where a run keeps its files, below the user's temporary folder.
inline constexpr std::string_view kSetupFolderPrefix = "kelto2-setup-";
// The leading blank is part of what the package is given.
inline constexpr std::string_view kSetupParameters = " /S";
// How long the package may install before it is ended: 24 minutes.
inline constexpr uint32_t kSetupWaitMs = 1440000;
// How long the main thread, leaving, waits for an abandoned job to tidy up.
inline constexpr uint32_t kAbandonWaitMs = 2000;

// The job's lines in the log.
inline constexpr std::string_view kSetupStartLine = "Start download mvsetup.exe, ";
inline constexpr std::string_view kSetupFailedLine = "Download mvsetup.exe failed";
inline constexpr std::string_view kSetupRunLine = "Executing mvdown.exe";
inline constexpr std::string_view kSetupDoneLine = "Download mvsetup.exe complete successful";

// The path the package is stored at for a temporary file made by
// GetTempFileName: its extension (from the last '.' of the file name on)
// becomes ".exe"; a name without one gets ".exe" added.
std::string SetupFilePathFor(const std::string& tempFile);

}  // namespace kelto
