"""Bad input never crashes the starter and never makes it write outside its
own folders: a link it cannot trust ends in the protocol registration
without a window; a bad answer of the server ends with a clear status text
in the window. Every case compares a listing of drive C: and of a folder
outside the prefix before and after the run."""

import re
import struct
import sys
import zlib

import pytest

import harness
from clientfamily import QVLINK, changes, client_folder, listing, make_link, read_window, records
from packagekit import QVPACK, pack, read_trace, settings

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402

pytestmark = [
    pytest.mark.usefixtures("display"),
    pytest.mark.skipif(not (QVPACK.exists() and QVLINK.exists()),
                       reason="needs the native operator tools (build preset native)"),
]

ADDR = "127.0.71.2"
LINK = {"meeting_id": "9", "role": "attendee", "account_server_ip": ADDR, "port": "8889", "version": "5.1.0",
        "client_name": "Quorumvessel"}


def member(name, data, damaged=False):
    """One archive record; a damaged one fails its zlib check."""
    stream = zlib.compress(data)
    if damaged:
        stream = stream[:-4] + bytes(b ^ 0xFF for b in stream[-4:])
    raw = name.encode() + b"\0"
    return struct.pack("<I", len(raw)) + raw + struct.pack("<I", len(stream)) + b"\0\0" + stream


@pytest.fixture
def sentinel(wine_prefix):
    """A folder outside the prefix that a bad member name could aim at."""
    folder = wine_prefix.root / "sentinel"
    folder.mkdir()
    (folder / "keep.txt").write_bytes(b"keep")
    return folder


class Watch:
    """Listings of drive C: and of the sentinel folder before a run."""

    def __init__(self, prefix, sentinel):
        self.prefix, self.sentinel = prefix, sentinel
        self.drive = listing(prefix.drive_c)
        self.outside = listing(sentinel)

    def written(self):
        """What the run changed on drive C:; nothing may change outside."""
        assert listing(self.sentinel) == self.outside
        starter = self.prefix.drive_c / "starter"
        assert not (starter / "ERRORLOG.TXT").exists() and not (starter / "CRASH.DMP").exists()
        return changes(self.drive, listing(self.prefix.drive_c))


# The starter's own places: its run log and temporary files, its
# configuration cache, its own folder. WinInet keeps its cache under the
# user's Microsoft folders.
OWN = [r"users/[^/]+/Temp(/.*)?", r"users/[^/]+/AppData/Local/Quorumvessel(/.*)?", r"starter(/.*)?",
       r"users/[^/]+/AppData/(Local|Roaming)/Microsoft(/.*)?"]


def outside_own_places(paths):
    return [p for p in paths if not any(re.fullmatch(pattern, p) for pattern in OWN)]


# ---------------------------------------------------------------------------

def wrong_checksum():
    link = make_link(LINK)
    good = link.split("&chk=")[1]
    return link.replace(good, make_link(dict(LINK, meeting_id="10")).split("&chk=")[1])


def ten_thousand_characters():
    # A sound link whose outer query carries one more item up to 10,000 characters.
    link = make_link(LINK) + "&pad="
    return link + "y" * (10000 - len(link))


@pytest.mark.parametrize("make, logged", [
    (wrong_checksum, "Utility::DecryptQuery() failed. sParameter = "),
    (ten_thousand_characters, "Invalid setting"),
], ids=["wrong-checksum", "10000-characters"])
def test_untrusted_link_ends_in_registration_without_a_window(wine_prefix, sentinel, make, logged):
    exe = wine_prefix.install_program(harness.TEST_STARTER, "starter")
    trace = wine_prefix.root / "window.txt"
    watch = Watch(wine_prefix, sentinel)
    result = wine_prefix.run(exe, [make()], cwd=exe.parent, timeout=120,
                             env={"QV_TEST_WINDOW_TRACE": wine_prefix.to_windows(trace)})
    assert not result.timed_out and result.returncode == 0, result
    assert read_trace(trace) == []
    messages = wine_prefix.run_log_messages()
    assert [m for m in messages if m.startswith(logged)], messages
    # No settings from any source: the protocol registration, as for a plain copy.
    assert "No Meeting Parameter, sClientName = Quorumvessel" in messages
    assert not [m for m in messages if m.startswith("m_sAccountServerName = ")]
    assert outside_own_places(watch.written()) == []


def damaged_package(files):
    return member("QVInstaller.exe", files["QVInstaller.exe"]) + member("Quorumvessel.exe", files["Quorumvessel.exe"],
                                                                         damaged=True)


TRAVERSAL_NAMES = ["..\\..\\..\\..\\escaped.txt", "sub\\..\\..\\up.txt", "\\rooted.txt", "C:\\drive.txt",
                   "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\sentinel\\evil.txt", ". .\\dots.txt"]


def traversal_package(files):
    bad = b"".join(member(name, b"written outside") for name in TRAVERSAL_NAMES)
    return member("QVInstaller.exe", files["QVInstaller.exe"]) + bad + member("Quorumvessel.exe",
                                                                             files["Quorumvessel.exe"])


@pytest.mark.parametrize("package, fault, env, final", [
    (damaged_package, None, None, "Unable to unpack Quorumvessel. Please try it again"),
    (traversal_package, None, None, None),
    (None, {"path": "/as/wapi/get_client_size", "body": "<html>garbage</html>"}, None,
     "Unable to download Quorumvessel from the server. Please try it again"),
    (None, {"path": "/as/wapi/get_client", "stall": 60}, {"QV_TEST_DOWNLOAD_TIMEOUT": "2"},
     "Download is incomplete. Please try it again"),
], ids=["damaged-package", "traversal-names", "garbage-size", "stalling-server"])
def test_bad_server_answer_ends_with_a_clear_status(wine_prefix, sentinel, tmp_path, package, fault, env, final):
    files = client_folder(tmp_path / "client", installer_options="--stay-ms=0\r\n", client_options="")
    data = package(files) if package else pack(tmp_path / "client", tmp_path / "PCClient.zip")
    exe = wine_prefix.install_program(harness.TEST_STARTER, "starter")
    (exe.parent / "starter.txt").write_text(settings(ADDR, 8889))
    trace = wine_prefix.root / "window.txt"
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    watch = Watch(wine_prefix, sentinel)
    with AccountServer([(ADDR, 8889)], package=data) as srv:
        if fault:
            srv.set_fault(**fault)
        run = wine_prefix.start(exe, cwd=exe.parent, env=dict(env or {}, QV_TEST_WINDOW_TRACE=
                                                               wine_prefix.to_windows(trace)))

        def ended():
            posted = read_trace(trace)
            if final is None:
                return records(setup, "QVInstaller")
            return posted and posted[-1] == ("6042", final)
        assert harness.wait_for(ended, timeout=120), (read_trace(trace), wine_prefix.run_log_messages())
        if fault and fault.get("stall"):
            # The attempt that timed out is followed by another one, which
            # shows its progress again.
            assert len(srv.wait_for_requests(2, timeout=60, path="/as/wapi/get_client")) == 2
            posted = read_trace(trace)
            again = posted.index(("6042", final)) + 1
            assert harness.wait_for(lambda: len(read_trace(trace)) > again, timeout=60)
            assert read_trace(trace)[again] == ("6040", "Downloading Quorumvessel ...")
        # Still there, saying what happened until the user closes the window.
        shown = read_window(wine_prefix, close=True)
        result = run.wait(timeout=60)
        assert not result.timed_out and result.returncode == 0, result
    # The last status text is what stays shown; with a stalling server the
    # attempts go on, each saying what it does.
    if fault and fault.get("stall"):
        assert (shown["status"], shown["progress"]) in [("Downloading Quorumvessel ...", "1"), (final, "0")], shown
    else:
        assert shown == {"status": [t for n, t in read_trace(trace) if n == "6042"][-1], "progress": "0"}
    messages = wine_prefix.run_log_messages()
    written = watch.written()
    assert outside_own_places(written) == []

    if package is damaged_package:
        assert "iErr != Z_OK && iErr != Z_STREAM_END" in messages
        assert records(setup, "QVInstaller") == []
    elif package is traversal_package:
        # The sound members are unpacked and the installer started; every
        # unsafe one is refused and listed for the user.
        assert (setup / "Quorumvessel.exe").read_bytes() == files["Quorumvessel.exe"]
        refused = {name.rsplit("\\", 1)[1] for name in TRAVERSAL_NAMES}
        assert not [p for p in written if p.rsplit("/", 1)[-1] in refused]
        reports = [p for p in wine_prefix.temp_dir.iterdir() if re.fullmatch(r"QV-?\d+\.txt", p.name)]
        assert len(reports) == 1
        setup_win = wine_prefix.to_windows(setup)
        assert reports[0].read_bytes() == ("The following files failed to copy to the destination:\n\n" + "".join(
            "%s\\%s\n" % (setup_win, name) for name in TRAVERSAL_NAMES)).replace("\n", "\r\n").encode()
        assert SUMMARY_START in read_trace(trace)[-1][1]
    else:
        assert records(setup, "QVInstaller") == []


SUMMARY_START = "Setup Quorumvessel ...\\n\\nSummary - average speed: "
