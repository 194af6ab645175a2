"""Independent maker and reader of signed packages, for tests.

Written from the package and statement rules alone (not from the starter's
code); the cryptography is the openssl command's. A signed package leads
with a member ".qvsignature" whose zlib stream holds the statement

    QVSIG1\\nkey <16 hex>\\nsha256 <64 hex>\\nbytes <n>\\nversion <v>\\nsigned <t>\\n

followed by the ECDSA P-256 signature r || s (32 bytes each) over it. The key
id is the first 8 bytes of the raw public key X || Y.
"""
import hashlib
import os
import struct
import subprocess
import tempfile
import zlib

MEMBER = b".qvsignature"
# DER SubjectPublicKeyInfo of a P-256 key, up to the uncompressed point.
SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
CURVE_ORDER = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551


def openssl(*args, data=None):
    r = subprocess.run(["openssl", *args], input=data, capture_output=True, timeout=60)
    return r


def new_private_key(path):
    r = openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", str(path))
    assert r.returncode == 0, r.stderr


def raw_public_key(private_pem):
    """X || Y (64 bytes) of a private key file."""
    r = openssl("pkey", "-in", str(private_pem), "-pubout", "-outform", "DER")
    assert r.returncode == 0, r.stderr
    assert r.stdout.startswith(SPKI_PREFIX + b"\x04") and len(r.stdout) == len(SPKI_PREFIX) + 65
    return r.stdout[-64:]


def public_pem(raw):
    import base64
    der = SPKI_PREFIX + b"\x04" + raw
    return b"-----BEGIN PUBLIC KEY-----\n" + base64.encodebytes(der) + b"-----END PUBLIC KEY-----\n"


def der_to_raw(der):
    """DER ECDSA-Sig-Value -> r || s."""
    assert der[0] == 0x30
    pos = 2 if der[1] < 0x80 else 3
    out = b""
    for _ in range(2):
        assert der[pos] == 0x02
        n = der[pos + 1]
        value = der[pos + 2:pos + 2 + n]
        out += int.from_bytes(value, "big").to_bytes(32, "big")
        pos += 2 + n
    assert pos == len(der)
    return out


def raw_to_der(raw):
    def integer(b):
        b = b.lstrip(b"\0") or b"\0"
        if b[0] & 0x80:
            b = b"\0" + b
        return b"\x02" + bytes([len(b)]) + b
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


def sign(private_pem, message):
    r = openssl("dgst", "-sha256", "-sign", str(private_pem), data=message)
    assert r.returncode == 0, r.stderr
    return der_to_raw(r.stdout)


def verify(raw_key, message, raw_signature):
    """True when openssl accepts the signature."""
    with tempfile.TemporaryDirectory() as d:
        key, sig = os.path.join(d, "pub.pem"), os.path.join(d, "sig.der")
        with open(key, "wb") as f:
            f.write(public_pem(raw_key))
        with open(sig, "wb") as f:
            f.write(raw_to_der(raw_signature))
        r = openssl("dgst", "-sha256", "-verify", key, "-signature", sig, data=message)
        return r.returncode == 0


def record(name, payload, level=6):
    stream = zlib.compress(payload, level)
    return struct.pack("<I", len(name) + 1) + name + b"\0" + struct.pack("<IH", len(stream), 0) + stream


def statement(key_id, payload, version, signed_at):
    return b"QVSIG1\nkey %s\nsha256 %s\nbytes %d\nversion %s\nsigned %d\n" % (
        key_id.hex().encode(), hashlib.sha256(payload).hexdigest().encode(), len(payload), version.encode(),
        signed_at)


def signed_package(private_pem, payload, version, signed_at=1767225600):
    text = statement(raw_public_key(private_pem)[:8], payload, version, signed_at)
    return record(MEMBER, text + sign(private_pem, text), level=0) + payload


def split_signed(package):
    """(statement, signature, member bytes, payload) of a signed package."""
    (name_len,) = struct.unpack_from("<I", package, 0)
    assert package[4:4 + name_len] == MEMBER + b"\0"
    data_len, mask = struct.unpack_from("<IH", package, 4 + name_len)
    start = 4 + name_len + 6
    d = zlib.decompressobj()
    content = d.decompress(package[start:start + data_len])
    assert d.eof and d.unused_data == b"" and mask == 0
    end = start + data_len
    return content[:-64], content[-64:], package[:end], package[end:]
