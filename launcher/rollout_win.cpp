#include "launcher/rollout_win.h"

#include <windows.h>

#include <optional>
#include <string>

#include "config/config_signature.h"
#include "toolkit/handles_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/package_check_win.h"

namespace kelto {

namespace {

constexpr wchar_t kCryptographyKey[] = L"SOFTWARE\\Microsoft\\Cryptography";
constexpr wchar_t kMachineGuidValue[] = L"MachineGuid";
// A GUID is 36 characters; anything longer than this is not one.
constexpr DWORD kMachineGuidMaxChars = 64;

// The value's text; nullopt when it cannot be read or is no short string.
std::optional<std::string> ReadMachineGuid() {
    RegKey key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCryptographyKey, 0,
                            KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Put());
    if (rc != ERROR_SUCCESS) {
        TraceError("open the Cryptography key", static_cast<DWORD>(rc));
        return std::nullopt;
    }
    // One character more than allowed, and room for a NUL after it.
    wchar_t text[kMachineGuidMaxChars + 2] = {};
    DWORD type = REG_NONE;
    DWORD size = kMachineGuidMaxChars * sizeof(wchar_t) + sizeof(wchar_t);
    rc = RegQueryValueExW(key.Get(), kMachineGuidValue, nullptr, &type,
                          reinterpret_cast<BYTE*>(text), &size);
    if (rc != ERROR_SUCCESS) {
        TraceError("read MachineGuid", static_cast<DWORD>(rc));
        return std::nullopt;
    }
    std::wstring guid(text, size / sizeof(wchar_t));
    guid.resize(wcsnlen(guid.c_str(), guid.size()));
    if (type != REG_SZ || guid.empty() || guid.size() > kMachineGuidMaxChars) {
        TraceStep("MachineGuid is no short string");
        return std::nullopt;
    }
    return ToUtf8(guid);
}

}  // namespace

int MachineRolloutBucket(std::string_view latest) {
    std::optional<std::string> guid = ReadMachineGuid();
    if (!guid) {
        return kUnknownMachineBucket;
    }
    std::optional<Sha256Digest> digest = Sha256OfBytes(RolloutStatement(*guid, latest));
    return digest ? RolloutBucket(*digest) : kUnknownMachineBucket;
}

}  // namespace kelto
