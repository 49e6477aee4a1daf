"""A throwaway certificate authority for the TLS tests, made with the
openssl command line: server certificates it issues, one from a CA nobody
trusts, and the system's trust bundle with the test CA added."""

from __future__ import annotations

import pathlib
import ssl
import subprocess

SYSTEM_BUNDLE = pathlib.Path("/etc/ssl/certs/ca-certificates.crt")


def _openssl(*args: str, cwd: pathlib.Path) -> None:
    subprocess.run(["openssl", *args], cwd=cwd, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class TestCa:
    __test__ = False  # not a test class, whatever pytest makes of the name

    def __init__(self, folder: pathlib.Path, name: str = "Kelto2 Test CA"):
        self.folder = folder
        folder.mkdir(parents=True, exist_ok=True)
        self.cert = folder / "ca.pem"
        self.key = folder / "ca.key"
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key.name,
                 "-out", self.cert.name, "-days", "30", "-subj", f"/CN={name}",
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)

    def issue(self, host: str, name: str) -> ssl.SSLContext:
        """A server context with a certificate for host, signed by this CA."""
        ext = self.folder / f"{name}.ext"
        ext.write_text(f"subjectAltName=DNS:{host}\nextendedKeyUsage=serverAuth\n"
                       "basicConstraints=CA:FALSE\n")
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key",
                 "-out", f"{name}.csr", "-subj", f"/CN={host}", cwd=self.folder)
        _openssl("x509", "-req", "-in", f"{name}.csr", "-CA", self.cert.name, "-CAkey",
                 self.key.name, "-CAcreateserial", "-days", "30", "-out", f"{name}.pem",
                 "-extfile", ext.name, cwd=self.folder)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.folder / f"{name}.pem", self.folder / f"{name}.key")
        return context

    def trusted_bundle(self) -> pathlib.Path:
        """The system's bundle and this CA: what a run that trusts it sees."""
        bundle = self.folder / "ca-certificates.crt"
        bundle.write_bytes(SYSTEM_BUNDLE.read_bytes() + b"\n" + self.cert.read_bytes())
        return bundle


def trusting(bundle: pathlib.Path) -> list[str]:
    """A command prefix that runs a program with bundle in place of the
    system's trust bundle, in a mount namespace of its own: the machine's
    bundle is not touched, and nothing else sees the change."""
    script = f'mount --bind "$0" {SYSTEM_BUNDLE} && exec "$@"'
    return ["unshare", "--mount", "sh", "-c", script, str(bundle)]
