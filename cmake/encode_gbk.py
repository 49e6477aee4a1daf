"""Writes a UTF-8 text file as GBK with CR LF line ends, as the server's
configuration files are."""
import sys

src, dst = sys.argv[1], sys.argv[2]
with open(src, encoding="utf-8") as f:
    text = f.read()
lines = text.splitlines()
with open(dst, "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode("gbk"))
