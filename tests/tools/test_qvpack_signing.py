"""qvpack keygen, sign and verify, checked with an independent reader and openssl."""
import hashlib
import os
import stat
import subprocess
import time

import pytest

import signhelper

QVPACK = os.path.join(os.environ.get("QV_BIN_DIR", "build/native/bin"), "qvpack")


def run(*args):
    return subprocess.run([QVPACK, *[str(a) for a in args]], capture_output=True, timeout=60)


@pytest.fixture
def keys(tmp_path):
    """Two key pairs made by qvpack keygen: (private path, public hex) each."""
    out = []
    for name in ("current", "next"):
        r = run("keygen", tmp_path / "keys" / name)
        assert r.returncode == 0, r.stderr
        folder = tmp_path / "keys" / name
        out.append((folder / "signing-key.pem", (folder / "signing-key.pub").read_text().strip()))
    return out


@pytest.fixture
def package(tmp_path):
    payload = signhelper.record(b"QVInstaller.exe", b"MZ" + os.urandom(20000)) + signhelper.record(b"a\\b.txt", b"b")
    path = tmp_path / "PCClient.pkg"
    path.write_bytes(payload)
    return path, payload


def test_keygen_writes_an_owner_only_private_key_and_the_raw_public_key(tmp_path):
    folder = tmp_path / "fresh" / "keys"
    r = run("keygen", folder)
    assert r.returncode == 0, r.stderr
    pem, pub = folder / "signing-key.pem", folder / "signing-key.pub"
    raw = signhelper.raw_public_key(pem)  # openssl reads the key back
    assert pub.read_text() == raw.hex() + "\n"
    assert r.stdout.decode() == (
        "private key: %s\npublic key: %s\nkey id: %s\nQV_PACKAGE_PUBLIC_KEYS=%s\n" % (pem, pub, raw[:8].hex(), raw.hex()))
    assert stat.S_IMODE(os.stat(pem).st_mode) == 0o600
    assert stat.S_IMODE(os.stat(folder).st_mode) == 0o700
    assert b"PRIVATE KEY" in pem.read_bytes()
    # never over an existing key
    before = pem.read_bytes()
    again = run("keygen", folder)
    assert again.returncode == 1
    assert again.stderr.decode() == "qvpack: %s exists; a key is never overwritten\n" % pem
    assert pem.read_bytes() == before and pub.read_text() == raw.hex() + "\n"


def test_sign_puts_the_statement_first_and_keeps_the_package(keys, package):
    (pem, public), _ = keys
    path, payload = package
    t0 = int(time.time())
    r = run("sign", path, "--key", pem, "--version", "5.1.0")
    t1 = int(time.time())
    assert r.returncode == 0, r.stderr
    digest = hashlib.sha256(payload).hexdigest()
    assert r.stdout.decode() == "signed %s: key %s, version 5.1.0, %d bytes, sha256 %s\n" % (
        path, public[:16], len(payload), digest)
    text, signature, member, rest = signhelper.split_signed(path.read_bytes())
    assert rest == payload
    lines = text.decode().split("\n")
    assert lines[:5] == ["QVSIG1", "key " + public[:16], "sha256 " + digest, "bytes %d" % len(payload),
                         "version 5.1.0"]
    assert lines[6:] == [""] and t0 <= int(lines[5][len("signed "):]) <= t1
    assert lines[5] == "signed %d" % int(lines[5][7:])
    assert signhelper.verify(bytes.fromhex(public), text, signature)
    # stored, not compressed: the statement is readable in the file
    assert text in member
    assert not os.path.exists(str(path) + ".tmp")


def test_sign_again_replaces_the_signature(keys, package):
    (pem1, _), (pem2, public2) = keys
    path, payload = package
    assert run("sign", path, "--key", pem1, "--version", "5.1.0").returncode == 0
    r = run("sign", path, "--key", pem2, "--version", "5.2.0")
    assert r.returncode == 0, r.stderr
    text, signature, _, rest = signhelper.split_signed(path.read_bytes())
    assert rest == payload
    assert b"\nversion 5.2.0\n" in text and text.count(b"QVSIG1") == 1
    assert signhelper.verify(bytes.fromhex(public2), text, signature)


def test_verify_accepts_what_openssl_signed(keys, package, tmp_path):
    """A package signed by openssl and the independent writer, checked by qvpack."""
    (pem, public), (_, public2) = keys
    _, payload = package
    signed = tmp_path / "by-openssl.pkg"
    signed.write_bytes(signhelper.signed_package(pem, payload, "5.1.0", signed_at=1767225600))
    r = run("verify", signed, "--public", "%s,%s" % (public2, public), "--version", "5.1.0")
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode() == (
        "signature verified: key %s, version 5.1.0, %d bytes, signed at 1767225600 (2026-01-01 00:00:00 UTC)\n"
        % (public[:16], len(payload)))


def test_verify_refuses_tampering_other_keys_and_other_versions(keys, package, tmp_path):
    (pem1, public1), (pem2, public2) = keys
    path, payload = package
    assert run("sign", path, "--key", pem1, "--version", "5.1.0").returncode == 0
    signed = path.read_bytes()
    member_length = len(signed) - len(payload)

    tampered = bytearray(signed)
    tampered[member_length + 100] ^= 0x01
    (tmp_path / "tampered.pkg").write_bytes(bytes(tampered))
    (tmp_path / "unsigned.pkg").write_bytes(payload)
    (tmp_path / "cut.pkg").write_bytes(signed[:-1])
    text, signature, _, rest = signhelper.split_signed(signed)
    forged = signhelper.record(signhelper.MEMBER, text.replace(b"5.1.0", b"5.2.0") + signature, level=0) + rest
    (tmp_path / "forged.pkg").write_bytes(forged)
    # the same edit inside the stored stream breaks its Adler-32
    (tmp_path / "edited.pkg").write_bytes(signed.replace(b"\nversion 5.1.0\n", b"\nversion 5.2.0\n", 1))
    cases = [
        ("tampered.pkg", public1, "5.1.0", "hash mismatch: signed %s, received %s" % (
            hashlib.sha256(payload).hexdigest(), hashlib.sha256(bytes(tampered[member_length:])).hexdigest())),
        ("PCClient.pkg", public2, "5.1.0",
         "the package is signed with key %s, which this build does not trust" % public1[:16]),
        ("PCClient.pkg", public1, "5.2.0", "version mismatch: signed 5.1.0, requested 5.2.0"),
        ("unsigned.pkg", public1, "5.1.0", "the package is not signed (its first member is not .qvsignature)"),
        ("cut.pkg", public1, "5.1.0", "byte count mismatch: signed %d, received %d" % (len(payload), len(payload) - 1)),
        ("forged.pkg", public1, "5.2.0", "the signature does not match the statement (key %s)" % public1[:16]),
        ("edited.pkg", public1, "5.2.0", "the signature member is damaged"),
    ]
    for name, public, version, why in cases:
        r = run("verify", tmp_path / name, "--public", public, "--version", version)
        assert (r.returncode, r.stdout, r.stderr.decode()) == (1, b"", "qvpack: refused: %s\n" % why), name
    # without --version any version passes
    assert run("verify", path, "--public", public1).returncode == 0


def test_sign_refuses_what_it_cannot_sign_soundly(keys, package, tmp_path):
    (pem, _), _ = keys
    path, payload = package
    later = tmp_path / "later.pkg"
    later.write_bytes(payload + signhelper.record(signhelper.MEMBER, b"x"))
    damaged = tmp_path / "damaged.pkg"
    damaged.write_bytes(payload[:-3])
    empty = tmp_path / "empty.pkg"
    empty.write_bytes(b"")
    rsa = tmp_path / "rsa.pem"
    assert signhelper.openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024",
                              "-out", str(rsa)).returncode == 0
    p384 = tmp_path / "p384.pem"
    assert signhelper.openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384",
                              "-out", str(p384)).returncode == 0
    cases = [
        ((later, "--key", pem, "--version", "5.1"), 1,
         "qvpack: %s holds a member named .qvsignature that is not its first\n" % later),
        ((empty, "--key", pem, "--version", "5.1"), 1, "qvpack: %s has no member to sign\n" % empty),
        ((path, "--key", rsa, "--version", "5.1"), 1, "qvpack: %s is not an ECDSA P-256 key\n" % rsa),
        ((path, "--key", p384, "--version", "5.1"), 1, "qvpack: %s is not an ECDSA P-256 key\n" % p384),
        ((path, "--key", tmp_path / "none.pem", "--version", "5.1"), 1,
         "qvpack: cannot open %s: No such file or directory\n" % (tmp_path / "none.pem")),
        ((path, "--key", pem, "--version", "5.1 beta"), 2,
         "qvpack: --version: 1 to 63 printable characters without blanks: 5.1 beta\n"),
    ]
    for args, status, message in cases:
        r = run("sign", *args)
        assert (r.returncode, r.stderr.decode()) == (status, message), args
    r = run("sign", damaged, "--key", pem, "--version", "5.1")
    assert r.returncode == 1 and r.stderr.decode().startswith("qvpack: %s is not a whole package: " % damaged)
    # nothing was changed or left behind
    assert path.read_bytes() == payload and damaged.read_bytes() == payload[:-3]
    assert sorted(p.name for p in tmp_path.iterdir() if p.name.endswith(".tmp")) == []


@pytest.mark.parametrize("args", [
    ["sign", "x.pkg", "--key", "k.pem"],
    ["sign", "x.pkg", "--version", "5.1"],
    ["sign", "x.pkg", "--key", "k.pem", "--version", "5.1", "--key", "k.pem"],
    ["verify", "x.pkg"],
    ["verify", "x.pkg", "--public"],
    ["keygen"],
    ["keygen", "--help"],
])
def test_usage(args, tmp_path):
    r = subprocess.run([QVPACK, *args], capture_output=True, timeout=60, cwd=tmp_path)
    assert r.returncode == 2 and r.stderr.startswith(b"usage: qvpack keygen <folder>\n")
    assert list(tmp_path.iterdir()) == []


def test_verify_refuses_a_malformed_public_key(package):
    path, _ = package
    r = run("verify", path, "--public", "abcd")
    assert (r.returncode, r.stderr) == (2, b"qvpack: --public: not a public key of 128 hex digits: abcd\n")
