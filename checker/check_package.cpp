#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <array>
#include <memory>
#include <span>

#include "checker/check_internal.h"
#include "launcher/version.h"
#include "transfer/package_check.h"

namespace kelto {

namespace {

// Packages are hashed in memory; one far beyond any real Setup package is
// left unchecked rather than read whole.
constexpr uint64_t kMaxPackageBytes = uint64_t{512} << 20;

template <size_t N>
std::array<uint8_t, N> DigestOf(const EVP_MD* md, std::string_view bytes) {
    std::array<uint8_t, N> digest{};
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, md, nullptr);
    return digest;
}

}  // namespace

std::string HexText(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

Sha256Digest Sha256Of(std::string_view bytes) {
    return DigestOf<32>(EVP_sha256(), bytes);
}

bool VerifySignature(std::span<const uint8_t> keyDer, const EcdsaSignature& rs,
                     std::string_view statement) {
    Sha256Digest digest = Sha256Of(statement);
    const unsigned char* p = keyDer.data();
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        d2i_PUBKEY(nullptr, &p, static_cast<long>(keyDer.size())), &EVP_PKEY_free);
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(ECDSA_SIG_new(), &ECDSA_SIG_free);
    if (!key || !sig) {
        return false;
    }
    BIGNUM* r = BN_bin2bn(rs.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(rs.data() + 32, 32, nullptr);
    if (!r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
        der, [](unsigned char* q) { OPENSSL_free(q); });
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
    return derLength > 0 && ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) == 1 &&
           EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derLength), digest.data(),
                           digest.size()) == 1;
}

namespace {

// ---- the Setup package ----

// The version, among those the configuration names in its version-keyed
// sections, for which r || s signs this file; nullopt when none.
std::optional<std::string> SignedVersion(const LauncherConfig& config,
                                         std::span<const uint8_t> keyDer, const EcdsaSignature& rs,
                                         const Sha256Digest& sha256) {
    for (const std::vector<std::string>* list :
         {&config.forceupdate, &config.signature, &config.sha256, &config.md5}) {
        for (const std::string& line : *list) {
            std::string version = line.substr(0, line.find('='));
            if (IsFourNumberVersion(version) &&
                VerifySignature(keyDer, rs, SignedStatement(version, sha256))) {
                return version;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

void ReadReleaseKey(Checking& c) {
    KeyRead& read = c.key;
    if (c.options.keyPath.empty()) {
        return;
    }
    std::optional<std::vector<uint8_t>> der = PublicKeyPemToDer(c.options.keyPem);
    if (der) {
        read.key = ReleaseKeyFromDer(std::span<const uint8_t>(*der));
        read.der = std::move(*der);
    } else {
        read.key.state = ReleaseKeyState::kMalformed;
    }
    if (read.key.state != ReleaseKeyState::kValid) {
        Report(c, c.options.keyPath, 0, Severity::kError,
               "not a PEM ECDSA P-256 public key; a launcher built with it refuses every package");
    }
}

namespace {

// A published list that names other versions only: the newest package is
// then not checked against it, which is rarely what its author meant.
void CheckListCoversLatest(Checking& c, std::string_view section,
                           const std::vector<std::string>& list, std::string_view latest) {
    if (list.empty() || FindListEntry(list, latest)) {
        return;
    }
    std::string firstName = list.front().substr(0, list.front().find('='));
    Report(c, LocateOr(c, section, firstName), Severity::kWarning,
           "[" + std::string(section) + "] has no entry for latest " + Quote(latest) +
               "; the package is not checked against it");
}

void ReportVerdict(Checking& c, PackageVerdict verdict, const std::string& path,
                   const PackageDigests& digests, std::string_view latest) {
    std::string version = Quote(latest);
    switch (verdict) {
        case PackageVerdict::kOk:
        case PackageVerdict::kUnreadable:
        case PackageVerdict::kReleaseKeyMalformed:  // said about the key itself
        case PackageVerdict::kBelowMinimum:         // said by the --min-version check
            return;
        case PackageVerdict::kVersionMalformed:
            Report(c, FallbackPlace(c), Severity::kError,
                   "latest " + version +
                       " is not four numbers; a launcher built with this key installs nothing");
            return;
        case PackageVerdict::kSha256Malformed:
        case PackageVerdict::kMd5Malformed: {
            bool sha = verdict == PackageVerdict::kSha256Malformed;
            Report(c, LocateOr(c, sha ? kSha256Section : kMd5Section, latest), Severity::kError,
                   std::string(sha ? "sha256" : "md5") + " for " + version + " is not " +
                       (sha ? "64" : "32") + " hex digits; the launcher refuses every download");
            return;
        }
        case PackageVerdict::kSha256Mismatch:
            Report(c, LocateOr(c, kSha256Section, latest), Severity::kError,
                   path + " does not match the sha256 for " + version + " (the file's is " +
                       HexText(digests.sha256) + ")");
            return;
        case PackageVerdict::kMd5Mismatch:
            Report(c, LocateOr(c, kMd5Section, latest), Severity::kError,
                   path + " does not match the md5 for " + version + " (the file's is " +
                       HexText(digests.md5) + ")");
            return;
        case PackageVerdict::kSignatureMissing:
            Report(c, FallbackPlace(c), Severity::kError,
                   "no [signature] for latest " + version +
                       "; a launcher built with this key refuses the package");
            return;
        case PackageVerdict::kSignatureMalformed:
            Report(c, LocateOr(c, kSignatureSection, latest), Severity::kError,
                   "signature for " + version + " is not base64 of a DER ECDSA signature");
            return;
        case PackageVerdict::kSignatureMismatch:
            Report(c, LocateOr(c, kSignatureSection, latest), Severity::kError,
                   "signature for " + version + " does not verify " + path + " with " +
                       c.options.keyPath);
            return;
    }
}

// What the server publishes about the latest version, said before any
// package is read.
void CheckPublished(Checking& c, bool hasLatest, const PackageChecks& checks, ReleaseKeyState key) {
    const std::string& latest = checks.version;
    // A malformed latest is reported where it is written; that it names
    // none of the published versions follows from it.
    if (hasLatest && FormatVersion(ParseVersion(latest)) == latest) {
        CheckListCoversLatest(c, kMd5Section, c.config.md5, latest);
        CheckListCoversLatest(c, kSha256Section, c.config.sha256, latest);
        CheckListCoversLatest(c, kSignatureSection, c.config.signature, latest);
    }
    // Without a key the launcher ignores a signature; one that a keyed
    // launcher could not even read is still worth saying.
    if (key == ReleaseKeyState::kNone && !checks.signature.empty()) {
        if (!EcdsaSignatureFromBase64(checks.signature)) {
            ReportVerdict(c, PackageVerdict::kSignatureMalformed, {}, {}, latest);
        }
    }
}

struct PackageFile {
    Place at;          // where its URL is written, or where the default stands
    std::string path;  // relative to the tree's root
    TreeFile file;
};

// The Setup package the launcher downloads, when it is a file of this tree;
// why it is not is reported. checked: the launcher would check the package.
std::optional<PackageFile> ReadPackage(Checking& c, bool checked, ReleaseKeyState key) {
    std::optional<ForceEntry> urlEntry = FindEntry(c.config, "url");
    std::string url = urlEntry ? urlEntry->value : DefaultSetupUrl(DefaultServerRoot(c.options));
    Place at = urlEntry ? LocateOr(c, kForceUpdateSection, "url") : FallbackPlace(c);
    TreeTarget target = TargetOf(url, c.options.serverHost);
    if (!target.onServer) {
        if (checked && key != ReleaseKeyState::kMalformed) {
            Report(c, at, Severity::kWarning,
                   "the Setup package " + Quote(url) +
                       " is not on this server; its digests and signature are not checked");
        }
        return std::nullopt;
    }
    if (target.path.empty()) {
        Report(c, at, Severity::kError,
               "the Setup package URL " + Quote(url) + " names no file inside the server's tree");
        return std::nullopt;
    }
    TreeFile file = c.read(target.path, kMaxPackageBytes);
    if (!file.found) {
        Report(c, at, Severity::kError,
               "the Setup package " + target.path + " is not on the server");
        return std::nullopt;
    }
    return PackageFile{std::move(at), std::move(target.path), std::move(file)};
}

// The package's digests and signature against what the server publishes for
// the latest version, as the launcher judges them after the download.
void JudgePackageFile(Checking& c, const PackageChecks& checks, const KeyRead& key,
                      const PackageFile& package) {
    const std::string& latest = checks.version;
    if (package.file.size > kMaxPackageBytes) {
        Report(c, package.at, Severity::kWarning,
               "the Setup package " + package.path + " is larger than " +
                   MibText(kMaxPackageBytes) + "; not checked here");
        return;
    }
    DigestNeeds needs = DigestsNeeded(checks, key.key.state);
    PackageDigests digests;
    if (needs.md5) {
        digests.md5 = DigestOf<16>(EVP_md5(), package.file.bytes);
    }
    if (needs.sha256) {
        digests.sha256 = Sha256Of(package.file.bytes);
    }
    std::optional<EcdsaSignature> signature;
    PackageVerdict verdict = JudgePackage(
        checks, key.key.state, digests, [&](const EcdsaSignature& rs, std::string_view statement) {
            signature = rs;
            return VerifySignature(key.der, rs, statement);
        });
    // A genuine signature of this file for another version is an old one
    // published again: say which version it was made for.
    if (verdict == PackageVerdict::kSignatureMismatch && signature) {
        if (std::optional<std::string> other =
                SignedVersion(c.config, key.der, *signature, digests.sha256)) {
            Report(c, LocateOr(c, kSignatureSection, latest), Severity::kError,
                   "signature for " + Quote(latest) + " is a signature for version " +
                       Quote(*other) + "; a launcher built with this key refuses the package");
            return;
        }
    }
    ReportVerdict(c, verdict, package.path, digests, latest);
}

}  // namespace

void CheckPackage(Checking& c) {
    bool hasLatest = FindEntry(c.config, "latest").has_value();
    PackageChecks checks = PackageChecksFor(c.config);  // for the latest version
    const KeyRead& key = c.key;
    CheckPublished(c, hasLatest, checks, key.key.state);
    bool checked = PackageNeedsCheck(checks, key.key.state);
    std::optional<PackageFile> package = ReadPackage(c, checked, key.key.state);
    // Without a latest entry the launcher never downloads: nothing to judge.
    if (package && checked && hasLatest) {
        JudgePackageFile(c, checks, key, *package);
    }
}

}  // namespace kelto
