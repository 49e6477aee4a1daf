#include "transfer/package_check_win.h"

#include <string>

#include <gtest/gtest.h>

#include "test_release_key.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes) {
    std::string hex;
    for (uint8_t b : bytes) {
        hex += "0123456789abcdef"[b >> 4];
        hex += "0123456789abcdef"[b & 15];
    }
    return hex;
}

constexpr char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(PackageCheckWin, DigestsOfKnownFiles) {
    // Byte i is i % 251; more than one read. Expected values from md5sum
    // and sha256sum.
    std::string pattern(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<char>(i % 251);
    }
    const std::string inputs[] = {"abc", pattern};
    const std::pair<const char*, const char*> expected[] = {
        {"900150983cd24fb0d6963f7d28e17f72", kAbcSha256},
        {"62a22cb245a4cfdb1a8a8ba579b2f38a",
         "f578a61853ca2f4272dba551bd868420e22302fbb6d6dfc0cc80da1d2c7b779f"}};
    std::string folder = ScratchFolder("package-check");
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(WriteBytes(folder + "\\file.bin", inputs[i]));
        FileHandle file(CreateFileW(ToWide(folder + "\\file.bin").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        std::optional<PackageDigests> digests = HashFile(file.Get(), {true, true});
        ASSERT_TRUE(digests) << i;
        EXPECT_EQ(Hex(digests->md5), expected[i].first) << i;
        EXPECT_EQ(Hex(digests->sha256), expected[i].second) << i;
    }
    RemoveTree(folder);
    EXPECT_FALSE(HashFile(INVALID_HANDLE_VALUE, {false, true}));
}

TEST(PackageCheckWin, VerifiesWithCng) {
    const Sha256Digest abc = *ParseSha256Hex(kAbcSha256);
    const EcPublicKey key = TestReleaseKey().point;
    const EcdsaSignature rs = *EcdsaSignatureFromDer(*DecodeBase64(kAbcSignature));
    EXPECT_TRUE(VerifyP256Signature(key, abc, rs));
    EcdsaSignature flipped = rs;
    flipped[40] ^= 1;
    EXPECT_FALSE(VerifyP256Signature(key, abc, flipped));
    Sha256Digest other = abc;
    other[0] ^= 1;
    EXPECT_FALSE(VerifyP256Signature(key, other, rs));
    EcPublicKey offCurve = key;
    offCurve[63] ^= 1;
    EXPECT_FALSE(VerifyP256Signature(offCurve, abc, rs));
    EXPECT_EQ(LoadReleaseKey().state, ReleaseKeyState::kNone) << "the test exe carries no key";
}

}  // namespace
