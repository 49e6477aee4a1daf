// The platform's half of the package check: digests and the ECDSA check
// through CNG (bcrypt, present from Windows 7 on), the release key from the
// exe's resources, and a package file held so that what was checked is
// what runs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/handles_win.h"
#include "transfer/package_check.h"

namespace kelto {

// What this exe carries as RCDATA: "RELEASEKEY" and "NEXTRELEASEKEY" (DER
// SubjectPublicKeyInfo) and "MINVERSION" (the floor's text), read as
// ReleaseKeyFromBuild says. kNone when it carries no key; kMalformed when
// one is there but is no P-256 key that the platform accepts.
ReleaseKey LoadReleaseKey();

// The digests asked for, of the file read from its current position to its
// end; nullopt when it cannot be read or CNG fails.
[[nodiscard]] std::optional<PackageDigests> HashFile(HANDLE file, DigestNeeds needs);

// The SHA-256 of bytes in memory; nullopt when CNG fails.
[[nodiscard]] std::optional<Sha256Digest> Sha256OfBytes(std::string_view bytes);

// True when r || s is a valid P-256 ECDSA signature of digest under key.
[[nodiscard]] bool VerifyP256Signature(const EcPublicKey& key, const Sha256Digest& digest,
                                       const EcdsaSignature& rs);

// True when r || s signs the SHA-256 of statement under the build's key or
// its next key; false for a build without a valid key.
[[nodiscard]] bool VerifyReleaseSignature(const ReleaseKey& key, const EcdsaSignature& rs,
                                          std::string_view statement);

// Checks the downloaded package at path against what the configuration
// publishes and the release key. When there is anything to check, the file
// is opened once for reading, shared with readers only, and on kOk that
// handle is left in held: while it is open nobody can write, rename or
// delete the file, so keep it until the package has been started. With
// nothing to check it returns kOk without opening the file.
[[nodiscard]] PackageVerdict VerifyPackageFile(const std::string& path, const PackageChecks& checks,
                                               const ReleaseKey& key, FileHandle& held);

}  // namespace kelto
