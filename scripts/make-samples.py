#!/usr/bin/env python3
"""Writes the demo firmware files into samples/ (or the folder given).

Each file is deterministic (a seeded xorshift generator), begins with the
bytes A5 5A (never 00 or 02, so a printer cannot take its start for a
query), carries the revision marker "MARLETFWREV=<rev>;" near its start,
and holds every byte value 0..255. Prints each file's size and CRC-32.
"""

import argparse
import os
import sys
import zlib

MARKER = b"MARLETFWREV="

SAMPLES = [
    # name, size, revision
    ("FW_small_218.bot", 2500, "2.18"),
    ("FW2207_218.bot", 64 * 1024, "2.18"),
    ("FW_1M_218.bot", 1024 * 1024, "2.18"),
    ("FW_4M_218.bot", 4 * 1024 * 1024, "2.18"),
    ("FW_219.bot", 64 * 1024, "2.19"),
]


class XorShift32:
    def __init__(self, seed):
        self.state = (seed & 0xFFFFFFFF) or 0x9E3779B9

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x


def seed_of(name):
    return zlib.crc32(name.encode("ascii"))


def make_image(name, size, revision):
    rng = XorShift32(seed_of(name))
    head = bytearray(b"\xa5\x5a") + MARKER + revision.encode("ascii") + b";"
    # Every byte value once, in a shuffled order.
    values = list(range(256))
    for i in range(255, 0, -1):
        j = rng.next() % (i + 1)
        values[i], values[j] = values[j], values[i]
    head += bytes(values)
    if size < len(head):
        raise ValueError(f"{name}: {size} bytes is too small for the header")
    body = bytearray()
    while len(head) + len(body) < size:
        body += rng.next().to_bytes(4, "little")
    image = bytes(head + body[: size - len(head)])
    assert image[0] not in (0x00, 0x02)
    assert image.count(MARKER) == 1
    assert len(set(image)) == 256
    return image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "samples"), help="folder to write into")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for name, size, revision in SAMPLES:
        image = make_image(name, size, revision)
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(image)
        print(f"{name:18} {size:8} bytes  revision {revision}  crc32 {zlib.crc32(image):08x}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
