"""Crashes of the test starter under Wine: the module report, the minidump and
the one error report posted to the local error server."""

import base64
import os
import re
import struct
import sys
import zlib

import pytest

import harness

sys.path.insert(0, os.path.join(str(harness.SOURCE_DIR), "tests", "server"))
sys.path.insert(0, os.path.join(str(harness.SOURCE_DIR), "tests", "tools"))
from accountserver import AccountServer, ERROR_SERVER_PATH  # noqa: E402
import linkhelper  # noqa: E402

MEETING_PASSWORD = "mtg-Pw-7391"
USER_PASSWORD = "usr-Pw-4410"
GUI_PASSWORD = "gui-Pw-2288"
CACHE_XML = ("<__SERVER__>127.0.0.9</__SERVER__>\r\n<__GUI_PASSWORD__>" + GUI_PASSWORD +
             "</__GUI_PASSWORD__>\r\n<__USER__>ann</__USER__>\r\n")
ACCESS_VIOLATION = 0xC0000005

MODULE_BLOCK = re.compile(
    r"Module (\d+)\r\n([^\r\n]+)\r\n"
    r"Image Base: 0x[0-9a-f]{8,}  Image Size: 0x[0-9a-f]{8}\r\n"
    r"Checksum:   0x[0-9a-f]{8}  Time Stamp: 0x[0-9a-f]{8}\r\n"
    r"File Size:  (\d+) *  File Time:  (?:\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d)?\r\n"
    r"Version Information:\r\n")


def launch_link(address, port):
    return linkhelper.make_link([
        ("account_server_ip", address), ("port", str(port)), ("meeting_id", "4711"),
        ("meeting_password", MEETING_PASSWORD), ("user_password", USER_PASSWORD),
        ("version", "5.1.0"), ("client_name", "Quorumvessel"), ("role", "attendee"),
    ])


def quiet_crashes(prefix):
    """The system's own handling of an exception we pass on ends the process
    without a dialog."""
    r = prefix.run("reg", ["add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                           "/t", "REG_DWORD", "/d", "0", "/f"])
    assert r.returncode == 0, r


def crash(prefix, server_address, where, with_cache=True):
    """Runs the test starter with a launch link and crashes it at `where`."""
    starter_dir = prefix.drive_c / "starter"
    starter_dir.mkdir(parents=True, exist_ok=True)
    if with_cache:
        (starter_dir / "Cache.xml").write_bytes(CACHE_XML.encode())
    (starter_dir / "version.txt").write_bytes(b"9.9.9-local")
    if "worker" in where and not os.environ.get("DISPLAY"):
        pytest.skip("the worker runs behind the progress window, which needs a display")
    quiet_crashes(prefix)
    with AccountServer([(server_address, 0)]) as server:
        env = {"QV_TEST_CRASH": where,
               "QV_TEST_ERROR_SERVER": f"{server_address} {server_address} {server.port()}"}
        result = prefix.run_starter([launch_link(server_address, server.port())], test_build=True,
                                    timeout=240, env=env)
        assert not result.timed_out, result
        if where.startswith("worker") and "No Meeting Parameter, sClientName = Quorumvessel" in prefix.run_log():
            pytest.skip("the starter did not take the launch link, so no worker thread ran")
        posts = server.requests_for(ERROR_SERVER_PATH)
        reports = server.error_reports
    return result, starter_dir, posts, reports


def unpack(text):
    """Base64 text of a zlib stream, as the report carries an attachment."""
    return zlib.decompress(base64.b64decode(text))


def between(body, tag):
    m = re.search(r"\n<___%s___>(.*?)</___%s___>" % (tag, tag), body, re.S)
    assert m, tag
    return m.group(1)


def check_module_report(path, starter_path):
    raw = path.read_bytes()
    assert not raw.startswith(b"\xff\xfe"), "no byte-order mark"
    text = raw.decode("utf-16-le")
    end = "\r\n===== [end of ERRORLOG.TXT] =====\r\n"
    assert text.endswith(end)
    assert "\n" not in text.replace("\r\n", "")
    blocks = list(MODULE_BLOCK.finditer(text))
    assert blocks and blocks[0].start() == 0
    assert blocks[-1].end() == len(text) - len(end)
    assert [int(b.group(1)) for b in blocks] == list(range(1, len(blocks) + 1))
    paths = [b.group(2).lower() for b in blocks]
    assert starter_path.lower() in paths
    for dll in ("ntdll.dll", "kernel32.dll", "wininet.dll", "ws2_32.dll"):
        assert "c:\\windows\\system32\\" + dll in paths, dll
    starter_block = blocks[paths.index(starter_path.lower())]
    return int(starter_block.group(3))


def check_minidump(data, code):
    assert data[:4] == b"MDMP"
    version, streams, directory = struct.unpack_from("<III", data, 4)
    assert version & 0xFFFF == 0xA793
    assert streams > 0 and directory + streams * 12 <= len(data)
    types = {}
    for i in range(streams):
        kind, size, rva = struct.unpack_from("<III", data, directory + i * 12)
        assert rva + size <= len(data), kind
        types[kind] = (size, rva)
    for kind in (3, 4, 6, 7):  # threads, modules, exception, system information
        assert kind in types, kind
    _, rva = types[6]
    assert struct.unpack_from("<I", data, rva + 8)[0] == code


@pytest.mark.parametrize("where", ["worker", "main"])
def test_crash_leaves_report_files_and_posts_one_report(make_prefix, where):
    prefix = make_prefix()
    result, starter_dir, posts, reports = crash(prefix, "127.0.0.41" if where == "worker" else "127.0.0.42",
                                                where)
    assert result.returncode != 0, result
    assert "starting debugger" not in result.stderr, result

    starter_path = "C:\\starter\\QuorumvesselStarter.exe"
    size = check_module_report(starter_dir / "ERRORLOG.TXT", starter_path)
    assert size == (starter_dir / "QuorumvesselStarter.exe").stat().st_size
    dump = (starter_dir / "CRASH.DMP").read_bytes()
    check_minidump(dump, ACCESS_VIOLATION)

    assert len(posts) == 1 and len(reports) == 1
    post = posts[0]
    assert post.request_line == ERROR_SERVER_PATH.join(["POST ", " HTTP/1.1"])
    assert post.header("Content-Type") == "application/x-www-form-urlencoded"
    assert post.header("User-Agent") == "Internet Explorer"
    assert post.body.startswith(b"error=")
    # Only letters, digits, "-", "_", "." and the escapes travel as they are.
    assert re.fullmatch(rb"error=[A-Za-z0-9\-_.%+]*", post.body)
    body = reports[0].encode("latin-1").decode("utf-8")

    head = re.match(
        r"Quorumvessel sCurrentFile = QuorumvesselStarter\.exe\n"
        r"sCurrentDirectory = C:\\starter\n\n\n"
        r"Version: ([^\n]*)\n"
        r"Computer Name: [^\n]+\n"
        r"Computer IP: \d+\.\d+\.\d+\.\d+\n"
        r"OS: Microsoft Windows [^\n]+\(Build \d+\)\n"
        r"IE: [^\n]*\nIE Minor: [^\n]*\nIE Build: [^\n]*\n"
        r"GetLastError\(\) returns: \d+\n"
        r"Error: .*?\nLog: original size = (\d+), compressed size = (\d+), base64-encoded size = (\d+)\n"
        r"Cache: original size = (\d+), compressed size = (\d+), base64-encoded size = (\d+)\n"
        r"dump: original size = (\d+), compressed size = (\d+), base64-encoded size = (\d+)"
        r"\n<___LOGFILESIZE___>", body, re.S)
    assert head, body[:1500]
    assert body.endswith("</___DUMPFILE___>&&xyz\n")

    log = unpack(between(body, "LOGFILE"))
    cache = unpack(between(body, "CACHEFILE"))
    dump_sent = unpack(between(body, "DUMPFILE"))
    # The other thread may still log after the report was taken.
    assert log.endswith(b"\0") and prefix.run_log_bytes().startswith(log[:-1])
    assert cache == CACHE_XML.replace(GUI_PASSWORD, "").encode() + b"\0"
    assert dump_sent == dump
    version = head.group(1)
    sizes = [int(x) for x in head.groups()[1:]]
    assert sizes[0::3] == [len(log), len(cache), len(dump)]
    assert int(between(body, "LOGFILESIZE")) == len(log)
    assert int(between(body, "CACHEFILESIZE")) == len(cache)
    assert int(between(body, "DUMPFILESIZE")) == len(dump)
    assert sizes[2] == len(between(body, "LOGFILE"))

    for secret in (MEETING_PASSWORD, USER_PASSWORD, GUI_PASSWORD):
        assert secret not in body
        assert secret.encode() not in log
    # After a launch with passwords the run log holds the settings (masked)
    # and the report the requested version.
    # The launch with passwords reached the run log, masked.
    assert b"<__MeetingId__>4711</__MeetingId__>" in log
    if where == "worker":
        assert version == "5.1.0 V5.0 SP1 of Bootkin"
    else:
        # Before the settings are handed over there is no version text yet;
        # the file beside the starter (the current folder) stands in.
        assert version == "9.9.9-local"


def test_second_exception_is_left_to_the_system(make_prefix):
    """A crash inside the report itself is not taken again: the process ends
    with the first report files and without a post."""
    prefix = make_prefix()
    result, starter_dir, posts, _ = crash(prefix, "127.0.0.43", "main,report")
    # The system's own handling took the second one.
    assert "Unhandled page fault" in result.stderr, result
    check_module_report(starter_dir / "ERRORLOG.TXT", "C:\\starter\\QuorumvesselStarter.exe")
    check_minidump((starter_dir / "CRASH.DMP").read_bytes(), ACCESS_VIOLATION)
    assert posts == []


def test_only_the_test_build_has_test_switches():
    shipping = harness.STARTER.read_bytes()
    test_build = harness.TEST_STARTER.read_bytes()
    for switch in (b"QV_TEST_CRASH", b"QV_TEST_ERROR_SERVER", b"QV_TEST_DOWNLOAD_TIMEOUT", b"QV_TEST_WINDOW_TRACE",
                   b"QV_TEST_UNPACK_BYTE_CAP", b"QV_TEST_LOAD_LIBRARY"):
        assert switch in test_build
        assert switch not in shipping
