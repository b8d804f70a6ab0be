#!/usr/bin/env python3
"""Zips a directory the same way every time: entries sorted, one fixed date, fixed modes, so
the same files always give the same bytes and a release can be checked against its sums.
   make-zip.py DIRECTORY TOP OUT.zip     (entries are named TOP/relative/path)"""
import os
import sys
import zipfile

FIXED_DATE = (2026, 1, 1, 0, 0, 0)
FILE_MODE = 0o100644 << 16


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, top, out = sys.argv[1:]
    files = []
    for folder, dirs, names in os.walk(source):
        dirs.sort()
        files += [os.path.join(folder, n) for n in names]
    files.sort(key=lambda p: os.path.relpath(p, source).replace(os.sep, "/"))
    with zipfile.ZipFile(out + ".part", "w") as archive:
        for path in files:
            name = top + "/" + os.path.relpath(path, source).replace(os.sep, "/")
            entry = zipfile.ZipInfo(name, FIXED_DATE)
            entry.external_attr = FILE_MODE
            entry.create_system = 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as data:
                archive.writestr(entry, data.read(), compresslevel=9)
    os.replace(out + ".part", out)


if __name__ == "__main__":
    main()
