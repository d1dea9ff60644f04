#!/usr/bin/env python3
"""Writes a small site into FOLDER for the browser test: pictures in files
named in lower, mixed and upper case, a style sheet, and pages that refer to
them in those spellings and through "\\", with LF line ends (page.html), CR
line ends (cr.html), a long <pre> line and UTF-8 text.

usage: make_site.py FOLDER"""

import os
import struct
import sys
import zlib


def png(width, height, rgb):
    rows = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def main(folder):
    files = {
        "pics/red.png": png(40, 30, (255, 0, 0)),
        "Pics/Green.PNG": png(40, 30, (0, 160, 0)),
        "BLUE.PNG": png(40, 30, (0, 0, 255)),
        "pics/yellow.png": png(40, 30, (230, 200, 0)),
        "css/Style.css": b"body { background: #eef; }\nh1 { color: #a00; border-bottom: 4px solid #0a0; }\n",
    }
    long_line = b" ".join(b"word%d=x" % i for i in range(40))
    page = (b"<html><head><meta charset=\"utf-8\"><title>Site</title>\n"
            b"<link rel=\"stylesheet\" href=\"css/Style.css\">\n</head><body>\n"
            b"<h1>Caf\xc3\xa9 report</h1>\n"
            b"<p>lower <img src=\"pics/red.png\"> mixed <img src=\"Pics/Green.PNG\"> upper <img src=\"BLUE.PNG\">"
            b" through a backslash <img src=\"pics\\yellow.png\"></p>\n"
            b"<p>one\ntwo\nthree</p>\n<pre>" + long_line + b"</pre>\n</body></html>\n")
    files["page.html"] = page
    files["cr.html"] = page.replace(b"\n", b"\r")
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
