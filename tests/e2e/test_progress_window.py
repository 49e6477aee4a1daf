"""The progress window as a user sees it: geometry read from the running
window by the probe, pixels read from a screenshot of the display."""

from __future__ import annotations

import time

import pytest

from conftest import Response
from skins import jpeg_bytes, pixels, png_bytes, png_header_only, quadrants, solid

ROOT = "http://dl.morvik.example"
SCREEN = (1280, 1024)
# Where centring a 400 by 200 window puts its top-left corner.
ORIGIN = ((SCREEN[0] - 400) >> 1, (SCREEN[1] - 200) >> 1)
WS_CAPTION, WS_THICKFRAME, WS_VISIBLE = 0x00C00000, 0x00040000, 0x10000000

RED, GREEN, BLUE, YELLOW = (200, 30, 30), (30, 200, 30), (30, 30, 200), (200, 200, 30)
HEADER = (90, 160, 220)
WHITE = (255, 255, 255)

REFERENCE_UI = f"""[forceupdate]
latest=1.6.5.2288
[ui]
border=1
headerImg={ROOT}/kelto2/mvdown.png
backgroundImg={ROOT}/kelto2/background.png
backgroundMask={ROOT}/kelto2/backgroundmask.png
caption=Morvik下载器 2010
captionColor=#ffffff
captionX=40
captionY=10
description=正在准备下载 %s
descriptionColor=#585858
progress=下载速度: %s/s, 剩余时间 %d 秒
progressColor=#585858
imgHeaderX=9
imgHeaderY=35
;closeImg=
closeX=341
closeY=0
closeW=48
closeH=21
;minimizeImg=
minimizeX=298
minimizeY=0
minimizeW=48
minimizeH=21
Weblink1Text=本软件已通过安全认证
Weblink1URL=http://www.example.com/cert
Weblink1Color=#1b5d9b
Weblink1X=45
Weblink1Y=181
"""


def children(tree: dict) -> dict[str, dict]:
    """The elements by role, in the order the window makes them."""
    roles = ["header", "close", "minimize", "link1", "link2", "caption", "bar",
             "description", "status"]
    assert len(tree["children"]) == len(roles), tree
    return dict(zip(roles, tree["children"]))


def rect(child: dict) -> tuple[int, int, int, int]:
    r = child["rect"]
    return r["left"], r["top"], r["width"], r["height"]


def show_window(bench, config: str, **files) -> dict:
    """Serves config and files, starts the launcher with nothing installed
    and a Setup package that never answers, and waits for its window."""
    bench.serve_config(kelto=config)
    for path, body in files.items():
        bench.server.route(path, body if isinstance(body, Response) else Response(body=body))
    bench.server.route("/download/mvsetup.exe", Response(hang=True))
    bench.start_kelto()
    bench.wait_for_window()
    # Wine's X11 driver may report the size the window was made with for a
    # moment after it is shown, until the X server's view catches up.
    previous = None
    for _ in range(20):
        tree = bench.window_tree()
        if previous and tree["rect"] == previous["rect"]:
            return tree
        previous = tree
        time.sleep(0.3)
    return previous


def reference_skin() -> dict[str, bytes]:
    return {
        "/kelto2/background.png": png_bytes(380, 220, quadrants(RED, GREEN, BLUE, YELLOW, 380, 220)),
        "/kelto2/mvdown.png": png_bytes(360, 60, solid(HEADER)),
        "/kelto2/backgroundmask.png": png_bytes(380, 220, solid((0, 0, 0))),
    }


def test_reference_skin_lays_out_as_configured(bench, screenshot):
    tree = show_window(bench, REFERENCE_UI, **reference_skin())
    # Frameless at the picture's size, where the centred 400 by 200 window was.
    assert tree["title"] == "Morvik下载器 2010"
    assert tree["style"] & (WS_CAPTION | WS_THICKFRAME) == 0
    assert (tree["rect"]["left"], tree["rect"]["top"]) == ORIGIN
    assert (tree["rect"]["width"], tree["rect"]["height"]) == (380, 220)
    assert tree["client"] == tree["rect"], "the client area is the whole picture"
    assert tree["owner"]["title"] == "下载器"

    e = children(tree)
    assert [c["class"].upper() for c in tree["children"]] == ["STATIC"] * 6 + [
        "MSCTLS_PROGRESS32", "STATIC", "STATIC"]
    assert [e[k]["style"] for k in ("header", "link1", "caption", "bar")] == [
        0x5000018C, 0x50000182, 0x5000018C, 0x50000000]
    assert rect(e["header"]) == (9, 35, 360, 60)
    assert rect(e["description"]) == (14, 100, 350, 20)
    assert rect(e["bar"]) == (14, 125, 350, 20)
    assert rect(e["status"]) == (14, 150, 350, 20)
    assert rect(e["caption"]) == (40, 10, 370, 20)
    assert rect(e["link1"])[:2] == (45, 181)
    assert rect(e["close"]) == (341, 0, 48, 21)
    assert rect(e["minimize"]) == (298, 0, 48, 21)
    assert e["description"]["text"] == "正在准备下载 Tamble"
    assert e["caption"]["text"] == "Morvik下载器 2010"
    assert e["link1"]["text"] == "本软件已通过安全认证"
    assert (e["bar"]["position"], e["bar"]["high"]) == (0, 10000)

    shot = screenshot()
    x, y = ORIGIN
    assert pixels(shot, [
        (x + 20, y + 200),   # background, bottom-left block
        (x + 370, y + 210),  # background, bottom-right block
        (x + 200, y + 60),   # the header picture in the header box
        (x + 350, y + 20),   # the background through the caption label, right of its text
        (x + 380 - 5, y + 5),  # through the transparent close area
    ]) == [BLUE, YELLOW, HEADER, GREEN, GREEN]


def test_at_144_dpi_everything_is_half_as_large_again(bench, screenshot):
    bench.set_log_pixels(144)
    tree = show_window(bench, REFERENCE_UI, **reference_skin())
    # Centred at 600 by 300, then the background picture's 380 by 220 scaled.
    origin = ((SCREEN[0] - 600) >> 1, (SCREEN[1] - 300) >> 1)
    assert (tree["rect"]["left"], tree["rect"]["top"]) == origin
    assert (tree["rect"]["width"], tree["rect"]["height"]) == (570, 330)
    assert tree["client"] == tree["rect"]
    e = children(tree)
    # Each configured number 1.5 times, halves rounded up: (9, 35) is (14, 53).
    assert rect(e["header"]) == (14, 53, 540, 90)
    assert rect(e["description"]) == (22, 151, 524, 30)
    assert rect(e["bar"]) == (22, 189, 524, 30)
    assert rect(e["status"]) == (22, 227, 524, 30)
    assert rect(e["caption"]) == (60, 15, 554, 30)
    assert rect(e["close"]) == (512, 0, 72, 32)
    assert rect(e["minimize"]) == (447, 0, 72, 32)
    # The link sizes itself to one line of its font: 18 pixels, not 12.
    assert rect(e["link1"])[:2] == (68, 272) and rect(e["link1"])[3] == 18
    assert e["bar"]["text"] == "正在准备下载 Tamble", "the bar is named for screen readers"

    x, y = origin
    assert pixels(screenshot(), [
        (x + 14, y + 53), (x + 553, y + 142),  # the header picture's corners, scaled
        (x + 554, y + 100), (x + 14, y + 146),  # beside and below it: the background
        (x + 20, y + 320), (x + 560, y + 320),  # the background's lower blocks, scaled
    ]) == [HEADER, HEADER, GREEN, RED, BLUE, YELLOW]


def test_keyboard_opens_the_links_and_asks_before_cancelling(bench):
    tab, enter, space, escape, alt_f4 = "0x09", "0x0D", "0x20", "0x1B", "0x12+0x73"
    one, two = "http://example.com/one", "http://example.com/two"
    bench.use_browser_standin()
    show_window(bench, f"""[forceupdate]
latest=1.6.5.2288
[ui]
webLink1Text=认证
webLink1URL={one}
webLink2Text=二
webLink2URL={two}
""")
    window = "TKelto2Window"
    assert bench.winprobe("keys", window, enter).returncode == 0  # no link marked yet
    bench.winprobe("keys", window, tab, enter)
    bench.wait_for_log("browser arg " + one, timeout=15)
    bench.winprobe("keys", window, tab, space)
    bench.wait_for_log("browser arg " + two, timeout=15)
    assert [line for line in bench.log_lines() if line.startswith("browser arg http")] == [
        "browser arg " + one, "browser arg " + two]

    for close in (escape, alt_f4):
        assert bench.winprobe("keys", window, close).returncode == 0
        assert bench.wait_for_box() == ["下载器|真的要取消下载Tamble吗？"], close
        bench.message_boxes("no")
        bench.wait_for_window()


def test_without_ui_section_the_window_keeps_its_frame(bench, screenshot):
    tree = show_window(bench, "[forceupdate]\nlatest=1.6.5.2288\n")
    assert tree["style"] == 0x16CF0000
    assert (tree["rect"]["left"], tree["rect"]["top"]) == ORIGIN
    assert (tree["rect"]["width"], tree["rect"]["height"]) == (400, 200)
    assert tree["title"] == "Morvik下载器 2010"
    e = children(tree)
    assert not e["header"]["visible"] and rect(e["header"]) == (0, 28, 64, 80)
    assert rect(e["description"]) == (5, 113, 54, 20)
    assert rect(e["bar"]) == (5, 138, 54, 20)
    assert rect(e["status"]) == (5, 163, 54, 20)
    assert rect(e["close"]) == rect(e["minimize"]) == (0, 0, 64, 64)
    assert rect(e["caption"])[:2] == (5, 5)
    assert rect(e["link1"])[:3] == (5, 74, 0)
    assert e["description"]["text"] == ""
    client = tree["client"]
    assert pixels(screenshot(), [(client["left"] + 300, client["top"] + 100)]) == [WHITE]


def test_hostile_skin_and_values_give_a_safe_window(bench):
    config = f"""[forceupdate]
latest=1.6.5.2288
[ui]
headerImg={ROOT}/kelto2/h.png?v=2
closeImg={ROOT}/kelto2/close.png
backgroundMask={ROOT}/kelto2/huge.png
backgroundImg={ROOT}/kelto2/empty.png
caption={"长" * 2500}
description=%s%s%n%d%x%5s
captionX=-2147483648
captionY=99999999
closeX=2147483647
closeY=-2147483648
closeW=-5
closeH=0
webLink1X=-40000
webLink2Text=二
webLink2Y=2147483647
"""
    tree = show_window(bench, config, **{
        "/kelto2/h.png": png_bytes(50, 50, solid(HEADER)),
        "/kelto2/close.png": b"\x89PNG\r\n\x1a\n garbage",
        "/kelto2/huge.png": png_header_only(100000, 100000),
        "/kelto2/empty.png": b"",
    })
    paths = bench.server.paths()
    assert "/kelto2/h.png" in paths, "the query does not stop the request"
    assert tree["style"] == 0x16CF0000, "an empty background leaves the frame on"
    e = children(tree)
    assert not e["header"]["visible"], "a query after .png matches no image type"
    assert e["description"]["text"] == "Tamble%s%n%d%x%5s"
    # Undecodable close picture: 0 by 0, kept where closeW and closeH are not
    # usable; positions clamped to what the window manager carries.
    assert rect(e["close"]) == (32767, -32768, 0, 0)
    assert rect(e["caption"])[:2] == (5, 32767)
    assert rect(e["link1"])[:2] == (5, 74)
    assert rect(e["link2"])[1] == 32767
    assert tree["title"].startswith("长" * 100)


def test_picture_types_by_extension_in_any_case(bench):
    config = f"""[forceupdate]
latest=1.6.5.2288
[ui]
headerImg={ROOT}/kelto2/HEADER.PNG
backgroundImg={ROOT}/kelto2/back.Jpeg
backgroundMask={ROOT}/kelto2/mask.png
closeImg={ROOT}/kelto2/close.png
"""
    tree = show_window(bench, config, **{
        "/kelto2/HEADER.PNG": png_bytes(120, 40, solid(HEADER)),
        "/kelto2/back.Jpeg": jpeg_bytes(300, 180, solid(GREEN)),
        "/kelto2/mask.png": Response(body=png_bytes(300, 180, solid(RED)), cut_after=100),
    })
    e = children(tree)
    assert e["header"]["visible"] and rect(e["header"])[2:] == (120, 40)
    assert (tree["rect"]["width"], tree["rect"]["height"]) == (300, 180)
    assert tree["style"] & WS_CAPTION == 0
    assert rect(e["close"]) == (0, 0, 64, 64), "a 404 close picture leaves the area as it was"
