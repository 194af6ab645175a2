"""qvpack publish lays out a root that a static web server serves as the
account server's package answers."""
import hashlib
import os
import subprocess

import pytest

import signhelper

QVPACK = os.path.join(os.environ.get("QV_BIN_DIR", "build/native/bin"), "qvpack")
SERVED = ("as", "wapi")


def run(*args):
    return subprocess.run([QVPACK, *args], capture_output=True, timeout=60)


def served(root, name):
    return root.joinpath(*SERVED, name)


@pytest.fixture
def folder(tmp_path):
    src = tmp_path / "client"
    (src / "bin").mkdir(parents=True)
    (src / "QVInstaller.exe").write_bytes(b"MZ installer " * 100)
    (src / "bin" / "core.dll").write_bytes(os.urandom(5000))
    return src


def test_publish_writes_package_size_answer_and_report_answer(folder, tmp_path):
    root = tmp_path / "www"
    r = run("publish", str(folder), str(root))
    assert r.returncode == 0, r.stderr
    package = served(root, "get_client")
    assert r.stdout.decode() == "2 members\npublished %s (%d bytes)\n" % (package, package.stat().st_size)
    # The package is exactly what "pack" makes of the folder.
    assert run("pack", str(folder), str(tmp_path / "p.pkg")).returncode == 0
    assert package.read_bytes() == (tmp_path / "p.pkg").read_bytes()
    assert served(root, "get_client_size").read_bytes() == b"<__ClientSize__>%d</__ClientSize__>" % package.stat().st_size
    assert served(root, "ssi").read_bytes() == b"OK"
    assert sorted(p.name for p in root.joinpath(*SERVED).iterdir()) == ["get_client", "get_client_size", "ssi"]
    assert sorted(p.name for p in root.iterdir()) == ["as"]


def test_republishing_moves_the_date_on_only_for_new_bytes(folder, tmp_path):
    root = tmp_path / "www"
    assert run("publish", "--level", "0", str(folder), str(root)).returncode == 0
    package = served(root, "get_client")
    first = package.read_bytes()
    before = package.stat().st_mtime_ns

    # The same folder again: the served file and its date stay.
    r = run("publish", "--level", "0", str(folder), str(root))
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode().endswith("unchanged %s (%d bytes)\n" % (package, len(first)))
    assert package.stat().st_mtime_ns == before

    # Same size, other bytes, within the same second: the date still moves a
    # whole second on, so the server's ETag and Last-Modified change.
    (folder / "bin" / "core.dll").write_bytes(os.urandom(5000))
    r = run("publish", "--level", "0", str(folder), str(root))
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode().endswith("published %s (%d bytes)\n" % (package, len(first)))
    assert package.read_bytes() != first and len(package.read_bytes()) == len(first)
    assert package.stat().st_mtime_ns >= before + 1_000_000_000
    assert sorted(p.name for p in root.joinpath(*SERVED).iterdir()) == ["get_client", "get_client_size", "ssi"]


def test_an_operators_report_answer_is_kept_and_the_size_follows_the_package(folder, tmp_path):
    root = tmp_path / "www"
    root.joinpath(*SERVED).mkdir(parents=True)
    served(root, "ssi").write_bytes(b"<__UserInput__>welcome</__UserInput__>")
    served(root, "get_client_size").write_bytes(b"<__ClientSize__>1</__ClientSize__>")
    assert run("publish", str(folder), str(root)).returncode == 0
    assert served(root, "ssi").read_bytes() == b"<__UserInput__>welcome</__UserInput__>"
    assert served(root, "get_client_size").read_bytes() == (
        b"<__ClientSize__>%d</__ClientSize__>" % served(root, "get_client").stat().st_size)


@pytest.mark.parametrize("args, status, message", [
    (["publish"], 2, b"usage: qvpack"),
    (["publish", "{folder}"], 2, b"usage: qvpack"),
    (["publish", "--level", "10", "{folder}", "{root}"], 2, b"usage: qvpack"),
    (["publish", "--level", "x", "{folder}", "{root}"], 2, b"usage: qvpack"),
    (["publish", "{missing}", "{root}"], 1, b"qvpack: not a folder: "),
    (["publish", "{empty}", "{root}"], 1, b" at the top of "),
    (["publish", "{folder}", "{blocked}"], 1, b"qvpack: cannot create "),
    (["publish", "--key", "{key}", "{folder}", "{root}"], 2, b"usage: qvpack"),
    (["publish", "--version", "5.2", "{folder}", "{root}"], 2, b"usage: qvpack"),
    (["publish", "--key", "{key}", "--key", "{key}", "--version", "5.2", "{folder}", "{root}"], 2, b"usage: qvpack"),
], ids=["nothing", "no-root", "level", "level-text", "missing", "no-installer", "root-is-a-file", "key-alone",
        "version-alone", "key-twice"])
def test_refusals_leave_nothing_behind(folder, tmp_path, args, status, message):
    (tmp_path / "empty").mkdir()
    (tmp_path / "empty" / "readme.txt").write_bytes(b"no installer here")
    (tmp_path / "blocked").write_bytes(b"a file")
    names = dict(folder=folder, root=tmp_path / "www", missing=tmp_path / "nope", empty=tmp_path / "empty",
                 blocked=tmp_path / "blocked", key=tmp_path / "key.pem")
    r = run(*[a.format(**names) for a in args])
    assert r.returncode == status
    assert message in r.stderr
    assert r.stdout == b""
    assert not (tmp_path / "www").exists()


def test_installer_name_is_found_in_any_case(tmp_path):
    src = tmp_path / "client"
    src.mkdir()
    (src / "qvinstaller.EXE").write_bytes(b"MZ")
    r = run("publish", str(src), str(tmp_path / "www"))
    assert r.returncode == 0, r.stderr


def test_publish_with_a_key_serves_the_signed_package(folder, tmp_path):
    keys = tmp_path / "keys"
    assert run("keygen", str(keys)).returncode == 0
    pem = keys / "signing-key.pem"
    root = tmp_path / "www"
    r = run("publish", "--level", "1", "--key", str(pem), "--version", "5.2.0", str(folder), str(root))
    assert r.returncode == 0, r.stderr
    package = served(root, "get_client")
    data = package.read_bytes()
    statement, signature, member, payload = signhelper.split_signed(data)
    # The signed payload is exactly what "pack" makes of the folder.
    assert run("pack", "--level", "1", str(folder), str(tmp_path / "p.pkg")).returncode == 0
    assert payload == (tmp_path / "p.pkg").read_bytes()
    raw = signhelper.raw_public_key(pem)
    assert signhelper.verify(raw, statement, signature)
    digest = hashlib.sha256(payload).hexdigest()
    assert statement.startswith(b"QVSIG1\nkey %s\nsha256 %s\nbytes %d\nversion 5.2.0\nsigned " % (
        raw[:8].hex().encode(), digest.encode(), len(payload)))
    assert r.stdout.decode() == "2 members\nsigned: key %s, version 5.2.0, %d bytes, sha256 %s\npublished %s (%d bytes)\n" % (
        raw[:8].hex(), len(payload), digest, package, len(data))
    assert served(root, "get_client_size").read_bytes() == b"<__ClientSize__>%d</__ClientSize__>" % len(data)
    assert run("verify", str(package), "--public", raw.hex(), "--version", "5.2.0").returncode == 0


def test_publish_with_a_key_it_cannot_use_serves_nothing(folder, tmp_path):
    root = tmp_path / "www"
    (tmp_path / "bad.pem").write_bytes(b"not a key")
    r = run("publish", "--key", str(tmp_path / "bad.pem"), "--version", "5.2", str(folder), str(root))
    assert r.returncode == 1
    assert r.stderr.startswith(b"qvpack: ")
    assert sorted(p.name for p in root.joinpath(*SERVED).iterdir()) == []
