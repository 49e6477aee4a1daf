// What a configuration file signs and carries beside its keys: the
// signature line, the expiry time and the staged rollout. The signature
// check itself is the platform's (the launcher's CNG, the tools' OpenSSL).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// The last line of a signed file: this prefix, the base64 of a DER ECDSA
// P-256 signature, then CR LF or the end of the file.
inline constexpr std::string_view kConfigSignaturePrefix = ";kelto2-signature ";

struct ConfigFileParts {
    std::string_view signedBytes;  // every byte before the signature line
    std::string_view signature;    // its base64 as written; empty without the line
};

// Splits off the signature line when the file ends with one; otherwise the
// whole file, unsigned. A line ended by a bare LF, or followed by anything,
// is not a signature line.
ConfigFileParts SplitConfigSignature(std::string_view file);

// What the signature of the file named name ("kelto.dat", "games/9.dat")
// covers: "kelto2-config <name>", a line feed, then the signed bytes, so
// that one file cannot stand in for the other.
std::string ConfigSignedText(std::string_view name, std::string_view signedBytes);

// The [forceupdate] keys of a signed file's expiry time and of the share
// of machines offered its latest version.
inline constexpr std::string_view kExpiresKey = "expires";
inline constexpr std::string_view kRolloutKey = "rollout";

// "YYYY-MM-DDTHH:MM:SSZ" (UTC, years 1970..9999) as seconds since
// 1970-01-01T00:00:00Z; nullopt for any other text or a date that does
// not exist.
std::optional<int64_t> ParseUtcTime(std::string_view text);

// The seconds since 1970 written as ParseUtcTime reads them.
std::string FormatUtcTime(int64_t seconds);

// A [forceupdate] rollout value: a whole number 0..100 of at most three
// decimal digits, no sign or blanks; nullopt for anything else.
std::optional<int> ParseRolloutShare(std::string_view text);

// The share a missing rollout value stands for: every machine.
inline constexpr int kFullRollout = 100;

// What a machine's rollout bucket is drawn from:
// "kelto2-rollout <machineGuid> <latest>".
std::string RolloutStatement(std::string_view machineGuid, std::string_view latest);

// The bucket 0..99: the first four bytes of the statement's SHA-256 read
// as a big-endian number, modulo 100.
int RolloutBucket(const std::array<uint8_t, 32>& statementSha256);

// Whether a machine in bucket is offered a release rolled out to share.
inline bool IsInRollout(int bucket, int share) {
    return bucket < share;
}

}  // namespace kelto
