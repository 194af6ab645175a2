"""qvcfg masks a settings text into starter.cfg and back; the masked form is
checked against the independent link helper's masking."""
import base64
import os
import subprocess

import linkhelper

QVCFG = os.path.join(os.environ.get("QV_BIN_DIR", ""), "qvcfg")
SETTINGS = "<__AccountServerIP__>127.0.0.2</__AccountServerIP__><__Role__>host</__Role__>" \
           "<__AttendeeName__>Z\u00fc</__AttendeeName__>"


def run(*args, stdin=None):
    return subprocess.run([QVCFG] + list(args), input=stdin, capture_output=True)


def test_mask_and_unmask(tmp_path):
    plain = tmp_path / "settings.txt"
    plain.write_bytes(SETTINGS.encode())
    cfg = tmp_path / "starter.cfg"
    assert run("mask", str(plain), str(cfg)).returncode == 0
    assert cfg.read_bytes() == base64.b64encode(linkhelper.mask(SETTINGS.encode(), "M"))
    back = tmp_path / "back.txt"
    assert run("unmask", str(cfg), str(back)).returncode == 0
    assert back.read_bytes() == SETTINGS.encode()
    assert run("unmask", str(cfg), "-").stdout == SETTINGS.encode()


def test_refusals(tmp_path):
    plain = tmp_path / "settings.txt"
    plain.write_bytes(b"<__Role__>" + b"x" * 4086)
    result = run("mask", str(plain), str(tmp_path / "starter.cfg"))
    assert result.returncode == 2
    assert b"4096 bytes; the starter takes at most 4095" in result.stderr
    assert not (tmp_path / "starter.cfg").exists()
    assert run("mask", str(tmp_path / "missing.txt"), "-").returncode == 2
    assert run("scramble", str(plain), "-").returncode == 2


def test_note_without_role(tmp_path):
    result = run("mask", "-", "-", stdin=b"<__Version__>1</__Version__>")
    assert result.returncode == 0
    assert b"no <__Role__> element" in result.stderr
