// The tests' release key (tests/keys/test_release.pub) and a signature of
// "abc" by `openssl dgst -sha256 -sign tests/keys/test_release.key | base64 -w0`.
#pragma once

#include "transfer/package_check.h"

namespace kelto {

inline constexpr char kAbcSignature[] =
    "MEUCIFgX4H67rVm4MAXzbWtOUgOElpjKPEYWobBqcXlKheXOAiEA/kE0nT7QysX3mGZqGJLuyhJDNE/Z51IN5X4I8m+"
    "K6mY=";

inline ReleaseKey TestReleaseKey() {
    return ReleaseKeyFromDer(*DecodeBase64(
        "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEWiMTzMCb4NCuQH20bNbMHYqTKfsXQ0EIzqfVe0IbZ0go85TKaOt3"
        "Onit0vV//pMbb7FqQ1ieMGQfbbgSIT+B6g=="));
}

}  // namespace kelto
