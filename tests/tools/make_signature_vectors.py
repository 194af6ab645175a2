#!/usr/bin/env python3
"""Writes tests/unit/data/signature_vectors.txt with hashlib and the openssl command.

The Windows tests check the starter's CNG hashing and signature checks, and
its package checker, against this file; test_signature_vectors.py checks the
committed file against hashlib and openssl again (signatures are random, so
the file is made once and committed, not compared with a fresh run).

Lines (hex for bytes, "-" for none):
  sha256 <message> <digest>
  sha256-repeat <byte> <count> <digest>
  key <name> <X || Y>
  ecdsa <key name> <message> <r || s> valid|invalid|key-rejected
  package <verdict> <version asked> <package>
The packages are checked with the keys "current" and "next" trusted.
"""
import hashlib
import os
import random
import sys
import tempfile

import signhelper

SHA_LENGTHS = [0, 1, 3, 55, 56, 63, 64, 65, 119, 120, 1000, 4097]
P256_P = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF


def default_path():
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.join(here, "..", "unit", "data", "signature_vectors.txt")


def hx(b):
    return b.hex() if b else "-"


def render():
    rng = random.Random(20260317)
    out = ["# made by tests/tools/make_signature_vectors.py (hashlib, openssl)"]
    for n in SHA_LENGTHS:
        data = b"abc" if n == 3 else bytes(rng.getrandbits(8) for _ in range(n))
        out.append("sha256 %s %s" % (hx(data), hashlib.sha256(data).hexdigest()))
    out.append("sha256-repeat 61 1000000 %s" % hashlib.sha256(b"a" * 1000000).hexdigest())

    with tempfile.TemporaryDirectory() as d:
        keys = {}
        for name in ("current", "next", "stranger"):
            path = os.path.join(d, name + ".pem")
            signhelper.new_private_key(path)
            keys[name] = (path, signhelper.raw_public_key(path))
            out.append("key %s %s" % (name, keys[name][1].hex()))
        pem, raw = keys["current"]

        payload = (signhelper.record(b"QVInstaller.exe", b"MZ" + bytes(rng.getrandbits(8) for _ in range(3000)))
                   + signhelper.record(b"lang\\en.txt", b"hello\r\n"))
        text = signhelper.statement(raw[:8], payload, "5.1.0", 1767225600)
        sig = signhelper.sign(pem, text)
        r, s = sig[:32], sig[32:]
        high_s = (signhelper.CURVE_ORDER - int.from_bytes(s, "big")).to_bytes(32, "big")
        off_curve = raw[:32] + ((int.from_bytes(raw[32:], "big") + 1) % P256_P).to_bytes(32, "big")
        flipped = bytearray(sig)
        flipped[40] ^= 0x01
        changed = bytearray(text)
        changed[text.index(b"5.1.0")] = ord("6")
        out.append("key off-curve %s" % off_curve.hex())
        out += [
            "ecdsa current %s %s valid" % (hx(text), sig.hex()),
            "ecdsa current %s %s valid" % (hx(b"abc"), signhelper.sign(pem, b"abc").hex()),
            "ecdsa current - %s valid" % signhelper.sign(pem, b"").hex(),
            "ecdsa current %s %s valid" % (hx(text), (r + high_s).hex()),
            "ecdsa current %s %s invalid" % (hx(bytes(changed)), sig.hex()),
            "ecdsa current %s %s invalid" % (hx(text), bytes(flipped).hex()),
            "ecdsa current %s %s invalid" % (hx(text), (s + r).hex()),
            "ecdsa next %s %s invalid" % (hx(text), sig.hex()),
            "ecdsa current %s %s invalid" % (hx(text), "00" * 64),
            "ecdsa current %s %s invalid" % (hx(text), signhelper.CURVE_ORDER.to_bytes(32, "big").hex() + s.hex()),
            "ecdsa off-curve %s %s key-rejected" % (hx(text), sig.hex()),
        ]

        good = signhelper.signed_package(pem, payload, "5.1.0")
        member_end = len(good) - len(payload)
        tampered = bytearray(good)
        tampered[member_end + len(payload) // 2] ^= 0x04
        text_6, sig_6, member, rest = signhelper.split_signed(good)
        forged = signhelper.record(signhelper.MEMBER, text_6.replace(b"5.1.0", b"5.2.0") + sig_6, level=0) + rest
        out += [
            "package ok 5.1.0 %s" % hx(good),
            "package ok - %s" % hx(good),
            "package ok 5.1.0 %s" % hx(signhelper.signed_package(keys["next"][0], payload, "5.1.0")),
            "package sha256 5.1.0 %s" % hx(bytes(tampered)),
            "package byte-count 5.1.0 %s" % hx(good + b"\0"),
            "package unsigned 5.1.0 %s" % hx(payload),
            "package empty 5.1.0 -",
            "package unknown-key 5.1.0 %s" % hx(signhelper.signed_package(keys["stranger"][0], payload, "5.1.0")),
            "package version 5.2.0 %s" % hx(good),
            "package bad-signature 5.2.0 %s" % hx(forged),
        ]
    return "\n".join(out) + "\n"


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else default_path()
    with open(path, "w", newline="\n") as f:
        f.write(render())


if __name__ == "__main__":
    main()
