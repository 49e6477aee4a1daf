#include "transfer/package_check_win.h"

#include <bcrypt.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

constexpr wchar_t kReleaseKeyResource[] = L"RELEASEKEY";
constexpr wchar_t kNextReleaseKeyResource[] = L"NEXTRELEASEKEY";
constexpr wchar_t kMinVersionResource[] = L"MINVERSION";
// Large enough that the read calls cost nothing next to the hashing.
constexpr DWORD kHashChunk = 1u << 20;

// CNG's result, traced when it is a failure.
bool CngSucceeded(NTSTATUS status, std::string_view step) {
    if (BCRYPT_SUCCESS(status)) {
        return true;
    }
    TraceStatus(step, status);
    return false;
}

// One running digest. The hash object is left to CNG to allocate, which
// Windows 7 and Wine both do. The hash goes before its provider.
struct CngHash {
    BcryptAlgorithm algorithm;
    BcryptHash hash;
};

bool OpenHash(const wchar_t* algorithm, std::string_view name, CngHash& out) {
    return CngSucceeded(BCryptOpenAlgorithmProvider(out.algorithm.Put(), algorithm, nullptr, 0),
                        std::string("open ") + std::string(name)) &&
           CngSucceeded(
               BCryptCreateHash(out.algorithm.Get(), out.hash.Put(), nullptr, 0, nullptr, 0, 0),
               std::string("create ") + std::string(name) + " hash");
}

// The key goes before its provider.
struct CngKey {
    BcryptAlgorithm algorithm;
    BcryptKey key;
};

// key is invalid when the provider or the import failed.
CngKey ImportP256Key(const EcPublicKey& point) {
    CngKey imported;
    if (!CngSucceeded(BCryptOpenAlgorithmProvider(imported.algorithm.Put(),
                                                  BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0),
                      "open ECDSA P-256")) {
        return imported;
    }
    // The public blob is its header followed by X and Y.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + point.size());
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(point.size() / 2)};
    memcpy(blob.data(), &header, sizeof(header));
    memcpy(blob.data() + sizeof(header), point.data(), point.size());
    (void)CngSucceeded(
        BCryptImportKeyPair(imported.algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                            imported.key.Put(), blob.data(), static_cast<ULONG>(blob.size()), 0),
        "import release key");
    return imported;
}

bool AddToHash(CngHash* hash, std::vector<UCHAR>& buffer, DWORD got) {
    return hash == nullptr ||
           CngSucceeded(BCryptHashData(hash->hash.Get(), buffer.data(), got, 0), "hash package");
}

template <size_t N>
bool FinishHash(CngHash* hash, std::array<uint8_t, N>& out) {
    return hash == nullptr ||
           CngSucceeded(BCryptFinishHash(hash->hash.Get(), out.data(), static_cast<ULONG>(N), 0),
                        "finish hash");
}

// The bytes of an RCDATA resource of this exe; nullopt when it has none.
std::optional<std::span<const uint8_t>> ExeResource(const wchar_t* name) {
    HMODULE exe = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(exe, name, RT_RCDATA);
    if (found == nullptr) {
        return std::nullopt;
    }
    HGLOBAL loaded = LoadResource(exe, found);
    auto bytes = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    if (bytes == nullptr) {
        return std::span<const uint8_t>();  // there, but unreadable: malformed
    }
    return std::span<const uint8_t>(bytes, SizeofResource(exe, found));
}

}  // namespace

ReleaseKey LoadReleaseKey() {
    std::optional<std::span<const uint8_t>> floor = ExeResource(kMinVersionResource);
    std::optional<std::string_view> floorText;
    if (floor) {
        floorText = std::string_view(reinterpret_cast<const char*>(floor->data()), floor->size());
    }
    ReleaseKey key = ReleaseKeyFromBuild(ExeResource(kReleaseKeyResource),
                                         ExeResource(kNextReleaseKeyResource), floorText);
    // A point that is not on the curve passes the parser but not CNG.
    if (key.state == ReleaseKeyState::kValid &&
        (!ImportP256Key(key.point).key.IsValid() ||
         (key.nextPoint && !ImportP256Key(*key.nextPoint).key.IsValid()))) {
        key.state = ReleaseKeyState::kMalformed;
    }
    return key;
}

std::optional<PackageDigests> HashFile(HANDLE file, DigestNeeds needs) {
    CngHash md5;
    CngHash sha256;
    if ((needs.md5 && !OpenHash(BCRYPT_MD5_ALGORITHM, "MD5", md5)) ||
        (needs.sha256 && !OpenHash(BCRYPT_SHA256_ALGORITHM, "SHA-256", sha256))) {
        return std::nullopt;
    }
    CngHash* md5Hash = needs.md5 ? &md5 : nullptr;
    CngHash* sha256Hash = needs.sha256 ? &sha256 : nullptr;
    std::vector<UCHAR> buffer(kHashChunk);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), kHashChunk, &got, nullptr)) {
            LogLastError("read package");
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

std::optional<Sha256Digest> Sha256OfBytes(std::string_view bytes) {
    CngHash sha256;
    if (!OpenHash(BCRYPT_SHA256_ALGORITHM, "SHA-256", sha256)) {
        return std::nullopt;
    }
    std::vector<UCHAR> buffer(bytes.begin(), bytes.end());
    Sha256Digest digest{};
    if (!AddToHash(&sha256, buffer, static_cast<DWORD>(buffer.size())) ||
        !FinishHash(&sha256, digest)) {
        return std::nullopt;
    }
    return digest;
}

bool VerifyP256Signature(const EcPublicKey& key, const Sha256Digest& digest,
                         const EcdsaSignature& rs) {
    CngKey imported = ImportP256Key(key);
    if (!imported.key.IsValid()) {
        return false;
    }
    // CNG takes the buffers as non-const; it does not write to them.
    Sha256Digest hash = digest;
    EcdsaSignature signature = rs;
    return CngSucceeded(BCryptVerifySignature(imported.key.Get(), nullptr, hash.data(),
                                              static_cast<ULONG>(hash.size()), signature.data(),
                                              static_cast<ULONG>(signature.size()), 0),
                        "verify package signature");
}

bool VerifyReleaseSignature(const ReleaseKey& key, const EcdsaSignature& rs,
                            std::string_view statement) {
    if (key.state != ReleaseKeyState::kValid) {
        return false;
    }
    std::optional<Sha256Digest> digest = Sha256OfBytes(statement);
    // Either key will do, so that releases can move to the next one.
    return digest && (VerifyP256Signature(key.point, *digest, rs) ||
                      (key.nextPoint && VerifyP256Signature(*key.nextPoint, *digest, rs)));
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
    std::wstring widePath = ToWide(path);
    FileHandle file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    if (!file.IsValid()) {
        DWORD error = GetLastError();
        TraceError("open package " + path, error);
        return PackageVerdict::kUnreadable;
    }
    std::optional<PackageDigests> digests = HashFile(file.Get(), DigestsNeeded(checks, key.state));
    if (!digests) {
        return PackageVerdict::kUnreadable;
    }
    PackageVerdict verdict = JudgePackage(
        checks, key.state, *digests, [&](const EcdsaSignature& rs, std::string_view statement) {
            return VerifyReleaseSignature(key, rs, statement);
        });
    if (verdict == PackageVerdict::kOk) {
        held = std::move(file);
    }
    return verdict;
}

}  // namespace kelto
