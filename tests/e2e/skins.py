"""Skin pictures for the tests and the demo, made on the spot: PNG written
here with zlib, JPEG by ImageMagick's convert from such a PNG."""

from __future__ import annotations

import struct
import subprocess
import tempfile
import zlib
from typing import Callable

Pixel = tuple[int, int, int]


def png_bytes(width: int, height: int, color: Callable[[int, int], Pixel]) -> bytes:
    """An 8-bit RGB PNG whose pixel (x, y) is color(x, y)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # no filter
        for x in range(width):
            rows.extend(color(x, y))

    def chunk(kind: bytes, data: bytes) -> bytes:
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows))) + chunk(b"IEND", b""))


def png_header_only(width: int, height: int) -> bytes:
    """A PNG that declares a size and carries no pixel data at all."""
    data = png_bytes(1, 1, lambda x, y: (0, 0, 0))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    crc = struct.pack(">I", zlib.crc32(b"IHDR" + ihdr) & 0xFFFFFFFF)
    return data[:16] + ihdr + crc + data[33:]


def jpeg_bytes(width: int, height: int, color: Callable[[int, int], Pixel]) -> bytes:
    with tempfile.TemporaryDirectory() as tmp:
        src, dst = f"{tmp}/in.png", f"{tmp}/out.jpg"
        with open(src, "wb") as f:
            f.write(png_bytes(width, height, color))
        subprocess.run(["convert", src, "-quality", "95", dst], check=True, timeout=60)
        with open(dst, "rb") as f:
            return f.read()


def solid(rgb: Pixel) -> Callable[[int, int], Pixel]:
    return lambda x, y: rgb


def quadrants(a: Pixel, b: Pixel, c: Pixel, d: Pixel, width: int, height: int
              ) -> Callable[[int, int], Pixel]:
    """Four blocks: top-left a, top-right b, bottom-left c, bottom-right d."""
    return lambda x, y: (a if x < width // 2 else b) if y < height // 2 else \
        (c if x < width // 2 else d)


def pixels(png_path, points: list[tuple[int, int]]) -> list[Pixel]:
    """The colours of a PNG at the given points, read by ImageMagick."""
    spec = "\n".join(f"%[fx:int(255*p{{{x},{y}}}.r)],%[fx:int(255*p{{{x},{y}}}.g)],"
                     f"%[fx:int(255*p{{{x},{y}}}.b)]" for x, y in points)
    out = subprocess.run(["convert", str(png_path), "-format", spec, "info:"], check=True,
                         capture_output=True, text=True, timeout=60).stdout
    return [tuple(int(v) for v in line.split(",")) for line in out.splitlines()]


def demo_skin() -> dict[str, bytes]:
    """Pictures for the reference configuration's skin URLs: a 390 by 210
    background with a title bar and close and minimise buttons, a header
    banner, and the mask that the window fetches and never applies."""
    width, height = 390, 210

    def background(x: int, y: int) -> Pixel:
        if y < 21 and 341 <= x < 389:
            return (192, 57, 43)    # close
        if y < 21 and 298 <= x < 341:
            return (70, 96, 135)    # minimise
        if y < 30:
            return (31, 63, 107)    # title bar
        if x in (0, width - 1) or y == height - 1:
            return (154, 167, 184)  # edge
        return (244, 246, 249)

    def banner(x: int, y: int) -> Pixel:
        t = x / 371
        return (int(40 + 60 * t), int(110 + 60 * t), int(190 + 40 * t)) if (x // 12 + y // 12) % 2 \
            else (int(52 + 60 * t), int(122 + 60 * t), int(205 + 40 * t))

    return {
        "/kelto2/background.png": png_bytes(width, height, background),
        "/kelto2/mvdown.png": png_bytes(372, 70, banner),
        "/kelto2/backgroundmask.png": png_bytes(width, height, solid((255, 255, 255))),
    }
