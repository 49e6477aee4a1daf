// kelto2-check: the distribution server's files read exactly as the launcher
// reads them (same INI reader, same merge, same decoders, same layout, same
// launch decision), so that an operator sees on the server what users would
// otherwise find out on their machines.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/launcher_config.h"

namespace kelto {

enum class Severity { kWarning, kError };

struct Diagnostic {
    std::string file;  // relative to the tree's root ("kelto2/kelto.dat")
    int line = 0;      // 1-based; 0 when no line applies
    Severity severity = Severity::kWarning;
    std::string text;
};

struct CheckOptions {
    // URLs on this host ("http[s]://<host>/path") are files of the tree; the
    // launcher's built-in URLs use it too. Default: the host of kServerRoot.
    std::string serverHost;
    // Where the release's public key came from (for messages) and its PEM
    // text; an empty path means no key was given.
    std::string keyPath;
    std::string keyPem;
    // A latest below this version is an error; empty: no floor.
    std::string minVersion;
};

// One file of the tree, read only up to a size the caller allows.
struct TreeFile {
    bool found = false;
    uint64_t size = 0;
    std::string bytes;  // empty when size is above the limit asked for
};

// Reads path (relative, '/'-separated, already known not to leave the tree).
using TreeReader = std::function<TreeFile(const std::string& path, uint64_t readLimit)>;

struct CheckResult {
    std::vector<Diagnostic> diagnostics;
    LauncherConfig config;  // merged, as a launcher would see it
};

// The host name of an "http://host" or "https://host" root URL.
std::string ServerHostOf(std::string_view rootUrl);

// The two configuration files, in the order the launcher loads them: their
// names below the configuration folder ("kelto.dat", "games/9.dat"), which
// their signatures cover, and their paths in the tree ("kelto2/kelto.dat").
std::vector<std::string> ConfigFileNames();
std::vector<std::string> ConfigFilePaths();

// The file at path (relative, '/'-separated) below root, its bytes read only
// when its size is within readLimit.
TreeFile ReadTreeFile(const std::string& root, const std::string& path, uint64_t readLimit);

// A whole file's bytes; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Every check over the files that read finds: the two configuration files,
// the skin pictures and the Setup package they name.
CheckResult CheckServerFiles(const TreeReader& read, const CheckOptions& options);

// The same over a directory laid out as the server's tree.
CheckResult CheckTree(const std::string& root, const CheckOptions& options);

// "file:line: error: text"
std::string FormatDiagnostic(const Diagnostic& d);

// 0 clean, 1 warnings only, 2 errors.
int ExitStatus(const std::vector<Diagnostic>& diagnostics);

// What a launcher with that Downloader version installed would decide
// ("0": none installed; "": an executable without version information).
std::string DescribeLaunch(const LauncherConfig& config, std::string_view installedVersion,
                           bool downloaderRunning, bool testMode, const CheckOptions& options);

// The merged record as INI text: [forceupdate], [md5], [sha256],
// [signature] in list order, then every [ui] field in record order.
std::string DescribeConfig(const LauncherConfig& config);

}  // namespace kelto
