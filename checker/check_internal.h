// What the checker's parts share: the configuration files as the INI reader
// sees them, with their line numbers, and the findings reported about them.
// check.cpp scans and reports; check_ini.cpp, check_skin.cpp and
// check_package.cpp each check one part of the server's files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "checker/check.h"
#include "config/launcher_config.h"
#include "transfer/package_check.h"

namespace kelto {

struct ScannedEntry {
    int line = 0;
    std::string key;
    std::string value;  // quotes removed, not cut
    bool hasValue = false;
};

struct ScannedSection {
    std::string name;
    int line = 0;
    std::vector<ScannedEntry> entries;
};

struct ScannedFile {
    std::string path;
    bool loaded = false;  // the launcher would load it
    std::string raw;      // the bytes as served
    std::string utf8;
    std::vector<ScannedSection> sections;
};

// The release key given to the checker, as a keyed launcher would carry it.
struct KeyRead {
    ReleaseKey key;
    std::vector<uint8_t> der;  // SubjectPublicKeyInfo
};

struct Checking {
    const TreeReader& read;
    const CheckOptions& options;
    std::vector<ScannedFile> files;
    LauncherConfig config;
    std::vector<Diagnostic> out;
    KeyRead key;
};

struct Place {
    std::string file;
    int line = 0;
};

struct TreeTarget {
    bool onServer = false;  // http:// or https:// on the server's host
    std::string path;       // relative to the root; empty when it cannot be a file of the tree
};

// ---- check.cpp ----

// A value as a message quotes it, cut short.
std::string Quote(std::string_view value);

// Whole mebibytes: "512 MiB".
std::string MibText(uint64_t bytes);

// One finding per output line, whatever the server's files hold: control
// characters from quoted values or decoded URLs never reach the terminal.
void Report(Checking& c, const std::string& file, int line, Severity severity, std::string text);
void Report(Checking& c, const Place& at, Severity severity, std::string text);

// Line 0 of the first file the launcher loads (of the first configuration
// file when it loads none): where a finding about the merged record goes.
Place FallbackPlace(const Checking& c);

// Where the value the launcher ends up with was written: the later file wins.
std::optional<Place> Locate(const Checking& c, std::string_view section, std::string_view key);

// Locate, or FallbackPlace when no loaded file writes the key.
Place LocateOr(const Checking& c, std::string_view section, std::string_view key);

// "http://<server host>[:80]/path" or "https://<server host>[:443]/path"
// to the file the server would serve.
TreeTarget TargetOf(std::string_view url, std::string_view host);

// The launcher's root URL on the checked server's host.
std::string DefaultServerRoot(const CheckOptions& options);

// The section the launcher reads (the first of that name), and the entry
// of a key it reads there (the first); nullptr when there is none.
const ScannedSection* ReadSection(const ScannedFile& file, std::string_view name);
const ScannedEntry* FirstEntry(const ScannedSection& section, std::string_view key);

// ---- check_package.cpp: the cryptography, OpenSSL's ----

// Lower-case hex.
std::string HexText(std::span<const uint8_t> bytes);

Sha256Digest Sha256Of(std::string_view bytes);

// Checks r || s as the launcher does: ECDSA P-256 over the SHA-256 of
// statement, with the key's SubjectPublicKeyInfo.
bool VerifySignature(std::span<const uint8_t> keyDer, const EcdsaSignature& rs,
                     std::string_view statement);

// Fills c.key from the key the checker was given, reporting a key that a
// launcher could not carry.
void ReadReleaseKey(Checking& c);

// ---- the checks, in the order CheckServerFiles runs them ----

// check_ini.cpp: every section and entry of one scanned file.
void CheckFileText(Checking& c, const ScannedFile& file);

// check_ini.cpp: the launcher finds a configuration file, and the merged
// record names a latest version.
void CheckLatestPresent(Checking& c);

// check_skin.cpp: the skin pictures the launcher fetches, and the progress
// window laid out over the background picture.
void CheckSkin(Checking& c);

// check_release.cpp: each configuration file's signature and expiry, the
// floor under latest and the rollout share.
void CheckRelease(Checking& c);

// check_ini.cpp: [forceupdate] keys that check_release.cpp judges.
bool IsReleaseKey(std::string_view key);

// check_package.cpp: the Setup package against what the server publishes
// about it and the release key.
void CheckPackage(Checking& c);

}  // namespace kelto
