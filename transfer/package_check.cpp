#include "transfer/package_check.h"

#include <algorithm>

#include "toolkit/text.h"

namespace kelto {

namespace {

constexpr std::string_view kCheckFailedPrefix = "Package check failed: ";

// OIDs of the one key type a release key may be: id-ecPublicKey with the
// named curve prime256v1 (P-256).
constexpr uint8_t kIdEcPublicKey[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};
constexpr uint8_t kPrime256v1[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
constexpr uint8_t kUncompressedPoint = 0x04;
constexpr size_t kCoordinateBytes = 32;

constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagBitString = 0x03;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagSequence = 0x30;

constexpr std::string_view kPemBegin = "-----BEGIN PUBLIC KEY-----";
constexpr std::string_view kPemEnd = "-----END PUBLIC KEY-----";

template <size_t N>
std::optional<std::array<uint8_t, N>> ParseHex(std::string_view text) {
    if (text.size() != 2 * N) {
        return std::nullopt;
    }
    std::array<uint8_t, N> bytes{};
    for (size_t i = 0; i < N; ++i) {
        int high = HexDigitValue(text[2 * i]);
        int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bytes;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// One DER element: its tag and its content. Only what keys and signatures
// use is read: one-byte tags and definite lengths in their shortest form.
struct DerElement {
    uint8_t tag = 0;
    std::span<const uint8_t> content;
};

// Takes the next element off the front of in; nullopt when it is not
// well-formed or runs past the end.
std::optional<DerElement> TakeDerElement(std::span<const uint8_t>& in) {
    if (in.size() < 2 || (in[0] & 0x1f) == 0x1f) {
        return std::nullopt;
    }
    uint8_t tag = in[0];
    size_t length = in[1];
    size_t header = 2;
    if (length == 0x81) {
        if (in.size() < 3 || in[2] < 0x80) {
            return std::nullopt;
        }
        length = in[2];
        header = 3;
    } else if (length == 0x82) {
        if (in.size() < 4 || in[2] == 0) {
            return std::nullopt;
        }
        length = static_cast<size_t>(in[2]) << 8 | in[3];
        header = 4;
    } else if (length >= 0x80) {
        return std::nullopt;  // indefinite, or longer than any key or signature
    }
    if (in.size() - header < length) {
        return std::nullopt;
    }
    DerElement element{tag, in.subspan(header, length)};
    in = in.subspan(header + length);
    return element;
}

std::optional<std::span<const uint8_t>> TakeTagged(std::span<const uint8_t>& in, uint8_t tag) {
    std::optional<DerElement> element = TakeDerElement(in);
    if (!element || element->tag != tag) {
        return std::nullopt;
    }
    return element->content;
}

// A DER INTEGER of an ECDSA signature, right-aligned in 32 bytes. Zero and
// negative numbers are no signature values; a needless leading zero byte is
// not DER.
bool TakeSignatureNumber(std::span<const uint8_t>& in, uint8_t* out) {
    std::optional<std::span<const uint8_t>> number = TakeTagged(in, kTagInteger);
    if (!number || number->empty() || ((*number)[0] & 0x80) != 0) {
        return false;
    }
    std::span<const uint8_t> digits = *number;
    if (digits[0] == 0) {
        if (digits.size() == 1 || (digits[1] & 0x80) == 0) {
            return false;
        }
        digits = digits.subspan(1);
    }
    if (digits.size() > kCoordinateBytes) {
        return false;
    }
    std::copy(digits.begin(), digits.end(), out + kCoordinateBytes - digits.size());
    return true;
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

std::optional<Md5Digest> ParseMd5Hex(std::string_view text) {
    return ParseHex<16>(text);
}

std::optional<Sha256Digest> ParseSha256Hex(std::string_view text) {
    return ParseHex<32>(text);
}

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t at = 0; at < text.size(); at += 4) {
        bool last = at + 4 == text.size();
        // Padding only at the very end: "xx==" or "xxx=".
        size_t padding = 0;
        if (last && text[at + 3] == '=') {
            padding = text[at + 2] == '=' ? 2 : 1;
        }
        uint32_t group = 0;
        for (size_t i = 0; i < 4; ++i) {
            int value = i < 4 - padding ? Base64Value(text[at + i]) : 0;
            if (value < 0) {
                return std::nullopt;
            }
            group = group << 6 | static_cast<uint32_t>(value);
        }
        // The bits below the last whole byte must be zero: otherwise two
        // texts would decode to the same bytes.
        if ((padding == 1 && (group & 0xff) != 0) || (padding == 2 && (group & 0xffff) != 0)) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) {
            bytes.push_back(static_cast<uint8_t>(group >> 8));
        }
        if (padding < 1) {
            bytes.push_back(static_cast<uint8_t>(group));
        }
    }
    return bytes;
}

std::optional<EcdsaSignature> EcdsaSignatureFromDer(std::span<const uint8_t> der) {
    std::optional<std::span<const uint8_t>> sequence = TakeTagged(der, kTagSequence);
    if (!sequence || !der.empty()) {
        return std::nullopt;
    }
    EcdsaSignature rs{};
    if (!TakeSignatureNumber(*sequence, rs.data()) ||
        !TakeSignatureNumber(*sequence, rs.data() + kCoordinateBytes) || !sequence->empty()) {
        return std::nullopt;
    }
    return rs;
}

std::optional<EcdsaSignature> EcdsaSignatureFromBase64(std::string_view text) {
    std::optional<std::vector<uint8_t>> der = DecodeBase64(text);
    return der ? EcdsaSignatureFromDer(*der) : std::nullopt;
}

std::optional<EcPublicKey> P256KeyFromDer(std::span<const uint8_t> der) {
    std::optional<std::span<const uint8_t>> info = TakeTagged(der, kTagSequence);
    if (!info || !der.empty()) {
        return std::nullopt;
    }
    std::optional<std::span<const uint8_t>> algorithm = TakeTagged(*info, kTagSequence);
    std::optional<std::span<const uint8_t>> bits = TakeTagged(*info, kTagBitString);
    if (!algorithm || !bits || !info->empty()) {
        return std::nullopt;
    }
    std::optional<std::span<const uint8_t>> type = TakeTagged(*algorithm, kTagOid);
    std::optional<std::span<const uint8_t>> curve = TakeTagged(*algorithm, kTagOid);
    if (!type || !curve || !algorithm->empty() || !SameBytes(*type, kIdEcPublicKey) ||
        !SameBytes(*curve, kPrime256v1)) {
        return std::nullopt;
    }
    // No unused bits, the uncompressed-point marker, then X and Y.
    if (bits->size() != 2 + 2 * kCoordinateBytes || (*bits)[0] != 0 ||
        (*bits)[1] != kUncompressedPoint) {
        return std::nullopt;
    }
    EcPublicKey point{};
    std::copy(bits->begin() + 2, bits->end(), point.begin());
    return point;
}

std::optional<std::vector<uint8_t>> PublicKeyPemToDer(std::string_view pem) {
    size_t begin = pem.find(kPemBegin);
    if (begin == std::string_view::npos) {
        return std::nullopt;
    }
    begin += kPemBegin.size();
    size_t end = pem.find(kPemEnd, begin);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    std::string body;
    for (char c : pem.substr(begin, end - begin)) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') {
            body += c;
        }
    }
    return DecodeBase64(body);
}

ReleaseKey ReleaseKeyFromDer(std::optional<std::span<const uint8_t>> der) {
    if (!der) {
        return {};
    }
    std::optional<EcPublicKey> point = P256KeyFromDer(*der);
    if (!point) {
        return {ReleaseKeyState::kMalformed, {}, {}, {}};
    }
    return {ReleaseKeyState::kValid, *point, {}, {}};
}

ReleaseKey ReleaseKeyFromBuild(std::optional<std::span<const uint8_t>> der,
                               std::optional<std::span<const uint8_t>> nextDer,
                               std::optional<std::string_view> minVersion) {
    ReleaseKey key = ReleaseKeyFromDer(der);
    const ReleaseKey malformed{ReleaseKeyState::kMalformed, {}, {}, {}};
    if (key.state == ReleaseKeyState::kNone) {
        return nextDer || minVersion ? malformed : key;
    }
    if (nextDer) {
        key.nextPoint = P256KeyFromDer(*nextDer);
        if (!key.nextPoint) {
            return malformed;
        }
    }
    if (minVersion) {
        if (!IsFourNumberVersion(*minVersion)) {
            return malformed;
        }
        key.minVersion = std::string(*minVersion);
    }
    return key;
}

std::string_view VerdictText(PackageVerdict verdict) {
    switch (verdict) {
        case PackageVerdict::kOk:
            return "ok";
        case PackageVerdict::kReleaseKeyMalformed:
            return "release key is malformed";
        case PackageVerdict::kUnreadable:
            return "package cannot be read";
        case PackageVerdict::kSha256Malformed:
            return "sha256 value is malformed";
        case PackageVerdict::kSha256Mismatch:
            return "sha256 mismatch";
        case PackageVerdict::kMd5Malformed:
            return "md5 value is malformed";
        case PackageVerdict::kMd5Mismatch:
            return "md5 mismatch";
        case PackageVerdict::kVersionMalformed:
            return "latest is not a version";
        case PackageVerdict::kSignatureMissing:
            return "signature missing";
        case PackageVerdict::kSignatureMalformed:
            return "signature value is malformed";
        case PackageVerdict::kSignatureMismatch:
            return "signature mismatch";
        case PackageVerdict::kBelowMinimum:
            return "latest is below the minimum";
    }
    return "unknown";
}

std::string PackageCheckFailedLine(PackageVerdict verdict) {
    return std::string(kCheckFailedPrefix) + std::string(VerdictText(verdict));
}

std::optional<std::array<uint16_t, 4>> ParseFourNumberVersion(std::string_view text) {
    std::vector<std::string_view> pieces = SplitText(text, '.');
    if (pieces.size() != 4) {
        return std::nullopt;
    }
    std::array<uint16_t, 4> numbers{};
    for (size_t i = 0; i < pieces.size(); ++i) {
        std::string_view piece = pieces[i];
        if (piece.empty() || piece.size() > 5 || (piece[0] == '0' && piece.size() > 1)) {
            return std::nullopt;
        }
        uint32_t value = 0;
        for (char c : piece) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (value > 65535) {
            return std::nullopt;
        }
        numbers[i] = static_cast<uint16_t>(value);
    }
    return numbers;
}

bool IsFourNumberVersion(std::string_view text) {
    return ParseFourNumberVersion(text).has_value();
}

PackageVerdict JudgeRelease(std::string_view version, const ReleaseKey& key) {
    if (key.state != ReleaseKeyState::kValid) {
        return PackageVerdict::kOk;
    }
    // A keyed build installs only what a signature names: a latest that is
    // no version could pick up a signature by accident.
    std::optional<std::array<uint16_t, 4>> latest = ParseFourNumberVersion(version);
    if (!latest) {
        return PackageVerdict::kVersionMalformed;
    }
    // An old release keeps its genuine signature for ever: the floor is what
    // stops it from being installed again.
    std::optional<std::array<uint16_t, 4>> floor = ParseFourNumberVersion(key.minVersion);
    return floor && *latest < *floor ? PackageVerdict::kBelowMinimum : PackageVerdict::kOk;
}

std::string SignedStatement(std::string_view version, const Sha256Digest& sha256) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string statement = "kelto2-setup ";
    statement.append(version);
    statement.push_back(' ');
    for (uint8_t byte : sha256) {
        statement.push_back(kDigits[byte >> 4]);
        statement.push_back(kDigits[byte & 0x0f]);
    }
    statement.push_back('\n');
    return statement;
}

bool PackageNeedsCheck(const PackageChecks& checks, ReleaseKeyState key) {
    return key != ReleaseKeyState::kNone || !checks.md5.empty() || !checks.sha256.empty();
}

DigestNeeds DigestsNeeded(const PackageChecks& checks, ReleaseKeyState key) {
    if (key == ReleaseKeyState::kMalformed) {
        return {};  // refused without a look
    }
    return {!checks.md5.empty(), !checks.sha256.empty() || key == ReleaseKeyState::kValid};
}

PackageVerdict JudgePackage(const PackageChecks& checks, ReleaseKeyState key,
                            const PackageDigests& digests, const SignatureVerifier& verify) {
    // A build whose key cannot be read must not fall back to running
    // packages unverified: it runs none.
    if (key == ReleaseKeyState::kMalformed) {
        return PackageVerdict::kReleaseKeyMalformed;
    }
    if (PackageVerdict release = JudgeRelease(checks.version, ReleaseKey{key, {}, {}, {}});
        release != PackageVerdict::kOk) {
        return release;
    }
    if (!checks.sha256.empty()) {
        std::optional<Sha256Digest> expected = ParseSha256Hex(checks.sha256);
        if (!expected) {
            return PackageVerdict::kSha256Malformed;
        }
        if (*expected != digests.sha256) {
            return PackageVerdict::kSha256Mismatch;
        }
    }
    if (!checks.md5.empty()) {
        std::optional<Md5Digest> expected = ParseMd5Hex(checks.md5);
        if (!expected) {
            return PackageVerdict::kMd5Malformed;
        }
        if (*expected != digests.md5) {
            return PackageVerdict::kMd5Mismatch;
        }
    }
    // Without a key a published signature is left alone: there is nothing
    // to check it against, and a digest already catches a damaged download.
    if (key != ReleaseKeyState::kValid) {
        return PackageVerdict::kOk;
    }
    if (checks.signature.empty()) {
        return PackageVerdict::kSignatureMissing;
    }
    std::optional<EcdsaSignature> rs = EcdsaSignatureFromBase64(checks.signature);
    if (!rs) {
        return PackageVerdict::kSignatureMalformed;
    }
    std::string statement = SignedStatement(checks.version, digests.sha256);
    return verify && verify(*rs, statement) ? PackageVerdict::kOk
                                            : PackageVerdict::kSignatureMismatch;
}

}  // namespace kelto
