#!/usr/bin/env python3
"""Checks a release DLL of a Windows build as it ships:

- no link time in its PE header (TimeDateStamp 0), so the same sources
  make the same bytes;
- stripped: no COFF symbol table and no debug sections;
- a version resource whose fixed file and product versions and
  FileVersion / ProductVersion strings are VERSION.

Usage: check_dll.py VERSION DLL...
"""
import struct
import sys


def section_names(data, pe, count, optional_size):
    first = pe + 24 + optional_size
    names = []
    for i in range(count):
        raw = data[first + 40 * i:first + 40 * i + 8]
        names.append(raw.rstrip(b"\0").decode("ascii", "replace"))
    return names


def string_value(data, key):
    """The UTF-16 value that follows the version resource's key, or None."""
    pattern = (key + "\0").encode("utf-16-le")
    at = data.find(pattern)
    if at < 0:
        return None
    at += len(pattern)
    at += (4 - at % 4) % 4  # values start on a 32-bit boundary
    end = at
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le", "replace")


def check(path, version):
    problems = []
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        return [f"{path}: not a PE file"]
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return [f"{path}: not a PE file"]
    _, sections, stamp, symbols, symbol_count, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    if stamp != 0:
        problems.append(f"{path}: the PE header carries a link time ({stamp})")
    if symbols != 0 or symbol_count != 0:
        problems.append(f"{path}: not stripped ({symbol_count} COFF symbols)")
    debug = [n for n in section_names(data, pe, sections, optional_size) if n.startswith((".debug", "/"))]
    if debug:
        problems.append(f"{path}: debug sections {debug}")

    parts = [int(p) for p in version.split(".")]
    want_ms, want_ls = (parts[0] << 16) | parts[1], parts[2] << 16
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        problems.append(f"{path}: no version resource")
    else:
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", data, fixed + 8)
        if (file_ms, file_ls) != (want_ms, want_ls) or (product_ms, product_ls) != (want_ms, want_ls):
            problems.append(f"{path}: version resource says {file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}, "
                            f"not {version}")
        for key in ("FileVersion", "ProductVersion"):
            value = string_value(data, key)
            if value != version:
                problems.append(f"{path}: {key} is {value!r}, not {version!r}")
    if not problems:
        print(f"{path}: {len(data)} bytes, stripped, no link time, version {version}")
    return problems


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    problems = []
    for path in sys.argv[2:]:
        problems += check(path, sys.argv[1])
    for p in problems:
        print("FAIL", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
