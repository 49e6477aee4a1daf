// What a downloaded Setup package must satisfy before it runs: the digests
// and the signature that the configuration publishes for the newest
// version, checked against the release key built into the exe. This part
// parses the published values and the key and decides; the hashing and the
// signature check itself are the platform's (package_check_win.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// The values the configuration gives for the version named by "latest";
// empty when absent or written empty.
struct PackageChecks {
    std::string md5;        // 32 hex digits
    std::string sha256;     // 64 hex digits
    std::string signature;  // base64 of a DER ECDSA signature of SignedStatement
    std::string version;    // "latest" as written, which the signature is bound to
};

using Md5Digest = std::array<uint8_t, 16>;
using Sha256Digest = std::array<uint8_t, 32>;
using EcdsaSignature = std::array<uint8_t, 64>;  // r then s, 32 bytes each, big-endian
using EcPublicKey = std::array<uint8_t, 64>;     // X then Y of a P-256 point, big-endian

enum class ReleaseKeyState { kNone, kValid, kMalformed };

// What a build trusts releases by: its key, the key operators move to next
// and the lowest version it installs; kNone for a build without a key.
struct ReleaseKey {
    ReleaseKeyState state = ReleaseKeyState::kNone;
    EcPublicKey point{};
    std::optional<EcPublicKey> nextPoint;  // a signature with it counts as well
    std::string minVersion;                // four numbers; "" for no floor
};

// Digests written as hex, exactly 32 or 64 digits of either case; anything
// else (blanks, a prefix, another length) is malformed.
std::optional<Md5Digest> ParseMd5Hex(std::string_view text);
std::optional<Sha256Digest> ParseSha256Hex(std::string_view text);

// Strict base64 (RFC 4648 alphabet): padded to a multiple of four, no
// blanks or line breaks, unused bits zero; nullopt for anything else.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text);

// A DER ECDSA-Sig-Value (SEQUENCE of two INTEGERs) as the 64 bytes r || s;
// nullopt unless it is minimal DER with both numbers positive and no wider
// than 32 bytes.
std::optional<EcdsaSignature> EcdsaSignatureFromDer(std::span<const uint8_t> der);

// The signature as published: strict base64 of such a DER value.
std::optional<EcdsaSignature> EcdsaSignatureFromBase64(std::string_view text);

// The point of a DER SubjectPublicKeyInfo that holds an uncompressed P-256
// key (id-ecPublicKey, prime256v1); nullopt for any other key or encoding.
std::optional<EcPublicKey> P256KeyFromDer(std::span<const uint8_t> der);

// The DER of a "PUBLIC KEY" PEM block (blanks and line breaks inside the
// base64 are allowed there); nullopt when there is no such block.
std::optional<std::vector<uint8_t>> PublicKeyPemToDer(std::string_view pem);

// The key a build carries, from its DER (nullopt: the build carries none).
// Carried but unreadable makes it malformed, never absent.
ReleaseKey ReleaseKeyFromDer(std::optional<std::span<const uint8_t>> der);

// What a build carries: its key, the next key and the floor (nullopt each
// when not carried). A next key or a floor that cannot be read, or that
// comes without a key, makes the whole malformed: such a build installs
// nothing rather than less than it was built to demand.
ReleaseKey ReleaseKeyFromBuild(std::optional<std::span<const uint8_t>> der,
                               std::optional<std::span<const uint8_t>> nextDer,
                               std::optional<std::string_view> minVersion);

enum class PackageVerdict {
    kOk,
    kReleaseKeyMalformed,
    kVersionMalformed,
    kUnreadable,
    kSha256Malformed,
    kSha256Mismatch,
    kMd5Malformed,
    kMd5Mismatch,
    kSignatureMissing,
    kSignatureMalformed,
    kSignatureMismatch,
    kBelowMinimum,
};

// Whether "latest" is four decimal numbers of 0..65535 joined by dots,
// without leading zeros or blanks: the only texts a signature is bound to.
bool IsFourNumberVersion(std::string_view text);

// The four numbers of such a version; nullopt for any other text.
std::optional<std::array<uint16_t, 4>> ParseFourNumberVersion(std::string_view text);

// Whether a keyed build may install the release that version names at all,
// asked before anything is downloaded: kVersionMalformed for a version that
// is not four numbers, kBelowMinimum for one below the build's floor, else
// kOk. A build without a valid key is never refused here.
PackageVerdict JudgeRelease(std::string_view version, const ReleaseKey& key);

// What a release signature signs: "kelto2-setup <version> <sha256>\n", the
// version exactly as written and the digest in lower-case hex.
std::string SignedStatement(std::string_view version, const Sha256Digest& sha256);

// Why a package was refused, for the log ("sha256 mismatch").
std::string_view VerdictText(PackageVerdict verdict);

// The log line of a refused package: "Package check failed: " and the reason.
std::string PackageCheckFailedLine(PackageVerdict verdict);

// Whether the file needs to be looked at at all: with no key and no digest
// published a package runs unchecked, as it always has.
bool PackageNeedsCheck(const PackageChecks& checks, ReleaseKeyState key);

struct DigestNeeds {
    bool md5 = false;
    bool sha256 = false;
};

// The digests worth computing: those published, and the SHA-256 that a
// signature covers when there is a key to check it against.
DigestNeeds DigestsNeeded(const PackageChecks& checks, ReleaseKeyState key);

struct PackageDigests {
    Md5Digest md5{};
    Sha256Digest sha256{};
};

// Checks r || s against the SHA-256 of statement with the release key.
using SignatureVerifier = std::function<bool(const EcdsaSignature&, std::string_view statement)>;

// The decision on a package whose digests (those DigestsNeeded asked for)
// were computed: kOk or the first reason to refuse it. With a key, a
// version that is not four numbers is refused before anything else. verify
// is called only with a valid key and a well-formed signature, on the
// statement for checks.version and the file's SHA-256.
PackageVerdict JudgePackage(const PackageChecks& checks, ReleaseKeyState key,
                            const PackageDigests& digests, const SignatureVerifier& verify);

}  // namespace kelto
