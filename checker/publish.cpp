#include "checker/publish.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "checker/check_internal.h"
#include "checker/config_edit.h"
#include "config/config_signature.h"
#include "transfer/http.h"
#include "transfer/package_check.h"

namespace kelto {

namespace fs = std::filesystem;

namespace {

// ---- the release key ----

using PrivateKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

std::string Base64Of(std::span<const uint8_t> bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                 static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(std::max(length, 0)));
    return text;
}

// The key of a PEM private key block (an encrypted one asks for its pass
// phrase on the terminal); nullptr when there is none.
PrivateKey ReadPrivateKey(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
    return PrivateKey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
                      &EVP_PKEY_free);
}

// The public half as a PEM block, when the key is one a launcher can carry
// (ECDSA P-256); empty otherwise.
std::string PublicPemOf(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    int length = i2d_PUBKEY(key, &der);
    if (length <= 0) {
        return {};
    }
    std::vector<uint8_t> bytes(der, der + length);
    OPENSSL_free(der);
    if (!P256KeyFromDer(bytes)) {
        return {};
    }
    return "-----BEGIN PUBLIC KEY-----\n" + Base64Of(bytes) + "\n-----END PUBLIC KEY-----\n";
}

// Base64 of the DER ECDSA signature over the SHA-256 of text, as
// `openssl dgst -sha256 -sign` makes it; empty when signing fails.
std::string SignatureOf(EVP_PKEY* key, std::string_view text) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    size_t length = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, data, text.size()) != 1) {
        return {};
    }
    std::vector<uint8_t> signature(length);
    if (EVP_DigestSign(ctx.get(), signature.data(), &length, data, text.size()) != 1) {
        return {};
    }
    signature.resize(length);
    return Base64Of(signature);
}

// ---- the configuration file ----

// ".../mvsetup.exe" as ".../mvsetup-<version>.exe": each release under its
// own name, so that the package a configuration names never changes.
std::string VersionedUrl(std::string_view url, std::string_view version) {
    size_t dot = url.rfind('.');
    dot = dot == std::string_view::npos || url.find('/', dot) != std::string_view::npos ? url.size()
                                                                                        : dot;
    return std::string(url.substr(0, dot)) + "-" + std::string(version) +
           std::string(url.substr(dot));
}

// The release's entries: the package the launcher downloads, the digest
// and the signature it checks the download against, and the rollout share.
std::string WithRelease(std::string text, const PublishRequest& request, std::string_view url,
                        EVP_PKEY* key) {
    if (request.rollout) {
        text = SetConfigValue(text, kForceUpdateSection, kRolloutKey,
                              std::to_string(*request.rollout));
    }
    if (!request.package) {
        return text;
    }
    Sha256Digest sha256 = Sha256Of(*request.package);
    text = SetConfigValue(text, kForceUpdateSection, "latest", request.version);
    text = SetConfigValue(text, kForceUpdateSection, "url", url);
    text = SetConfigValue(text, kSha256Section, request.version, HexText(sha256));
    return SetConfigValue(text, kSignatureSection, request.version,
                          SignatureOf(key, SignedStatement(request.version, sha256)));
}

// The file named name with its expiry and, after it, its signature line.
std::string SignedConfig(EVP_PKEY* key, std::string_view name, std::string text,
                         std::string_view expires) {
    text = SetConfigValue(text, kForceUpdateSection, kExpiresKey, expires);
    std::string signature = SignatureOf(key, ConfigSignedText(name, text));
    return text + std::string(kConfigSignaturePrefix) + signature + "\r\n";
}

// ---- writing files ----

std::string SystemError(const fs::path& path, std::string_view what) {
    return path.string() + ": " + std::string(what) + ": " + std::strerror(errno);
}

// One file of the tree being replaced.
struct Replacement {
    fs::path target;
    fs::path temp;    // the new bytes until renamed over the target
    fs::path backup;  // a second name of the old file; empty when there was none
    bool replaced = false;
};

// Creates the missing folders above path, remembering them (outermost
// first) so that a failed publication can take them away again.
std::string MakeFolders(const fs::path& folder, std::vector<fs::path>& created) {
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::exists(p); p = p.parent_path()) {
        missing.insert(missing.begin(), p);
    }
    for (const fs::path& p : missing) {
        if (::mkdir(p.c_str(), 0755) != 0) {
            return SystemError(p, "cannot make the folder");
        }
        created.push_back(p);
    }
    return {};
}

// Writes bytes to a new file beside r.target, with the old file's
// permissions (a new file: readable by all, as the web server needs),
// flushed to disk; keeps a second name of the old file for a roll-back.
std::string StageFile(Replacement& r, std::string_view bytes) {
    struct stat old {};
    bool exists = ::stat(r.target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        errno = EISDIR;
        return SystemError(r.target, "cannot replace what is not a file");
    }
    std::string name =
        (r.target.parent_path() / ("." + r.target.filename().string() + ".kelto2-publish-XXXXXX"))
            .string();
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return SystemError(r.target.parent_path(), "cannot make a new file");
    }
    r.temp = name;
    bool ok = ::fchmod(fd, exists ? old.st_mode & 07777 : 0644) == 0;
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        return SystemError(r.temp, "cannot write");
    }
    if (exists && ::link(r.target.c_str(), (name + ".old").c_str()) != 0) {
        return SystemError(r.target, "cannot keep the old file for a roll-back");
    }
    r.backup = exists ? fs::path(name + ".old") : fs::path();
    return {};
}

// Puts back what the replaced files held and removes everything new.
void RollBack(std::vector<Replacement>& rs, const std::vector<fs::path>& created) {
    for (auto r = rs.rbegin(); r != rs.rend(); ++r) {
        if (r->replaced && !r->backup.empty()) {
            ::rename(r->backup.c_str(), r->target.c_str());
        } else if (r->replaced) {
            ::unlink(r->target.c_str());
        }
        std::error_code ec;
        fs::remove(r->temp, ec);
        fs::remove(r->backup, ec);
    }
    for (auto folder = created.rbegin(); folder != created.rend(); ++folder) {
        ::rmdir(folder->c_str());
    }
}

void SyncFolder(const fs::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

PublishPlan StagePublication(const PublishRequest& request) {
    PublishPlan plan;
    PrivateKey key = ReadPrivateKey(request.keyPem);
    plan.publicKeyPem = key ? PublicPemOf(key.get()) : std::string();
    if (plan.publicKeyPem.empty()) {
        plan.error = request.keyPath + ": not a PEM ECDSA P-256 private key";
        return plan;
    }
    const std::string host =
        request.serverHost.empty() ? ServerHostOf(kServerRoot) : request.serverHost;
    const std::string fallbackUrl = DefaultSetupUrl(DefaultServerRoot({.serverHost = host}));
    const std::string url = VersionedUrl(fallbackUrl, request.version);
    if (request.package) {
        plan.files.push_back({TargetOf(url, host).path, *request.package});
    }
    // Both files are signed with the new expiry, so that neither is left
    // for a keyed launcher to ignore; the release goes into the one asked for.
    const size_t target = request.gameFile ? 1 : 0;
    for (size_t which : {target, 1 - target}) {
        const std::string path = ConfigFilePaths()[which];
        TreeFile old = ReadTreeFile(request.root, path, kMaxServerFileBytes);
        if (old.size > kMaxServerFileBytes || old.bytes.size() != old.size) {
            // Never a file made anew in place of one that could not be read.
            plan.error = path + (old.size > kMaxServerFileBytes
                                     ? ": larger than " + MibText(kMaxServerFileBytes)
                                     : std::string(": cannot read it"));
            return plan;
        }
        if (!old.found && which != target) {
            continue;
        }
        std::string text = WithoutConfigSignature(old.bytes);
        if (which == target) {
            text = WithRelease(text, request, url, key.get());
        }
        plan.files.push_back(
            {path, SignedConfig(key.get(), ConfigFileNames()[which], text, request.expires)});
    }
    if (request.package) {
        plan.files.push_back({TargetOf(fallbackUrl, host).path, *request.package});
    }
    return plan;
}

CheckResult CheckStagedTree(const PublishRequest& request, const PublishPlan& plan) {
    CheckOptions options{.serverHost = request.serverHost,
                         .keyPath = request.keyPath + " (its public half)",
                         .keyPem = plan.publicKeyPem};
    return CheckServerFiles(
        [&](const std::string& path, uint64_t limit) {
            for (const StagedFile& staged : plan.files) {
                if (staged.path == path) {
                    return TreeFile{true, staged.bytes.size(),
                                    staged.bytes.size() <= limit ? staged.bytes : std::string()};
                }
            }
            return ReadTreeFile(request.root, path, limit);
        },
        options);
}

std::string ReplaceTreeFiles(const std::string& root, const std::vector<StagedFile>& files) {
    std::vector<Replacement> rs;
    std::vector<fs::path> created;
    std::string error;
    for (const StagedFile& file : files) {
        Replacement& r = rs.emplace_back();
        r.target = fs::path(root) / file.path;
        error = MakeFolders(r.target.parent_path(), created);
        error = error.empty() ? StageFile(r, file.bytes) : error;
        if (!error.empty()) {
            RollBack(rs, created);
            return error;
        }
    }
    for (Replacement& r : rs) {
        if (::rename(r.temp.c_str(), r.target.c_str()) != 0) {
            error = SystemError(r.target, "cannot replace");
            RollBack(rs, created);
            return error;
        }
        r.replaced = true;
        SyncFolder(r.target.parent_path());
    }
    for (Replacement& r : rs) {
        std::error_code ec;
        fs::remove(r.backup, ec);
    }
    return {};
}

}  // namespace kelto
