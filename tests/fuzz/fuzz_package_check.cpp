// What the server publishes about a Setup package (hex digests, base64 DER
// signatures) and the release key a build carries, up to the decision.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "tests/package_check_testing.h"
#include "transfer/package_check.h"

using namespace kelto;
using namespace kelto::testing;

namespace {

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::span<const uint8_t> bytes(data, size);

    if (std::optional<Md5Digest> md5 = ParseMd5Hex(text)) {
        FUZZ_CHECK(Hex(*md5) == Lowered(text));
    }
    if (std::optional<Sha256Digest> sha256 = ParseSha256Hex(text)) {
        FUZZ_CHECK(Hex(*sha256) == Lowered(text));
    }
    // Strict base64 has one text per byte string.
    if (std::optional<std::vector<uint8_t>> decoded = DecodeBase64(text)) {
        FUZZ_CHECK(Base64(*decoded) == text);
    }
    // Strict DER has one encoding per signature.
    if (std::optional<EcdsaSignature> rs = EcdsaSignatureFromDer(bytes)) {
        std::vector<uint8_t> der = SignatureDer(*rs);
        FUZZ_CHECK(std::vector<uint8_t>(bytes.begin(), bytes.end()) == der);
    }
    if (std::optional<EcPublicKey> point = P256KeyFromDer(bytes)) {
        FUZZ_CHECK(size == 91 && std::equal(point->begin(), point->end(), data + 27));
    }
    // A key that a build carries is never taken for no key.
    if (std::optional<std::vector<uint8_t>> der = PublicKeyPemToDer(text)) {
        FUZZ_CHECK(ReleaseKeyFromDer(std::span<const uint8_t>(*der)).state !=
                   ReleaseKeyState::kNone);
    }

    // The published values, one a line: md5, sha256, signature, latest.
    PackageChecks checks;
    std::string* fields[] = {&checks.md5, &checks.sha256, &checks.signature, &checks.version};
    size_t start = 0;
    for (std::string* field : fields) {
        size_t end = std::min(text.find('\n', start), text.size());
        if (start <= text.size()) {
            *field = std::string(text.substr(start, end - start));
        }
        start = end + 1;
    }
    PackageDigests digests{};
    for (ReleaseKeyState state :
         {ReleaseKeyState::kNone, ReleaseKeyState::kValid, ReleaseKeyState::kMalformed}) {
        int calls = 0;
        PackageVerdict verdict = JudgePackage(
            checks, state, digests, [&](const EcdsaSignature&, std::string_view statement) {
                FUZZ_CHECK(statement.ends_with('\n'));
                return ++calls > 0;
            });
        FUZZ_CHECK(calls <= 1);
        FUZZ_CHECK((state == ReleaseKeyState::kMalformed) ==
                   (verdict == PackageVerdict::kReleaseKeyMalformed));
        FUZZ_CHECK(!VerdictText(verdict).empty());
        if (verdict == PackageVerdict::kOk) {
            FUZZ_CHECK(checks.md5.empty() || Hex(digests.md5) == Lowered(checks.md5));
            FUZZ_CHECK(checks.sha256.empty() || Hex(digests.sha256) == Lowered(checks.sha256));
            FUZZ_CHECK(state != ReleaseKeyState::kValid || calls == 1);
            FUZZ_CHECK(state != ReleaseKeyState::kValid || IsFourNumberVersion(checks.version));
        }
        if (!PackageNeedsCheck(checks, state)) {
            FUZZ_CHECK(verdict == PackageVerdict::kOk);
        }
    }
    return 0;
}
