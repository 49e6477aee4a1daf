#include <ctime>

#include "checker/check_internal.h"
#include "config/config_signature.h"
#include "launcher/version.h"
#include "toolkit/text.h"

namespace kelto {

namespace {

// Under this much time left a signed file is due for signing again.
constexpr int64_t kExpiryWarning = 3 * 86400;

// Lines as the INI reader counts them: ended by CR LF, LF or CR.
int LinesIn(std::string_view bytes) {
    int lines = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        bool crlf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        lines += bytes[i] == '\n' || (bytes[i] == '\r' && !crlf) ? 1 : 0;
    }
    return lines;
}

bool SignatureVerifies(const Checking& c, std::string_view signature, std::string_view name,
                       std::string_view signedBytes) {
    std::optional<EcdsaSignature> rs = EcdsaSignatureFromBase64(signature);
    return rs && VerifySignature(c.key.der, *rs, ConfigSignedText(name, signedBytes));
}

// The signature line against the release key, as a keyed launcher judges
// the file before it uses any of it.
void CheckFileSignature(Checking& c, const ScannedFile& file, std::string_view name) {
    const std::string ignored = "; a launcher built with this key ignores the file";
    ConfigFileParts parts = SplitConfigSignature(file.raw);
    if (parts.signature.empty()) {
        Report(c, file.path, 0, Severity::kError,
               "no signature line (" + std::string(TrimBlanks(kConfigSignaturePrefix)) +
                   ") at the end" + ignored);
        return;
    }
    int line = LinesIn(parts.signedBytes) + 1;
    if (!EcdsaSignatureFromBase64(parts.signature)) {
        Report(c, file.path, line, Severity::kError,
               "the signature is not base64 of a DER ECDSA signature" + ignored);
        return;
    }
    if (SignatureVerifies(c, parts.signature, name, parts.signedBytes)) {
        return;
    }
    for (const std::string& other : ConfigFileNames()) {
        if (other != name && SignatureVerifies(c, parts.signature, other, parts.signedBytes)) {
            Report(c, file.path, line, Severity::kError,
                   "the signature was made for " + other + ", not " + std::string(name) + ignored);
            return;
        }
    }
    Report(c, file.path, line, Severity::kError,
           "the signature does not verify with " + c.options.keyPath +
               " (the file changed after signing, or another key signed it)" + ignored);
}

// The file's own expiry: a keyed launcher treats it as not fetched once
// the time has passed.
void CheckFileExpiry(Checking& c, const ScannedFile& file, int64_t now) {
    const ScannedSection* force = ReadSection(file, kForceUpdateSection);
    const ScannedEntry* e = force ? FirstEntry(*force, kExpiresKey) : nullptr;
    if (!e) {
        return;
    }
    std::optional<int64_t> expires = ParseUtcTime(e->value);
    if (!expires) {
        Report(c, file.path, e->line, Severity::kError,
               "expires " + Quote(e->value) + " is not a UTC time written YYYY-MM-DDTHH:MM:SSZ");
    } else if (*expires <= now) {
        Report(c, file.path, e->line, Severity::kError,
               "expired at " + e->value + "; a launcher built with a key ignores the file");
    } else if (*expires - now < kExpiryWarning) {
        Report(c, file.path, e->line, Severity::kWarning,
               "expires at " + e->value + ", in " + std::to_string((*expires - now) / 3600) +
                   " hours; sign the file again before then");
    }
}

void CheckMinimum(Checking& c) {
    std::optional<ForceEntry> latest = FindEntry(c.config, "latest");
    const std::string& floor = c.options.minVersion;
    if (floor.empty() || !latest ||
        CompareVersion(ParseVersion(latest->value), ParseVersion(floor)) >= 0) {
        return;
    }
    Report(c, LocateOr(c, kForceUpdateSection, "latest"), Severity::kError,
           "latest " + Quote(latest->value) + " is below the minimum " + floor +
               "; a launcher built with that minimum installs nothing");
}

void CheckRollout(Checking& c) {
    std::optional<ForceEntry> rollout = FindEntry(c.config, kRolloutKey);
    if (!rollout) {
        return;
    }
    Place at = LocateOr(c, kForceUpdateSection, kRolloutKey);
    std::optional<int> share = ParseRolloutShare(rollout->value);
    if (!share) {
        Report(c, at, Severity::kError,
               "rollout " + Quote(rollout->value) +
                   " is not a whole number from 0 to 100; the launcher offers the release to "
                   "every machine");
    } else if (*share < kFullRollout) {
        Report(c, at, Severity::kWarning,
               "rollout: " + std::to_string(*share) + "% of machines" +
                   (*share == 0 ? " (the release is paused)" : "") +
                   "; the others keep their installed Downloader");
    }
}

}  // namespace

void CheckRelease(Checking& c) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::vector<std::string> names = ConfigFileNames();
    for (size_t i = 0; i < c.files.size() && i < names.size(); ++i) {
        const ScannedFile& file = c.files[i];
        if (!file.loaded) {
            continue;
        }
        if (c.key.key.state == ReleaseKeyState::kValid) {
            CheckFileSignature(c, file, names[i]);
        }
        CheckFileExpiry(c, file, now);
    }
    CheckMinimum(c);
    CheckRollout(c);
}

}  // namespace kelto
