#!/usr/bin/env python3
"""Writes tests/unit/data/digest_vectors.txt from Python's hashlib and base64.

The core tests read the file and compare the starter's own SHA-1 and base64
against it; test_digest_vectors.py checks that the committed file is exactly
what this script produces.

Each line: <input hex> <sha1 hex> <base64 without line breaks> <base64 with
76-character lines, "\\n" written as "|">. An empty input is written as "-".
"""
import base64
import hashlib
import os
import random
import sys

LENGTHS = list(range(0, 130)) + [183, 255, 256, 447, 448, 512, 1000, 4095, 4096, 10000]


def lines():
    rng = random.Random(20261209)
    for n in LENGTHS:
        for _ in range(2 if n < 130 else 1):
            data = bytes(rng.getrandbits(8) for _ in range(n))
            plain = base64.b64encode(data).decode()
            wrapped = base64.encodebytes(data).decode().rstrip("\n").replace("\n", "|")
            yield "%s %s %s %s" % (data.hex() or "-", hashlib.sha1(data).hexdigest(),
                                   plain or "-", wrapped or "-")


def render():
    return "".join(line + "\n" for line in lines())


def default_path():
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.join(here, "..", "unit", "data", "digest_vectors.txt")


if __name__ == "__main__":
    path = sys.argv[1] if len(sys.argv) > 1 else default_path()
    with open(path, "w", newline="\n") as f:
        f.write(render())
