"""The vectors the Windows tests check CNG and the package checker against
hold what hashlib and openssl say, and qvpack verify (OpenSSL) agrees with
every package verdict in them."""
import hashlib
import os
import subprocess

import make_signature_vectors
import signhelper

QVPACK = os.path.join(os.environ.get("QV_BIN_DIR", "build/native/bin"), "qvpack")


def load():
    keys, lines = {}, []
    with open(make_signature_vectors.default_path()) as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.split()
            if fields[0] == "key":
                keys[fields[1]] = bytes.fromhex(fields[2])
            else:
                lines.append(fields)
    return keys, lines


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


def test_digests_are_hashlibs():
    _, lines = load()
    sha = [f for f in lines if f[0] == "sha256"]
    assert {len(unhex(f[1])) for f in sha} >= {0, 55, 56, 63, 64, 65}
    for f in sha:
        assert hashlib.sha256(unhex(f[1])).hexdigest() == f[2]
    (repeat,) = [f for f in lines if f[0] == "sha256-repeat"]
    assert hashlib.sha256(bytes.fromhex(repeat[1]) * int(repeat[2])).hexdigest() == repeat[3]


def test_signature_verdicts_are_openssls():
    keys, lines = load()
    verdicts = []
    for _, key, message, signature, verdict in (f for f in lines if f[0] == "ecdsa"):
        accepted = signhelper.verify(keys[key], unhex(message), bytes.fromhex(signature))
        assert accepted == (verdict == "valid"), (key, verdict, signature)
        verdicts.append(verdict)
    assert verdicts.count("valid") == 4 and verdicts.count("invalid") == 6 and verdicts.count("key-rejected") == 1


def independent_verdict(keys, package, version):
    """The checks in their order, written from the format alone."""
    if not package:
        return "empty"
    if not package.startswith(b"\x0d\0\0\0" + signhelper.MEMBER + b"\0"):
        return "unsigned"
    text, signature, _, payload = signhelper.split_signed(package)
    fields = dict(line.split(b" ", 1) for line in text.splitlines()[1:])
    candidates = [k for k in (keys["current"], keys["next"]) if k[:8].hex().encode() == fields[b"key"]]
    if not candidates:
        return "unknown-key"
    if not any(signhelper.verify(k, text, signature) for k in candidates):
        return "bad-signature"
    if int(fields[b"bytes"]) != len(payload):
        return "byte-count"
    if fields[b"sha256"] != hashlib.sha256(payload).hexdigest().encode():
        return "sha256"
    if version != "-" and fields[b"version"] != version.encode():
        return "version"
    return "ok"


QVPACK_REFUSALS = {
    "empty": "the package is empty",
    "unsigned": "the package is not signed (its first member is not .qvsignature)",
    "unknown-key": "the package is signed with key ",
    "bad-signature": "the signature does not match the statement",
    "byte-count": "byte count mismatch: ",
    "sha256": "hash mismatch: signed ",
    "version": "version mismatch: signed 5.1.0, requested 5.2.0",
}


def test_package_verdicts_hold_and_qvpack_agrees(tmp_path):
    keys, lines = load()
    packages = [f for f in lines if f[0] == "package"]
    assert {f[1] for f in packages} == set(QVPACK_REFUSALS) | {"ok"}
    trusted = "%s,%s" % (keys["current"].hex(), keys["next"].hex())
    for i, (_, verdict, version, data) in enumerate(packages):
        package = unhex(data)
        assert independent_verdict(keys, package, version) == verdict, (i, verdict)
        path = tmp_path / ("p%d.pkg" % i)
        path.write_bytes(package)
        args = [QVPACK, "verify", str(path), "--public", trusted]
        if version != "-":
            args += ["--version", version]
        r = subprocess.run(args, capture_output=True, timeout=60)
        if verdict == "ok":
            assert r.returncode == 0 and r.stdout.startswith(b"signature verified: key "), r.stderr
        else:
            assert r.returncode == 1, (verdict, r.stdout)
            assert r.stderr.decode().startswith("qvpack: refused: " + QVPACK_REFUSALS[verdict]), r.stderr
