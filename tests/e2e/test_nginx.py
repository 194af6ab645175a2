"""The keyed test build of the starter downloads, verifies, unpacks and
installs the client package from nginx configured as in deploy/nginx, with
the root written by qvpack publish signing with the current test key: over
plain HTTP and over HTTPS with a self-signed certificate. A transfer broken on
the way resumes with a range (and the signature still covers every byte), and
a package replaced between attempts is fetched anew and verified as the new
one."""

import os
import re
import subprocess
import sys

import pytest

import harness
from packagekit import (KEYED_STARTER, QVPACK, assert_unpacked, make_client, read_trace, run_until, settings,
                        signature_files, signing_key, verified_line, write_files)

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from nginxserver import CuttingRelay, NginxServer  # noqa: E402

# The starter shows its window: without a display it would not get going.
pytestmark = [
    pytest.mark.usefixtures("display"),
    pytest.mark.skipif(not QVPACK.exists(), reason="needs the native qvpack (build preset native)"),
]

# Loopback address of this file's servers (other test files use others).
ADDRESS = "127.0.73.2"  # 127.0.72.x belongs to the hostile-link tests; a keyed build's server
VERSION = "9.9.9"
SID = "S-4711"
SIZE_LINE = re.compile(r"GET /as/wapi/get_client_size\?client_type=0&xml_format=Y&client=pc"
                       r"&myrand11262017=[0-9A-Za-z]+&rdm=[0-9]+ HTTP/1\.1")
PACKAGE_LINE = re.compile(r"GET /as/wapi/get_client\?client_type=0&client=pc"
                          r"&myrand11262017=[0-9A-Za-z]+&rdm=[0-9]+ HTTP/1\.1")
REPORT_LINE = re.compile(r"GET /as/wapi/ssi\?sid=%s&myrand11262017=[0-9A-Za-z]+&rdm=[0-9]+ HTTP/1\.1" % SID)
STARTED = "StartProcess(sStartProcess"
SUMMARY = re.compile(r"^Setup Quorumvessel \.\.\.\\n\\nSummary - average speed: \d+ kbps, total time: \d+ seconds$")


def publish(folder, root):
    """Packs without compression, so a client of the same file sizes makes a
    package of the same size (the signature member has a fixed size), and
    signs it with the current key."""
    subprocess.run([str(QVPACK), "publish", "--level", "0", "--key", str(signing_key()), "--version", VERSION,
                    str(folder), str(root)], check=True, stdout=subprocess.DEVNULL, timeout=60)
    return (root / "as" / "wapi" / "get_client").read_bytes()


def run_starter(prefix, port, trace, line=STARTED):
    """Runs the keyed test build with settings for ADDRESS:port (and a sid, so
    the installation report is sent too) until the run log shows line."""
    config = (settings(ADDRESS, port, VERSION) + "<__StarterSid__>%s</__StarterSid__>" % SID).encode()
    return run_until(prefix, {"starter.txt": config}, line, {"QV_TEST_WINDOW_TRACE": prefix.to_windows(trace)},
                     starter=KEYED_STARTER)


def assert_verified(prefix, msgs, package):
    """The starter verified exactly this package and wrote no signature
    member anywhere."""
    archive = prefix.to_windows(prefix.temp_dir) + "\\PCClient.zip"
    assert [m for m in msgs if "signature verified" in m] == [verified_line(archive, package, VERSION)]
    assert signature_files(prefix) == []


@pytest.fixture
def client(tmp_path):
    folder = tmp_path / "client"
    files = make_client(folder)
    return folder, files, publish(folder, tmp_path / "www")


@pytest.mark.parametrize("port, scheme", [(8889, "http"), (443, "https")])
def test_download_and_install_from_nginx(wine_prefix, client, tmp_path, port, scheme):
    _, files, package = client
    trace = tmp_path / "window.txt"
    with NginxServer(tmp_path / "nginx", tmp_path / "www", ADDRESS, port=8889, http_port=80, https_port=443) as nginx:
        msgs = run_starter(wine_prefix, port, trace)
        logged = nginx.wait_for_requests(3)
    assert ("Download is completed: iExpectedDownloadSize = %d, actual received = %d"
            % (len(package), len(package))) in msgs
    assert "sURL = /as/wapi/ssi?sid=%s, sReturn = OK" % SID in [re.sub(r"&myrand11262017=\w+", "", m) for m in msgs]
    # Exactly three requests, all to the port of the settings: the size, the
    # package in one piece, the report.
    assert len(logged) == 3, logged
    for entry, pattern in zip(logged, (SIZE_LINE, PACKAGE_LINE, REPORT_LINE)):
        assert pattern.fullmatch(entry.request), entry.request
        assert (entry.scheme, entry.port, entry.status, entry.range, entry.if_range) == (scheme, port, 200, "", "")
    assert [e.body_bytes_sent for e in logged] == [len(b"<__ClientSize__>%d</__ClientSize__>" % len(package)),
                                                   len(package), len(b"OK")]
    assert logged[1].completed
    assert_verified(wine_prefix, msgs, package)
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    assert_unpacked(setup, files)
    assert (setup / "QVLauncher.exe").read_bytes() == files["QVInstaller.exe"]
    assert SUMMARY.match(read_trace(trace)[-1][1]), read_trace(trace)[-1]


def percents(posted):
    """The percentages the window was told, in order."""
    return [int(text.split(",")[0]) for number, text in posted if number == "6041"]


@pytest.mark.parametrize("replace", [False, True], ids=["resumed", "replaced"])
def test_broken_transfer_resumes_or_starts_over_for_a_new_package(wine_prefix, client, tmp_path, replace):
    """The package reply is cut in the middle. The next request asks for the
    rest (Range from the bytes received, If-Range with the ETag of the cut
    reply): nginx answers 206 with the rest, or, when the package was
    published anew in between, 200 with the whole new package (of the same
    size: the starter keeps the size it was told), and the new files are
    unpacked."""
    folder, files, package = client
    new_files = {name: (os.urandom(len(data)) if name.endswith(".dll") else data) for name, data in files.items()}
    cut = len(package) // 2
    trace = tmp_path / "window.txt"

    published = [package]

    def republish():
        write_files(folder, new_files)
        published.append(publish(folder, tmp_path / "www"))
        assert len(published[-1]) == len(package)

    # The starter asks the relay on the settings' port; nginx listens behind it.
    with NginxServer(tmp_path / "nginx", tmp_path / "www", ADDRESS, port=18889, http_port=80, https_port=443) as nginx, \
            CuttingRelay(ADDRESS, 8889, (ADDRESS, 18889), "/as/wapi/get_client", cut,
                         on_cut=republish if replace else None) as relay:
        msgs = run_starter(wine_prefix, 8889, trace)
        logged = nginx.wait_for_requests(4)
    assert [c["body_passed"] for c in relay.cuts] == [cut]
    fetched = [e for e in logged if e.path == "/as/wapi/get_client"]
    assert len(fetched) == 2, fetched
    first, second = fetched
    assert PACKAGE_LINE.fullmatch(first.request) and PACKAGE_LINE.fullmatch(second.request)
    assert (first.status, first.range, first.if_range) == (200, "", "")
    assert (second.range, second.if_range) == ("bytes=%d-" % cut, first.etag)
    if replace:
        assert second.etag != first.etag
        assert (second.status, second.body_bytes_sent, second.content_range) == (200, len(package), "")
    else:
        assert second.etag == first.etag
        assert (second.status, second.body_bytes_sent, second.content_range) == (
            206, len(package) - cut, "bytes %d-%d/%d" % (cut, len(package) - 1, len(package)))
    done = [m for m in msgs if m.startswith("Download is completed")]
    assert done == ["Download is completed: iExpectedDownloadSize = %d, actual received = %d"
                    % (len(package), len(package))]
    # Hashed across the two replies (or anew for the new package).
    assert_verified(wine_prefix, msgs, published[-1])
    # The window announces the second attempt; a resumed one's percentage
    # goes on from where the cut left it.
    posted = read_trace(trace)
    announced = [i for i, entry in enumerate(posted) if entry == ("6040", "Downloading Quorumvessel ...")]
    assert len(announced) == 2, posted
    if not replace:
        assert percents(posted) == sorted(percents(posted))
        assert all(p >= cut * 100 // len(package) for p in percents(posted[announced[1]:]))
    assert_unpacked(wine_prefix.temp_dir / "qv_starter_dir", new_files if replace else files)
