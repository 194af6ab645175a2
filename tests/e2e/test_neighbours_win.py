"""Other things on the user's machine that the starter must not trust: files
that another download put beside it in the Downloads folder, and programs
that post messages to its window."""
import os
import shutil
import sys

import pytest

import harness
from clientfamily import read_window
from packagekit import read_trace
from test_crash import check_minidump, crash, ACCESS_VIOLATION

sys.path.insert(0, os.path.join(str(harness.SOURCE_DIR), "tests", "tools"))
import linkhelper  # noqa: E402

PLANTED = harness.BIN_DIR / "fakes" / "PlantedLibrary.dll"
PROBE = harness.BIN_DIR / "fakes" / "LibraryProbe.exe"

# Nothing listens here: every way to the server fails and the window says so.
ADDR_NOBODY = "127.0.74.2"
ADDR_CRASH = "127.0.74.3"
UNABLE = "Unable to download Quorumvessel from the server. Please try it again"


@pytest.fixture(autouse=True)
def native_libraries_first(monkeypatch):
    """Wine prefers its own built-in copy of a system library to a file of
    the same name found by the search; Windows has no built-in copies and
    takes the first file found. Tell Wine to do the same for the planted
    names, so that a search that reaches the starter's folder loads the
    planted file as it would on Windows."""
    monkeypatch.setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;jsproxy,dbghelp=n,b")


def plant(folder, name):
    """Puts the planted library into folder under name; gives the marker
    file that it writes when some program loads it."""
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(PLANTED, folder / name)
    return folder / (name + ".loaded")


def loaded_by(marker):
    return marker.read_text(encoding="utf-8").splitlines() if marker.exists() else []


def probe_loads_planted_copy(prefix, folder, name, marker):
    """Shows that an unrestricted search by name takes the planted copy, so
    that its absence later means something; then clears the marker."""
    probe = prefix.install_program(PROBE, folder.name)
    result = prefix.run(probe, [name], cwd=folder)
    assert not result.timed_out and result.returncode == 0, result
    assert loaded_by(marker) == [prefix.to_windows(probe)]
    marker.unlink()


def launch_link(address):
    return linkhelper.make_link([("meeting_id", "5"), ("role", "attendee"), ("account_server_ip", address),
                                 ("port", "8889"), ("version", "5.1.0"), ("client_name", "Quorumvessel")])


def test_planted_proxy_script_engine_beside_the_starter_is_not_loaded(wine_prefix):
    """The network layer loads the proxy script engine (jsproxy.dll) by name
    when a proxy script is to be run. Wine never hands the starter a script
    location, so the test build is told to load it by name at the same
    stage of the run instead: once start-up is done, a search by name must
    not reach the starter's folder."""
    starter_dir = wine_prefix.drive_c / "Downloads"
    marker = plant(starter_dir, "jsproxy.dll")
    probe_loads_planted_copy(wine_prefix, starter_dir, "jsproxy.dll", marker)

    result = wine_prefix.run_starter(folder="Downloads", test_build=True,
                                     env={"QV_TEST_LOAD_LIBRARY": "jsproxy.dll"})
    assert not result.timed_out and result.returncode == 0, result
    assert loaded_by(marker) == []
    assert "Test load of jsproxy.dll gave C:\\windows\\system32\\jsproxy.dll" in wine_prefix.run_log_messages()


def test_planted_dump_library_beside_the_starter_is_not_used_by_a_crash(make_prefix):
    prefix = make_prefix()
    starter_dir = prefix.drive_c / "starter"
    marker = plant(starter_dir, "dbghelp.dll")
    probe_loads_planted_copy(prefix, starter_dir, "dbghelp.dll", marker)

    result, starter_dir, posts, reports = crash(prefix, ADDR_CRASH, "main")
    assert result.returncode != 0, result
    assert loaded_by(marker) == []
    # The system's dump library wrote the dump.
    check_minidump((starter_dir / "CRASH.DMP").read_bytes(), ACCESS_VIOLATION)
    assert len(posts) == 1 and len(reports) == 1


def test_text_messages_posted_by_another_program_leave_the_window_running(wine_prefix, display):
    exe = wine_prefix.install_program(harness.TEST_STARTER, "starter")
    trace = wine_prefix.root / "window.txt"
    run = wine_prefix.start(exe, [launch_link(ADDR_NOBODY)], cwd=exe.parent,
                            env={"QV_TEST_WINDOW_TRACE": wine_prefix.to_windows(trace)})
    try:
        assert harness.wait_for(lambda: ("6042", UNABLE) in read_trace(trace), timeout=120), read_trace(trace)
        # Made-up numbers where the window's own text blocks would be: an
        # unmapped address, a low one, and zero, for every text message.
        posts = [(m, w) for m in (6041, 6039, 6040, 6042) for w in (0x12345678, 0x10, 0)]
        shown = read_window(wine_prefix, posts=posts)
        assert shown == {"status": UNABLE, "progress": "0"}
        assert run.running()
        assert read_window(wine_prefix, close=True) == {"status": UNABLE, "progress": "0"}
        result = run.wait(timeout=60)
        assert not result.timed_out and result.returncode == 0, result
    finally:
        if run.running():
            run.kill()
    assert not (exe.parent / "ERRORLOG.TXT").exists()
