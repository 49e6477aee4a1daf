"""What Kelto2.exe carries besides code: the manifest, the version resource,
the reference configuration; and that it is one self-contained file."""

from __future__ import annotations

import re
import shutil
import subprocess

import pytest

from conftest import BIN_DIR, BUILD_DIR

KELTO = BIN_DIR / "Kelto2.exe"
RT_MANIFEST, RT_RCDATA = "24", "10"
LANG_EN_US, LANG_ZH_CN = "1033", "2052"
# ntdll is in every process before the exe is: it is never searched for.
SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll",
               "version.dll", "wininet.dll", "gdi32.dll", "comctl32.dll", "ole32.dll",
               "ntdll.dll"}


def cmake_cache(name: str) -> str:
    text = (BUILD_DIR / "CMakeCache.txt").read_text()
    match = re.search(rf"^{name}:\w+=(.*)$", text, re.MULTILINE)
    assert match, f"{name} not in the build's cache"
    return match.group(1)


def resource(bench, rtype: str, name: str, lang: str) -> bytes:
    out = bench.workdir / f"resource-{rtype}-{name}-{lang}.bin"
    result = bench.winprobe("resource", bench.prefix.windows_path(KELTO), rtype, name, lang,
                            bench.prefix.windows_path(out))
    assert result.returncode == 0, f"resource {rtype}/{name}/{lang} missing: {result.stderr}"
    return out.read_bytes()


def test_manifest_requires_administrator_and_names_supported_windows(bench):
    manifest = resource(bench, RT_MANIFEST, "1", "1033").decode("utf-8")
    assert 'level="requireAdministrator"' in manifest
    # Vista, 7, 8, 8.1 and 10/11
    for guid in ("e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                 "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                 "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"):
        assert guid in manifest


def test_version_resource_carries_the_project_version(bench):
    version = bench.winprobe("version", bench.prefix.windows_path(KELTO)).stdout.strip()
    assert version == cmake_cache("CMAKE_PROJECT_VERSION")


def test_reference_configuration_is_gbk_rcdata_in_chinese(bench):
    data = resource(bench, RT_RCDATA, "CONFIG", LANG_ZH_CN)
    text = data.decode("gbk")
    lines = text.split("\r\n")
    assert lines[-1] == "" and "\n" not in text.replace("\r\n", ""), "CR LF line ends"
    root = cmake_cache("KELTO2_SERVER_ROOT")
    for line in ("[forceupdate]", "latest=1.6.5.2288", "1.6.5.2282=1", "[md5]", "1.6.5.2288=",
                 "[ui]", "border=1", f"headerImg={root}/kelto2/mvdown.png",
                 f"backgroundImg={root}/kelto2/background.png",
                 f"backgroundMask={root}/kelto2/backgroundmask.png", "caption=Morvik下载器 2010",
                 "captionColor=#ffffff", "captionX=40", "captionY=10",
                 "description=正在准备下载 %s", "descriptionColor=#585858",
                 "progress=下载速度: %s/s, 剩余时间 %d 秒", "progressColor=#585858",
                 "imgHeaderX=9", "imgHeaderY=35", ";closeImg=", "closeX=341", "closeY=0",
                 "closeW=48", "closeH=21", ";minimizeImg=", "minimizeX=298", "minimizeY=0",
                 "minimizeW=48", "minimizeH=21", "Weblink1Color=#1b5d9b", "Weblink1X=45",
                 "Weblink1Y=181"):
        assert line in lines, line
    assert any(line.startswith("Weblink1Text=") and len(line) > len("Weblink1Text=")
               for line in lines)
    assert any(line.startswith("Weblink1URL=http://") for line in lines)
    # Only the Chinese-language copy exists: no English one.
    missing = bench.winprobe("resource", bench.prefix.windows_path(KELTO), RT_RCDATA, "CONFIG",
                             LANG_EN_US, bench.prefix.windows_path(bench.workdir / "x.bin"))
    assert missing.returncode == 2


def test_exe_is_self_contained():
    objdump = shutil.which("x86_64-w64-mingw32-objdump")
    if not objdump:
        pytest.skip("mingw objdump is not installed")
    headers = subprocess.run([objdump, "-p", str(KELTO)], capture_output=True, text=True,
                             check=True).stdout
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
    assert imports and imports <= SYSTEM_DLLS, imports - SYSTEM_DLLS
    assert "Subsystem\t\t00000002" in headers, "a GUI program: no console window"
