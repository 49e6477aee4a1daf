"""A launcher built with a release key runs only a Setup package whose
published signature verifies for the version that `latest` names: a swapped
package from the configured URL is refused, the signed one from the default
URL installs and hands over; a genuine signature made for another version
runs nothing. The configuration files are signed: a keyed launcher uses no
other."""

from __future__ import annotations

from conftest import RELEASE_KEY, Response, package_signature, standin_exe


def test_keyed_launcher_refuses_a_swapped_package_and_runs_the_signed_one(bench, keyed):
    package = standin_exe("mvsetup.exe").read_bytes()
    bench.serve_config(kelto=f"""[forceupdate]
latest=1.6.5.2288
url=http://mirror.example/download/swapped.exe
[signature]
1.6.5.2288={package_signature(package, "1.6.5.2288")}
""", signed_with=RELEASE_KEY)
    bench.serve_software_xml()
    bench.serve_setup("1.6.5.2288")
    bench.server.route("/download/swapped.exe", Response(body=package + b"\0appended"))
    bench.enable_kelto_log()

    result = bench.run(keyed, timeout=120)
    assert result.ok, result

    log = bench.kelto_log()
    assert log[:3] == ["Start download mvsetup.exe, 0", "Package check failed: signature mismatch",
                       "Executing mvdown.exe"], log
    assert log[-1] == "Download mvsetup.exe complete successful", log
    assert "msg 0x13F4 9 0" in bench.wait_for_log("msg 0x13F4 9 0")
    paths = bench.server.paths()
    assert paths.count("/download/swapped.exe") == 1 and paths.count("/download/mvsetup.exe") == 1
    assert sum(line.startswith("setup path ") for line in bench.log_lines()) == 1


def test_signature_replayed_for_a_newer_latest_runs_nothing(bench, keyed):
    package = standin_exe("mvsetup.exe").read_bytes()
    bench.serve_config(kelto=f"""[forceupdate]
latest=1.6.5.2288
[signature]
1.6.5.2288={package_signature(package, "1.6.5.2282")}
""", signed_with=RELEASE_KEY)
    bench.serve_setup("1.6.5.2288")
    bench.enable_kelto_log()

    result = bench.run(keyed, timeout=120, debug="-all,warn+seh")
    assert result.ok, result
    assert "keyed: a Setup package runs only with a signature that verifies" in result.stderr
    refused = ["Package check failed: signature mismatch", "Download mvsetup.exe failed"]
    assert bench.kelto_log() == ["Start download mvsetup.exe, 0"] + refused * 3
    assert not any(line.startswith("setup ") for line in bench.log_lines())
