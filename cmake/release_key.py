#!/usr/bin/env python3
"""Turns the release public key (PEM) into the DER that Kelto2.exe carries.

    release_key.py <release.pub> <out.der>

PEM is base64 of DER between its BEGIN and END lines, so no crypto library
is needed. The key must be an uncompressed P-256 key (what `openssl ec
-pubout` writes for a prime256v1 key): the build fails for any other, rather
than ship an exe that refuses every package.
"""

import base64
import binascii
import sys

BEGIN = "-----BEGIN PUBLIC KEY-----"
END = "-----END PUBLIC KEY-----"
# SubjectPublicKeyInfo of an id-ecPublicKey on prime256v1, up to the 0x04
# marker of an uncompressed point; X and Y (32 bytes each) follow.
P256_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")
P256_SIZE = len(P256_PREFIX) + 64


def fail(message: str) -> None:
    print(f"release_key.py: {message}", file=sys.stderr)
    sys.exit(1)


def main() -> None:
    if len(sys.argv) != 3:
        fail("usage: release_key.py <release.pub> <out.der>")
    source, target = sys.argv[1:]
    try:
        text = open(source, encoding="ascii").read()
    except (OSError, UnicodeDecodeError) as error:
        fail(f"{source}: {error}")
    begin = text.find(BEGIN)
    end = text.find(END, begin + 1)
    if begin < 0 or end < 0:
        fail(f"{source}: no '{BEGIN}' block (give the public key, not the private one)")
    body = "".join(text[begin + len(BEGIN):end].split())
    try:
        der = base64.b64decode(body, validate=True)
    except binascii.Error as error:
        fail(f"{source}: the key is not valid base64: {error}")
    if len(der) != P256_SIZE or not der.startswith(P256_PREFIX):
        fail(f"{source}: not an uncompressed ECDSA P-256 (prime256v1) public key")
    with open(target, "wb") as out:
        out.write(der)


if __name__ == "__main__":
    main()
