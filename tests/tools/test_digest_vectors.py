"""The vector file the core tests use is the one hashlib and base64 produce."""
import os

import make_digest_vectors


def test_committed_vectors_match_hashlib_and_base64():
    with open(make_digest_vectors.default_path(), newline="\n") as f:
        committed = f.read()
    assert committed == make_digest_vectors.render()


def test_vectors_cover_the_block_boundaries():
    lengths = set()
    for line in make_digest_vectors.render().splitlines():
        data = line.split()[0]
        lengths.add(0 if data == "-" else len(data) // 2)
    assert {55, 56, 63, 64, 65, 119, 120, 128} <= lengths
