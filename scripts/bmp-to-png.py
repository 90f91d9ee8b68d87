#!/usr/bin/env python3
"""Converts an uncompressed 24- or 32-bit BMP file to PNG (standard library only)."""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if compression != 0 or bits not in (24, 32):
        raise ValueError(f"{path}: only uncompressed 24- and 32-bit files are read")
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        start = offset + y * stride
        line = data[start:start + width * step]
        rgb = bytearray()
        for x in range(width):
            b, g, r = line[x * step:x * step + 3]
            rgb += bytes((r, g, b))
        rows.append(bytes(rgb))
    if height > 0:  # stored bottom-up
        rows.reverse()
    return width, abs(height), rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\x00" + row for row in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: bmp-to-png.py IN.bmp OUT.png")
    write_png(sys.argv[2], *read_bmp(sys.argv[1]))
