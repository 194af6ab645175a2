"""qvpack makes archives that an independent reader takes apart byte for byte."""
import os
import struct
import subprocess
import zlib

import pytest

QVPACK = os.path.join(os.environ.get("QV_BIN_DIR", "build/native/bin"), "qvpack")


def read_archive(data):
    """Independent reader of the package format: (name, mask, raw stream) per record."""
    out, pos = [], 0
    while pos < len(data):
        (name_len,) = struct.unpack_from("<I", data, pos)
        pos += 4
        name = data[pos:pos + name_len]
        pos += name_len
        data_len, mask = struct.unpack_from("<IH", data, pos)
        pos += 6
        out.append((name, mask, data[pos:pos + data_len]))
        pos += data_len
    assert pos == len(data)
    return out


def run(*args, cwd=None):
    return subprocess.run([QVPACK, *args], capture_output=True, cwd=cwd, timeout=60)


@pytest.fixture
def folder(tmp_path):
    src = tmp_path / "client"
    (src / "bin" / "plugins").mkdir(parents=True)
    (src / "QVInstaller.exe").write_bytes(b"MZ\x90\x00" + os.urandom(10000))
    (src / "bin" / "plugins" / "codec.dll").write_bytes(b"text " * 3000)
    (src / "empty.txt").write_bytes(b"")
    (src / "Gr\u00fc\u00dfe.txt").write_bytes(b"hi\r\n")
    return src


def test_pack_writes_backslash_names_and_one_zlib_stream_each(folder, tmp_path):
    archive = tmp_path / "PCClient.zip"
    r = run("pack", str(folder), str(archive))
    assert r.returncode == 0, r.stderr
    assert r.stdout == b"4 members\n"
    records = read_archive(archive.read_bytes())
    names = [n for n, _, _ in records]
    assert names == [b"Gr\xc3\xbc\xc3\x9fe.txt\0", b"QVInstaller.exe\0", b"bin\\plugins\\codec.dll\0", b"empty.txt\0"]
    for name, mask, stream in records:
        rel = name[:-1].decode().replace("\\", os.sep)
        d = zlib.decompressobj()
        assert d.decompress(stream) == (folder / rel).read_bytes()
        assert d.eof and d.unused_data == b""
        assert stream[0] == 0x78 and mask == 0
    assert not (tmp_path / "PCClient.zip.tmp").exists()


def test_list_and_check(folder, tmp_path):
    archive = tmp_path / "p.zip"
    assert run("pack", str(folder), str(archive)).returncode == 0
    records = read_archive(archive.read_bytes())
    r = run("list", str(archive))
    assert r.returncode == 0
    expected = "".join("%s\t%d\t0\n" % (n[:-1].decode(), len(s)) for n, _, s in records)
    assert r.stdout.decode() == expected

    before = sorted(os.listdir(tmp_path))
    r = run("check", str(archive), cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.decode().splitlines()
    assert lines[-1] == "complete: 4 members written, 0 refused"
    assert "ok\tbin\\plugins\\codec.dll\t15000" in lines
    assert sorted(os.listdir(tmp_path)) == before


def record(name, payload, compress=True):
    stream = zlib.compress(payload) if compress else payload
    return struct.pack("<I", len(name) + 1) + name + b"\0" + struct.pack("<IH", len(stream), 0) + stream


@pytest.mark.parametrize("tail, line, status", [
    (record(b"..\\..\\evil.txt", b"x"), "refused\t..\\..\\evil.txt", "complete: 1 members written, 1 refused"),
    (record(b"bad.bin", b"not a stream", compress=False), "damaged\tbad.bin", "damaged: 1 members written, 0 refused"),
    (struct.pack("<I", 0), None, "damaged: 1 members written, 0 refused"),
])
def test_check_reports_damage_and_refused_names_without_writing(tmp_path, tail, line, status):
    archive = tmp_path / "a.zip"
    archive.write_bytes(record(b"good.txt", b"good") + tail)
    r = run("check", str(archive), cwd=tmp_path)
    assert r.returncode == 1
    lines = r.stdout.decode().splitlines()
    assert lines[0] == "ok\tgood.txt\t4"
    if line:
        assert lines[1] == line
    assert lines[-1] == status
    assert os.listdir(tmp_path) == ["a.zip"]
    assert not os.path.exists("/evil.txt") and not (tmp_path.parent / "evil.txt").exists()


def test_list_stops_at_a_cut_member(tmp_path):
    archive = tmp_path / "a.zip"
    archive.write_bytes(record(b"a", b"a" * 100)[:-3])
    r = run("list", str(archive))
    assert r.returncode == 1
    assert b"member data runs past the end of the archive" in r.stderr


def test_pack_refuses_names_the_starter_would_refuse(tmp_path):
    src = tmp_path / "c"
    src.mkdir()
    (src / "x:y").write_bytes(b"1")
    r = run("pack", str(src), str(tmp_path / "o.zip"))
    assert r.returncode == 1
    assert b"name not allowed in a package (drive or stream name): x:y" in r.stderr
    assert not (tmp_path / "o.zip").exists() and not (tmp_path / "o.zip.tmp").exists()
