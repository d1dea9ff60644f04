#!/usr/bin/env python3
"""Reads an MHT archive with Python's standard email package and checks that
its parts are the expected files, in order.

usage: check_mht.py ARCHIVE KIND LOCATION FILE [KIND LOCATION FILE ...]

KIND is "text/CHARSET" (a quoted-printable page labelled CHARSET: its decoded
body must hold the page's lines, whether the page ended them with CR LF, CR
or LF) or "binary" (base64: compared byte for byte)."""

import email
import re
import sys


def lines_with_crlf(data):
    lines = re.split(rb"\r\n|\r|\n", data)
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join(line + b"\r\n" for line in lines)


def main(argv):
    archive, rest = argv[1], argv[2:]
    expected = [rest[i:i + 3] for i in range(0, len(rest), 3)]
    with open(archive, "rb") as f:
        message = email.message_from_binary_file(f)
    if message.get_content_type() != "multipart/related" or not message.is_multipart():
        return f"not a multipart/related message: {message.get_content_type()}"
    parts = message.get_payload()
    if len(parts) != len(expected):
        return f"{len(parts)} parts, expected {len(expected)}"
    for number, (part, (kind, location, path)) in enumerate(zip(parts, expected), 1):
        if part["Content-Location"] != location:
            return f"part {number}: location {part['Content-Location']!r}, expected {location!r}"
        body = part.get_payload(decode=True)
        with open(path, "rb") as f:
            original = f.read()
        if kind.startswith("text/"):
            charset = kind[len("text/"):]
            if part.get_content_type() != "text/html" or part.get_content_charset() != charset.lower():
                return f"part {number}: type {part.get_content_type()} {part.get_content_charset()}"
            if part["Content-Transfer-Encoding"] != "quoted-printable":
                return f"part {number}: not quoted-printable"
            # The parser may hand lines back with LF alone: both sides are
            # compared line by line.
            body, original = lines_with_crlf(body), lines_with_crlf(original)
        elif part["Content-Transfer-Encoding"].lower() != "base64":
            return f"part {number}: not base64"
        if body != original:
            at = next((i for i, (x, y) in enumerate(zip(body, original)) if x != y), min(len(body), len(original)))
            return (f"part {number} ({location}): decoded body differs from {path} at byte {at}:\n"
                    f"{body[max(0, at - 40):at + 40]!r}\n{original[max(0, at - 40):at + 40]!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
