#!/usr/bin/env python3
"""Reads an MHT archive with Python's standard email package and checks that
its parts are the expected files, in order.

usage: check_mht.py ARCHIVE KIND LOCATION FILE [KIND LOCATION FILE ...]

KIND is "text" (a quoted-printable page: compared after the line breaks are
removed from both sides, as the archive writer drops and inserts them) or
"binary" (base64: compared byte for byte)."""

import email
import sys


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
        if kind == "text":
            if part.get_content_type() != "text/html" or part.get_content_charset() != "iso-8859-1":
                return f"part {number}: type {part.get_content_type()} {part.get_content_charset()}"
            body = body.replace(b"\r", b"").replace(b"\n", b"")
            original = original.replace(b"\r", b"").replace(b"\n", b"")
        elif part["Content-Transfer-Encoding"].lower() != "base64":
            return f"part {number}: not base64"
        if body != original:
            return f"part {number} ({location}): decoded body differs from {path}"
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
