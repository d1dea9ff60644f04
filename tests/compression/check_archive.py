#!/usr/bin/env python3
"""Checks the library's output with Python's own zip and zlib readers.

  check_archive.py zip ARCHIVE BASEDIR NAME[=PATH]...
      the archive lists exactly NAME... in that order, passes testzip(), and
      each entry holds the bytes of BASEDIR/NAME (or of PATH)
  check_archive.py entries ARCHIVE
      prints one line per entry: the name's stored bytes in hex, 1 or 0 for
      the UTF-8 flag, and the entry's bytes in hex (after testzip() passes)
  check_archive.py container FILE ORIGINAL
      FILE is a 4-byte little-endian length followed by a zlib stream that
      inflates to the bytes of ORIGINAL
"""
import os
import struct
import sys
import zipfile
import zlib


def check_zip(archive, base, entries):
    names = [entry.split("=", 1)[0] for entry in entries]
    paths = [os.path.join(base, entry.split("=", 1)[-1]) for entry in entries]
    with zipfile.ZipFile(archive) as z:
        listed = z.namelist()
        if listed != names:
            return f"names {listed} != {names}"
        bad = z.testzip()
        if bad is not None:
            return f"bad entry {bad}"
        for name, path in zip(names, paths):
            with open(path, "rb") as f:
                expected = f.read()
            if z.read(name) != expected:
                return f"entry {name} differs"
    return None


def list_entries(archive):
    with zipfile.ZipFile(archive) as z:
        bad = z.testzip()
        if bad is not None:
            return f"bad entry {bad}"
        for info in z.infolist():
            utf8 = info.flag_bits & 0x800
            raw = info.filename.encode("utf-8" if utf8 else "cp437")
            print(raw.hex(), 1 if utf8 else 0, z.read(info).hex())
    return None


def check_container(path, original):
    with open(path, "rb") as f:
        data = f.read()
    with open(original, "rb") as f:
        expected = f.read()
    (length,) = struct.unpack("<i", data[:4])
    if length != len(expected):
        return f"length field {length} != {len(expected)}"
    if zlib.decompress(data[4:]) != expected:
        return "stream does not inflate to the original"
    return None


def main():
    if sys.argv[1] == "zip":
        problem = check_zip(sys.argv[2], sys.argv[3], sys.argv[4:])
    elif sys.argv[1] == "entries":
        problem = list_entries(sys.argv[2])
    else:
        problem = check_container(sys.argv[2], sys.argv[3])
    if problem:
        print(problem)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
