"""The build's Authenticode signing step, run on the built exe with a
throwaway code-signing certificate: osslsigncode verifies the signed exe
against that certificate, and no longer once one byte of it changed. No
Wine: signing and verifying are host programs."""

from __future__ import annotations

import os
import pathlib
import shutil
import subprocess

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
EXE = pathlib.Path(os.environ.get("KELTO2_BUILD_DIR", REPO / "build" / "win64")) / \
    "bin" / "Kelto2.exe"
OSSLSIGNCODE = shutil.which("osslsigncode")


@pytest.fixture(scope="module")
def certificate(tmp_path_factory) -> tuple[pathlib.Path, pathlib.Path]:
    """A self-signed code-signing certificate and its key, for one day."""
    folder = tmp_path_factory.mktemp("signing")
    cert, key = folder / "cert.pem", folder / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=Kelto2 throwaway code signing", "-keyout", key, "-out", cert,
                    "-addext", "keyUsage=critical,digitalSignature",
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    return cert, key


def verify(exe: pathlib.Path, cert: pathlib.Path) -> subprocess.CompletedProcess:
    return subprocess.run([OSSLSIGNCODE, "verify", "-CAfile", cert, "-in", exe],
                          capture_output=True, text=True)


def test_signed_exe_verifies_until_a_byte_changes(certificate, tmp_path):
    if not EXE.exists() or not OSSLSIGNCODE:
        pytest.fail(f"needs {EXE} (cmake --build --preset win64) and osslsigncode "
                    "(scripts/install-deps.sh)")
    cert, key = certificate
    signed = tmp_path / "Kelto2.exe"
    shutil.copyfile(EXE, signed)
    subprocess.run(["cmake", f"-DOSSLSIGNCODE={OSSLSIGNCODE}", f"-DEXE={signed}",
                    f"-DCERT={cert}", f"-DKEY={key}", "-DDESCRIPTION=Kelto2",
                    "-P", REPO / "cmake" / "Authenticode.cmake"], check=True)
    result = verify(signed, cert)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Message digest algorithm  : SHA256" in result.stdout

    tampered = tmp_path / "tampered.exe"
    data = bytearray(signed.read_bytes())
    data[EXE.stat().st_size // 2] ^= 0x01
    tampered.write_bytes(data)
    assert verify(tampered, cert).returncode != 0
