// Package check cost (figures, not a test): the check of a 16 MiB Setup
// package (MD5, SHA-256 and the ECDSA signature, the file read once) set
// against the time its download takes at the transfer's own pace, one
// kReadChunk read and a kReadPauseMs pause after each.
//
//   wine kelto2_package_check_bench.exe [MiB, default 16] [runs, default 5]
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "toolkit/file_win.h"
#include "toolkit/text_win.h"
#include "transfer/http.h"
#include "transfer/package_check_win.h"
#include "tests/package_check_testing.h"

using namespace kelto;
using namespace kelto::testing;

namespace {

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// A fresh key pair signs the digest, so that the check does all its work.
bool SignWithFreshKey(const Sha256Digest& digest, ReleaseKey& key, EcdsaSignature& rs) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE pair = nullptr;
    bool ok = false;
    if (BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm, &pair, 256, 0)) &&
        BCRYPT_SUCCESS(BCryptFinalizeKeyPair(pair, 0))) {
        UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
        ULONG size = 0;
        Sha256Digest hash = digest;
        ULONG signed_ = 0;
        ok = BCRYPT_SUCCESS(BCryptExportKey(pair, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob,
                                            sizeof(blob), &size, 0)) &&
             size == sizeof(blob) &&
             BCRYPT_SUCCESS(
                 BCryptSignHash(pair, nullptr, hash.data(), 32, rs.data(), 64, &signed_, 0)) &&
             signed_ == 64;
        key.state = ReleaseKeyState::kValid;
        std::copy(blob + sizeof(BCRYPT_ECCKEY_BLOB), blob + sizeof(blob), key.point.begin());
    }
    if (pair) {
        BCryptDestroyKey(pair);
    }
    if (algorithm) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const size_t mib = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 16;
    const int runs = argc > 2 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 5;
    const size_t size = mib << 20;
    std::string path = TempFolder() + "kelto2-package-bench.exe";

    std::vector<uint8_t> body(size);
    uint32_t x = 12345;
    for (uint8_t& b : body) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 24);
    }
    {
        FileHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.IsValid() ||
            !WriteFile(file.Get(), body.data(), static_cast<DWORD>(size), &written, nullptr)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    FileHandle probe(CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    std::optional<PackageDigests> digests = HashFile(probe.Get(), {true, true});
    probe.Close();
    ReleaseKey key;
    EcdsaSignature rs{};
    const std::string version = "1.6.5.2290";
    std::optional<Sha256Digest> statementDigest =
        digests ? Sha256OfBytes(SignedStatement(version, digests->sha256)) : std::nullopt;
    if (!statementDigest || !SignWithFreshKey(*statementDigest, key, rs)) {
        std::fprintf(stderr, "CNG could not hash or sign\n");
        return 1;
    }
    PackageChecks checks{Hex(digests->md5), Hex(digests->sha256), Base64(SignatureDer(rs)),
                         version};

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        FileHandle held;
        double start = NowMs();
        PackageVerdict verdict = VerifyPackageFile(path, checks, key, held);
        times.push_back(NowMs() - start);
        if (verdict != PackageVerdict::kOk) {
            std::fprintf(stderr, "check failed: %s\n", std::string(VerdictText(verdict)).c_str());
            return 1;
        }
    }
    DeleteFileW(ToWide(path).c_str());
    std::sort(times.begin(), times.end());
    const double reads = static_cast<double>((size + kReadChunk - 1) / kReadChunk);
    const double downloadMs = reads * kReadPauseMs;
    const double median = times[times.size() / 2];
    std::printf("package %zu MiB, md5 + sha256 + ECDSA P-256 signature, %d runs\n", mib, runs);
    std::printf("check: median %.1f ms, min %.1f ms, max %.1f ms\n", median, times.front(),
                times.back());
    std::printf("download at %zu-byte reads with a %u ms pause: %.0f reads, at least %.2f s\n",
                kReadChunk, kReadPauseMs, reads, downloadMs / 1000);
    std::printf("check / download: %.2f %% (target 2 %% or less)\n", median / downloadMs * 100);
    return 0;
}
