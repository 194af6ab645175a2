"""The test build of the starter downloads, unpacks and prepares the client
package from the local account server, and unpacks delivered packages."""

import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

import harness

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402

NATIVE_BIN = harness.SOURCE_DIR / "build" / "native" / "bin"
QVPACK = Path(os.environ.get("QV_QVPACK", NATIVE_BIN / "qvpack"))
QVCFG = Path(os.environ.get("QV_QVCFG", NATIVE_BIN / "qvcfg"))

pytestmark = pytest.mark.skipif(not QVPACK.exists(), reason="needs the native qvpack (build preset native)")


def make_client(folder, extra=b""):
    files = {
        "QVInstaller.exe": b"MZ installer" + extra,
        "bin\\core.dll": os.urandom(70000),
        "bin\\plugins\\text.cfg": b"line\n" * 5000,
        "empty.txt": b"",
    }
    for name, data in files.items():
        p = folder / name.replace("\\", "/")
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)
    return files


def pack(folder, archive):
    subprocess.run([str(QVPACK), "pack", str(folder), str(archive)], check=True, stdout=subprocess.DEVNULL,
                   timeout=60)
    return archive.read_bytes()


def settings(address, port):
    return ("<__AccountServerIP__>%s</__AccountServerIP__><__AccountServerPort__>%d</__AccountServerPort__>"
            "<__ClientName__>Quorumvessel</__ClientName__><__Version__>9.9.9</__Version__>" % (address, port))


def start_starter(prefix, files, env=None):
    exe = prefix.install_program(harness.TEST_STARTER, "starter")
    for name, data in files.items():
        (exe.parent / name).write_bytes(data)
    return subprocess.Popen(["wine", str(exe)], cwd=str(exe.parent), env=prefix.env(env),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)


def wait_for_line(prefix, text, timeout=120):
    ok = harness.wait_for(lambda: any(text in m for m in prefix.run_log_messages()), timeout=timeout)
    assert ok, "no %r in the run log:\n%s" % (text, "\n".join(prefix.run_log_messages()))


def assert_unpacked(folder, files):
    for name, data in files.items():
        assert (folder / name.replace("\\", "/")).read_bytes() == data, name


@pytest.fixture
def client(tmp_path):
    folder = tmp_path / "client"
    files = make_client(folder)
    return files, pack(folder, tmp_path / "PCClient.zip")


def run_download(prefix, srv, env=None):
    proc = start_starter(prefix, {"starter.txt": settings(*srv.listeners()[0][:2]).encode()}, env)
    try:
        wait_for_line(prefix, "Uncompress ")
    finally:
        prefix.stop()
        proc.wait(timeout=60)
    return prefix.run_log_messages()


def test_download_unpacks_the_package(wine_prefix, client):
    files, package = client
    with AccountServer([("127.0.0.41", 8889)], package=package) as srv:
        msgs = run_download(wine_prefix, srv)
        size_reqs = srv.requests_for("/as/wapi/get_client_size")
        pkg_reqs = srv.requests_for("/as/wapi/get_client")
    assert "sTempURL = /as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc" in msgs
    assert "iDownloadSize = %d" % len(package) in msgs
    assert ("Download is completed: iExpectedDownloadSize = %d, actual received = %d"
            % (len(package), len(package))) in msgs
    assert size_reqs[0].params["client_type"] == "0" and size_reqs[0].params["xml_format"] == "Y"
    assert size_reqs[0].params["client"] == "pc"
    assert len(pkg_reqs) == 1 and pkg_reqs[0].params["client"] == "pc"
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    assert_unpacked(setup, files)
    assert (setup / "QVLauncher.exe").read_bytes() == files["QVInstaller.exe"]
    assert not (wine_prefix.temp_dir / "PCClient.zip").exists()


@pytest.mark.parametrize("fault, env, line", [
    ({"drop_after": 5000}, None, "Filed to complete download: iExpectedDownloadSize = %d, actual received = "),
    ({"stall": 30}, {"QV_TEST_DOWNLOAD_TIMEOUT": "3"}, "Download experiences timeout"),
    ({"short": True}, None, "Filed to complete download: iExpectedDownloadSize = %d, actual received = "),
], ids=["dropped", "stalled", "one-byte-short"])
def test_failed_attempt_is_retried_and_never_leaves_a_damaged_file(wine_prefix, client, fault, env, line):
    files, package = client
    if "%d" in line:
        line = line % len(package)
    with AccountServer([("127.0.0.42", 8889)], package=package) as srv:
        if fault.get("short"):
            srv.set_fault(path="/as/wapi/get_client", body=package[:-1])
        else:
            srv.set_fault(path="/as/wapi/get_client", **fault)
        proc = start_starter(wine_prefix, {"starter.txt": settings("127.0.0.42", 8889).encode()}, env)
        try:
            # Every request of the first attempt fails (the page request has
            # fallbacks of its own); the attempt after it gets the package.
            wait_for_line(wine_prefix, line)
            srv.clear()
            wait_for_line(wine_prefix, "Uncompress ")
        finally:
            wine_prefix.stop()
            proc.wait(timeout=60)
    msgs = wine_prefix.run_log_messages()
    assert "Download is incomplete" not in " ".join(msgs)  # the window text is no log line
    failed = [m for m in msgs if m.startswith("Filed to complete download") or m == "Download experiences timeout"]
    assert failed and failed[0].startswith(line)
    if fault.get("short"):
        assert failed[0] != "Filed to complete download: iExpectedDownloadSize = %d, actual received = %d" % (
            len(package), len(package))
    done = [m for m in msgs if m.startswith("Download is completed")]
    assert done == ["Download is completed: iExpectedDownloadSize = %d, actual received = %d"
                    % (len(package), len(package))]
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    assert_unpacked(setup, files)
    assert not list(setup.rglob("*.qvpart"))


@pytest.mark.skipif(not QVCFG.exists(), reason="needs the native qvcfg")
def test_delivered_packages_are_unpacked_beside_the_starter(wine_prefix, tmp_path):
    client_dir, accessory_dir = tmp_path / "c", tmp_path / "a"
    files = make_client(client_dir)
    accessory = {"tool.exe": b"MZ tool", "res\\a.txt": b"accessory"}
    for name, data in accessory.items():
        p = accessory_dir / name.replace("\\", "/")
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)
    plain = tmp_path / "settings.txt"
    plain.write_text(settings("127.0.0.43", 8889))
    subprocess.run([str(QVCFG), "mask", str(plain), str(tmp_path / "starter.cfg")], check=True, timeout=60)
    proc = start_starter(wine_prefix, {
        "starter.cfg": (tmp_path / "starter.cfg").read_bytes(),
        "PCClient": pack(client_dir, tmp_path / "p1"),
        "PCClientAccessory": pack(accessory_dir, tmp_path / "p2"),
    })
    try:
        wait_for_line(wine_prefix, "Uncompress ")
    finally:
        wine_prefix.stop()
        proc.wait(timeout=60)
    starter = wine_prefix.drive_c / "starter"
    setup = starter / "qv_starter_dir"
    assert_unpacked(setup, files)
    assert_unpacked(setup / "Accessory", accessory)
    assert (setup / "WorkingDirectory.txt").read_bytes() == \
        b"<__WorkingDirectory__>C:\\starter\\Quorumvessel</__WorkingDirectory__>\r\n"
    assert not (starter / "PCClient").exists() and not (starter / "PCClientAccessory").exists()
    assert "Download is not needed" in wine_prefix.run_log_messages()
