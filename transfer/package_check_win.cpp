#include "transfer/package_check_win.h"

#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "toolkit/text_win.h"

namespace kelto {

namespace {

constexpr wchar_t kReleaseKeyResource[] = L"RELEASEKEY";
// Large enough that the read calls cost nothing next to the hashing.
constexpr DWORD kHashChunk = 1u << 20;

struct CngAlgorithm {
    BCRYPT_ALG_HANDLE handle = nullptr;
    explicit CngAlgorithm(const wchar_t* name) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0))) {
            handle = nullptr;
        }
    }
    ~CngAlgorithm() {
        if (handle) {
            BCryptCloseAlgorithmProvider(handle, 0);
        }
    }
    CngAlgorithm(const CngAlgorithm&) = delete;
    CngAlgorithm& operator=(const CngAlgorithm&) = delete;
};

// One running digest. The hash object is left to CNG to allocate, which
// Windows 7 and Wine both do.
struct CngHash {
    CngAlgorithm algorithm;
    BCRYPT_HASH_HANDLE handle = nullptr;
    explicit CngHash(const wchar_t* name) : algorithm(name) {
        if (algorithm.handle && !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.handle, &handle, nullptr,
                                                                 0, nullptr, 0, 0))) {
            handle = nullptr;
        }
    }
    ~CngHash() {
        if (handle) {
            BCryptDestroyHash(handle);
        }
    }
    CngHash(const CngHash&) = delete;
    CngHash& operator=(const CngHash&) = delete;
};

struct CngKey {
    CngAlgorithm algorithm{BCRYPT_ECDSA_P256_ALGORITHM};
    BCRYPT_KEY_HANDLE handle = nullptr;
    explicit CngKey(const EcPublicKey& point) {
        // The public blob is its header followed by X and Y.
        std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + point.size());
        BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC,
                                  static_cast<ULONG>(point.size() / 2)};
        memcpy(blob.data(), &header, sizeof(header));
        memcpy(blob.data() + sizeof(header), point.data(), point.size());
        if (!algorithm.handle || !BCRYPT_SUCCESS(BCryptImportKeyPair(
                                     algorithm.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle,
                                     blob.data(), static_cast<ULONG>(blob.size()), 0))) {
            handle = nullptr;
        }
    }
    ~CngKey() {
        if (handle) {
            BCryptDestroyKey(handle);
        }
    }
    CngKey(const CngKey&) = delete;
    CngKey& operator=(const CngKey&) = delete;
};

bool AddToHash(CngHash* hash, std::vector<UCHAR>& buffer, DWORD got) {
    return hash == nullptr || BCRYPT_SUCCESS(BCryptHashData(hash->handle, buffer.data(), got, 0));
}

template <size_t N>
bool FinishHash(CngHash* hash, std::array<uint8_t, N>& out) {
    return hash == nullptr ||
           BCRYPT_SUCCESS(BCryptFinishHash(hash->handle, out.data(), static_cast<ULONG>(N), 0));
}

}  // namespace

ReleaseKey LoadReleaseKey() {
    HMODULE exe = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(exe, kReleaseKeyResource, RT_RCDATA);
    if (found == nullptr) {
        return ReleaseKeyFromDer(std::nullopt);
    }
    HGLOBAL loaded = LoadResource(exe, found);
    auto bytes = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    std::span<const uint8_t> der;
    if (bytes != nullptr) {
        der = std::span<const uint8_t>(bytes, SizeofResource(exe, found));
    }
    ReleaseKey key = ReleaseKeyFromDer(der);
    // A point that is not on the curve passes the parser but not CNG.
    if (key.state == ReleaseKeyState::kValid && CngKey(key.point).handle == nullptr) {
        key.state = ReleaseKeyState::kMalformed;
    }
    return key;
}

std::optional<PackageDigests> HashFile(HANDLE file, DigestNeeds needs) {
    std::optional<CngHash> md5;
    std::optional<CngHash> sha256;
    if (needs.md5) {
        md5.emplace(BCRYPT_MD5_ALGORITHM);
        if (md5->handle == nullptr) {
            return std::nullopt;
        }
    }
    if (needs.sha256) {
        sha256.emplace(BCRYPT_SHA256_ALGORITHM);
        if (sha256->handle == nullptr) {
            return std::nullopt;
        }
    }
    CngHash* md5Hash = md5 ? &*md5 : nullptr;
    CngHash* sha256Hash = sha256 ? &*sha256 : nullptr;
    std::vector<UCHAR> buffer(kHashChunk);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), kHashChunk, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        if (!AddToHash(md5Hash, buffer, got) || !AddToHash(sha256Hash, buffer, got)) {
            return std::nullopt;
        }
    }
    PackageDigests digests;
    if (!FinishHash(md5Hash, digests.md5) || !FinishHash(sha256Hash, digests.sha256)) {
        return std::nullopt;
    }
    return digests;
}

bool VerifyP256Signature(const EcPublicKey& key, const Sha256Digest& digest,
                         const EcdsaSignature& rs) {
    CngKey imported(key);
    if (imported.handle == nullptr) {
        return false;
    }
    // CNG takes the buffers as non-const; it does not write to them.
    Sha256Digest hash = digest;
    EcdsaSignature signature = rs;
    return BCRYPT_SUCCESS(BCryptVerifySignature(imported.handle, nullptr, hash.data(),
                                                static_cast<ULONG>(hash.size()), signature.data(),
                                                static_cast<ULONG>(signature.size()), 0));
}

PackageVerdict VerifyPackageFile(const std::string& path, const PackageChecks& checks,
                                 const ReleaseKey& key, FileHandle& held) {
    held.Close();
    if (!PackageNeedsCheck(checks, key.state)) {
        return PackageVerdict::kOk;
    }
    if (key.state == ReleaseKeyState::kMalformed) {
        return PackageVerdict::kReleaseKeyMalformed;
    }
    // Readers only: no writer, and no rename or delete, until it is closed.
    FileHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    if (!file.IsValid()) {
        return PackageVerdict::kUnreadable;
    }
    std::optional<PackageDigests> digests = HashFile(file.Get(), DigestsNeeded(checks, key.state));
    if (!digests) {
        return PackageVerdict::kUnreadable;
    }
    PackageVerdict verdict =
        JudgePackage(checks, key.state, *digests, [&](const EcdsaSignature& rs) {
            return VerifyP256Signature(key.point, digests->sha256, rs);
        });
    if (verdict == PackageVerdict::kOk) {
        held = std::move(file);
    }
    return verdict;
}

}  // namespace kelto
