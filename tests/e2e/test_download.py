"""The test build of the starter downloads, unpacks and prepares the client
package from the local account server, and unpacks delivered packages."""

import os
import re
import subprocess
import sys

import pytest

import harness
from packagekit import QVCFG, QVPACK, assert_unpacked, make_client, pack, read_trace, run_until, settings, \
    start_starter, wait_for_line, write_files

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402

# The starter shows its window: without a display it would not get going.
pytestmark = [
    pytest.mark.usefixtures("display"),
    pytest.mark.skipif(not QVPACK.exists(), reason="needs the native qvpack (build preset native)"),
]

SUMMARY = re.compile(r"^Setup Quorumvessel \.\.\.\\n\\nSummary - average speed: (\d+) kbps, total time: (\d+) seconds$")


@pytest.fixture
def client(tmp_path):
    folder = tmp_path / "client"
    files = make_client(folder)
    return files, pack(folder, tmp_path / "PCClient.zip")


def test_download_shows_progress_unpacks_and_hands_over_the_settings(wine_prefix, client, tmp_path):
    files, package = client
    trace = tmp_path / "window.txt"
    plain = settings("127.0.0.41", 8889)
    with AccountServer([("127.0.0.41", 8889)], package=package) as srv:
        # About three seconds of transfer, so the figures of several samples show.
        srv.set_fault(path="/as/wapi/get_client", rate=len(package) // 3)
        msgs = run_until(wine_prefix, {"starter.txt": plain.encode()}, "StartProcess(sStartProcess",
                         {"QV_TEST_WINDOW_TRACE": wine_prefix.to_windows(trace)})
        size_reqs = srv.requests_for("/as/wapi/get_client_size")
        pkg_reqs = srv.requests_for("/as/wapi/get_client")
    assert "sTempURL = /as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc" in msgs
    assert "iDownloadSize = %d" % len(package) in msgs
    assert ("Download is completed: iExpectedDownloadSize = %d, actual received = %d"
            % (len(package), len(package))) in msgs
    assert len(size_reqs) == 1 and len(pkg_reqs) == 1
    # The random parameter follows the fixed query; the page request adds its own rdm.
    assert re.fullmatch(r"/as/wapi/get_client_size\?client_type=0&xml_format=Y&client=pc&myrand11262017=[0-9A-Za-z]+&rdm=[0-9]+",
                        size_reqs[0].target), size_reqs[0].target
    assert re.fullmatch(r"/as/wapi/get_client\?client_type=0&client=pc&myrand11262017=[0-9A-Za-z]+&rdm=[0-9]+",
                        pkg_reqs[0].target), pkg_reqs[0].target

    # What the window was told, in order.
    posted = read_trace(trace)
    assert posted[0] == ("6039", "Connecting ...")
    assert posted[1] == ("6040", "Downloading Quorumvessel ...")
    progress = [text for number, text in posted if number == "6041"]
    assert [number for number, _ in posted[2:]] == ["6041"] * len(progress) + ["6042"]
    figures = [tuple(int(x) for x in p.split(",")) for p in progress]
    assert len(figures) >= 20
    assert all(speed == 0 and left == 0 for _, speed, left in figures[:15])
    assert figures[15][1] > 0 and figures[15][2] > 0
    percents = [p for p, _, _ in figures]
    assert percents == sorted(percents) and 0 <= percents[0] < 50 and percents[-1] <= 100
    summary = SUMMARY.match(posted[-1][1])
    assert summary, posted[-1]
    assert 2 <= int(summary.group(2)) <= 30 and int(summary.group(1)) > 0

    setup = wine_prefix.temp_dir / "qv_starter_dir"
    assert_unpacked(setup, files)
    assert (setup / "QVLauncher.exe").read_bytes() == files["QVInstaller.exe"]
    assert not (wine_prefix.temp_dir / "PCClient.zip").exists()
    setup_win = wine_prefix.to_windows(setup)
    assert (setup / "rsp1024hcmd.txt").read_bytes() == (
        "<__SetupDirectory__>%s</__SetupDirectory__>\n"
        "<__SetupFile__>C:\\starter\\QuorumvesselStarter.exe</__SetupFile__>\n"
        "<__SetupFileName__>QuorumvesselStarter.exe</__SetupFileName__>\n"
        "<__SetupConfigureFile__>C:\\starter\\starter.cfg</__SetupConfigureFile__>\n%s"
        % (setup_win, plain)).replace("\n", "\r\n").encode()


@pytest.mark.parametrize("first, replies, tried, outcome", [
    # replies: what each listening port answers to the size query (None: nothing listens)
    (443, {443: "0", 80: "", 8889: None}, [443, 80, 8889], None),
    (443, {443: "0", 80: "", 8889: "SIZE"}, [443, 80, 8889], 8889),
    (80, {80: None, 443: "<__ClientSize__>0</__ClientSize__>", 8889: "SIZE"}, [80, 443, 8889], 8889),
    (8889, {8889: "", 443: "SIZE"}, [8889, 443], 443),
    (8889, {8889: "nothing", 443: "-5", 80: "SIZE"}, [8889, 443], None),
], ids=["443-80-8889-none", "443-80-8889", "80-443-8889", "8889-443", "8889-443-none"])
def test_size_query_probes_the_other_ports(wine_prefix, client, tmp_path, first, replies, tried, outcome):
    _, package = client
    address = "127.0.0.45"
    listen = [(address, port, port == 443) for port, reply in replies.items() if reply is not None]
    trace = tmp_path / "window.txt"
    with AccountServer(listen, package=package) as srv:
        for port, reply in replies.items():
            if reply is not None and reply != "SIZE":
                srv.set_fault(path="/as/wapi/get_client_size", port=port, body=reply)
        line = "Uncompress " if outcome else "Failed to download client from: "
        msgs = run_until(wine_prefix, {"starter.txt": settings(address, first).encode()}, line,
                         {"QV_TEST_WINDOW_TRACE": wine_prefix.to_windows(trace)})
        pkg_ports = [int(r.listener.split(":")[1]) for r in srv.requests_for("/as/wapi/get_client")]
    asked = [int(m.split("iPort = ")[1].split(",")[0]) for m in msgs
             if m.startswith("sIP = %s, iPort = " % address) and "URL = /as/wapi/get_client_size" in m]
    assert asked == tried
    if outcome:
        assert "iDownloadSize = %d" % len(package) in msgs
        assert pkg_ports == [outcome]
    else:
        assert pkg_ports == []
        last = replies[tried[-1]] or ""
        assert ("Failed to download client from: %s:%d, iDownloadSize = %d, sDownloadSize = %s"
                % (address, tried[-1], int(last) if last.lstrip("-").isdigit() else 0, last)) in msgs
        assert read_trace(trace)[-1] == ("6042", "Unable to download Quorumvessel from the server. Please try it again")


@pytest.mark.parametrize("fault, env, line", [
    # Without range support a broken transfer waits and starts over.
    ({"drop_after": 5000, "ranges": False}, None,
     "Filed to complete download: iExpectedDownloadSize = %d, actual received = "),
    ({"stall": 30}, {"QV_TEST_DOWNLOAD_TIMEOUT": "3"}, "Download experiences timeout"),
    ({"short": True}, None, "Filed to complete download: iExpectedDownloadSize = %d, actual received = "),
], ids=["dropped", "stalled", "one-byte-short"])
def test_failed_attempt_is_retried_and_never_leaves_a_damaged_file(wine_prefix, client, tmp_path, fault, env, line):
    files, package = client
    if "%d" in line:
        line = line % len(package)
    trace = tmp_path / "window.txt"
    env = dict(env or {}, QV_TEST_WINDOW_TRACE=wine_prefix.to_windows(trace))
    with AccountServer([("127.0.0.42", 8889)], package=package) as srv:
        if fault.get("short"):
            srv.set_fault(path="/as/wapi/get_client", body=package[:-1])
        else:
            if "ranges" in fault:
                srv.set_serving(ranges=fault["ranges"])
            srv.set_fault(path="/as/wapi/get_client", **{k: v for k, v in fault.items() if k != "ranges"})
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
    failed = [m for m in msgs if m.startswith("Filed to complete download") or m == "Download experiences timeout"]
    assert failed and failed[0].startswith(line)
    if fault.get("short"):
        assert failed[0] != "Filed to complete download: iExpectedDownloadSize = %d, actual received = %d" % (
            len(package), len(package))
    done = [m for m in msgs if m.startswith("Download is completed")]
    assert done == ["Download is completed: iExpectedDownloadSize = %d, actual received = %d"
                    % (len(package), len(package))]
    posted = read_trace(trace)
    finals = [text for number, text in posted if number == "6042"]
    assert finals[0] == "Download is incomplete. Please try it again" and SUMMARY.match(finals[-1])
    # After the wait the new attempt brings the progress layout back.
    again = posted.index(("6042", "Download is incomplete. Please try it again")) + 1
    assert posted[again] == ("6040", "Downloading Quorumvessel ...")
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    assert_unpacked(setup, files)
    assert not list(setup.rglob("*.qvpart"))
    assert not list(wine_prefix.temp_dir.glob("PCClient.zip*"))
    # No request of this test asked for a part of the package.
    assert not any(r.header("Range") or r.header("If-Range") for r in srv.requests_for("/as/wapi/get_client"))


def percents(posted):
    return [int(text.split(",")[0]) for number, text in posted if number == "6041"]


@pytest.mark.parametrize("case", ["etag", "last-modified", "no-ranges", "replaced", "other-size"])
def test_broken_transfer_asks_for_the_rest_or_starts_over(wine_prefix, tmp_path, case):
    """The first package reply is cut in the middle of its body. With a
    validator and range support the next attempt follows at once and asks
    for the rest; a replaced package comes whole and its files are the ones
    unpacked; without range support the page request's next way asks for
    the whole package again."""
    # Stored, not compressed: the same file sizes make a package of the same size.
    def stored(folder, archive):
        subprocess.run([str(QVPACK), "pack", "--level", "0", str(folder), str(archive)], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
        return archive.read_bytes()

    files = make_client(tmp_path / "old")
    package = stored(tmp_path / "old", tmp_path / "old.zip")
    if case == "other-size":
        new_files = make_client(tmp_path / "new", extra=b"a longer installer")
    else:
        new_files = {name: (os.urandom(len(data)) if name.endswith(".dll") else data) for name, data in files.items()}
        write_files(tmp_path / "new", new_files)
    new_package = stored(tmp_path / "new", tmp_path / "new.zip")
    assert (len(new_package) == len(package)) == (case != "other-size")
    cut = len(package) // 2
    trace = tmp_path / "window.txt"
    with AccountServer([("127.0.0.46", 8889)], package=package) as srv:
        if case == "last-modified":
            srv.set_serving(etag=False)
        if case == "no-ranges":
            srv.set_serving(ranges=False)
        etag, modified = srv.package_etag, srv.package_last_modified
        fault = {"replace_with": new_package} if case in ("replaced", "other-size") else {}
        srv.set_fault(path="/as/wapi/get_client", drop_after=cut, times=1, **fault)
        msgs = run_until(wine_prefix, {"starter.txt": settings("127.0.0.46", 8889).encode()},
                         "StartProcess(sStartProcess", {"QV_TEST_WINDOW_TRACE": wine_prefix.to_windows(trace)})
        fetched = srv.requests_for("/as/wapi/get_client")
        sized = srv.requests_for("/as/wapi/get_client_size")
    expected = new_package if case in ("replaced", "other-size") else package
    statuses = [r.reply_head.split(b" ", 2)[1] for r in fetched]
    ranges = [(r.header("Range"), r.header("If-Range")) for r in fetched]
    posted = read_trace(trace)
    finals = [text for number, text in posted if number == "6042"]
    if case == "no-ranges":
        assert ranges == [(None, None), (None, None)]
        assert statuses == [b"200", b"200"]
    elif case == "other-size":
        # The whole new package of another size is not taken for the old
        # size: the size is asked again and the new package fetched whole.
        assert ranges[:2] == [(None, None), ("bytes=%d-" % cut, etag)]
        assert statuses[:2] == [b"200", b"200"] and ranges[-1] == (None, None)
        assert len(sized) == 2
        assert "reply not taken: package of %d bytes, %d expected" % (len(new_package), len(package)) in msgs
        assert finals[0] == "Download is incomplete. Please try it again"
    else:
        validator = modified if case == "last-modified" else etag
        assert ranges == [(None, None), ("bytes=%d-" % cut, validator)]
        assert statuses == [b"200", b"200" if case == "replaced" else b"206"]
        if case != "replaced":
            assert b"\r\nContent-Range: bytes %d-%d/%d\r\n" % (cut, len(package) - 1, len(package)) in \
                fetched[1].reply_head
        assert fetched[1].body_sent == len(package) - (0 if case == "replaced" else cut)
        assert "Download resumes from %d of %d bytes" % (cut, len(package)) in msgs
        # The attempt after the cut follows at once, announced, and a
        # resumed one's percentage goes on from where the cut left it.
        assert "Download is incomplete. Please try it again" not in finals
        announced = [i for i, entry in enumerate(posted) if entry == ("6040", "Downloading Quorumvessel ...")]
        assert len(announced) == 2, posted
        if case != "replaced":
            assert percents(posted) == sorted(percents(posted))
            assert all(p >= cut * 100 // len(package) for p in percents(posted[announced[1]:]))
    assert ("Download is completed: iExpectedDownloadSize = %d, actual received = %d"
            % (len(expected), len(expected))) in msgs
    assert SUMMARY.match(finals[-1]), finals
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    assert_unpacked(setup, new_files if case in ("replaced", "other-size") else files)
    assert not list(wine_prefix.temp_dir.glob("PCClient.zip*"))


@pytest.mark.skipif(not QVCFG.exists(), reason="needs the native qvcfg")
@pytest.mark.parametrize("own_working_file", [False, True], ids=["written", "copied"])
def test_delivered_packages_are_unpacked_beside_the_starter(wine_prefix, tmp_path, own_working_file):
    client_dir, accessory_dir = tmp_path / "c", tmp_path / "a"
    files = make_client(client_dir)
    accessory = {"tool.exe": b"MZ tool", "res\\a.txt": b"accessory"}
    write_files(accessory_dir, accessory)
    plain = tmp_path / "settings.txt"
    plain.write_text(settings("127.0.0.43", 8889))
    subprocess.run([str(QVCFG), "mask", str(plain), str(tmp_path / "starter.cfg")], check=True, timeout=60)
    beside = {
        "starter.cfg": (tmp_path / "starter.cfg").read_bytes(),
        "PCClient": pack(client_dir, tmp_path / "p1"),
        "PCClientAccessory": pack(accessory_dir, tmp_path / "p2"),
    }
    working = b"<__WorkingDirectory__>D:\\meetings</__WorkingDirectory__>\r\n"
    if own_working_file:
        beside["WorkingDirectory.txt"] = working
    trace = tmp_path / "window.txt"
    msgs = run_until(wine_prefix, beside, "StartProcess(sStartProcess",
                     {"QV_TEST_WINDOW_TRACE": wine_prefix.to_windows(trace)})
    # Nothing is downloaded, but the window still says what goes on.
    assert read_trace(trace) == [("6042", "Setup Quorumvessel ...")]
    starter = wine_prefix.drive_c / "starter"
    setup = starter / "qv_starter_dir"
    assert_unpacked(setup, files)
    assert_unpacked(setup / "Accessory", accessory)
    assert (setup / "WorkingDirectory.txt").read_bytes() == (working if own_working_file else
        b"<__WorkingDirectory__>C:\\starter\\Quorumvessel</__WorkingDirectory__>\r\n")
    assert not (starter / "PCClient").exists() and not (starter / "PCClientAccessory").exists()
    assert "Download is not needed" in msgs
    assert ("Uncompress  into C:\\starter\\qv_starter_dir and C:\\starter\\qv_starter_dir\\Accessory") in msgs
    command = (setup / "rsp1024hcmd.txt").read_bytes().decode()
    assert command.startswith(
        "<__SetupDirectory__>C:\\starter\\qv_starter_dir</__SetupDirectory__>\r\n"
        "<__SetupFile__>C:\\starter\\QuorumvesselStarter.exe</__SetupFile__>\r\n"
        "<__SetupFileName__>QuorumvesselStarter.exe</__SetupFileName__>\r\n"
        "<__SetupConfigureFile__>C:\\starter\\starter.cfg</__SetupConfigureFile__>\r\n"
        "<__NeedToRemoveSetup__>Y</__NeedToRemoveSetup__>\r\n"), command


def test_socket_download_resumes_with_the_same_two_lines(wine_prefix, client, tmp_path):
    """Only the socket download gets through (the WinInet requests are reset);
    its first package reply is cut. The next attempt's socket request asks for
    the rest with exactly the Range and If-Range lines before its last line."""
    files, package = client
    cut = len(package) // 3
    with AccountServer([("127.0.0.47", 8889)], package=package) as srv:
        srv.set_fault(path="/as/wapi/get_client", match="HTTP/1.0", drop_after=cut, times=1)
        srv.set_fault(match="HTTP/1.1", require_proxy=True)
        etag = srv.package_etag
        msgs = run_until(wine_prefix, {"starter.txt": settings("127.0.0.47", 8889).encode()},
                         "StartProcess(sStartProcess")
        fetched = [r for r in srv.requests_for("/as/wapi/get_client") if r.request_line.endswith("HTTP/1.0")]
    assert len(fetched) == 2, [r.request_line for r in fetched]
    assert b"\r\nRange:" not in fetched[0].raw
    assert fetched[1].raw.endswith(("\r\nHost: 127.0.0.47:8889\r\nRange: bytes=%d-\r\nIf-Range: %s\r\n"
                                    "Connection: Keep-Alive\r\n\r\n" % (cut, etag)).encode())
    assert fetched[1].reply_head.startswith(b"HTTP/1.1 206 ")
    assert fetched[1].body_sent == len(package) - cut
    assert "Download resumes from %d of %d bytes" % (cut, len(package)) in msgs
    assert ("Download is completed: iExpectedDownloadSize = %d, actual received = %d"
            % (len(package), len(package))) in msgs
    assert_unpacked(wine_prefix.temp_dir / "qv_starter_dir", files)
    assert not list(wine_prefix.temp_dir.glob("PCClient.zip*"))
