"""A package or a setup folder that would make the real starter overreach
ends without starting anything: a package that inflates past the byte cap, a
package whose installer member is not written in this pass (held open by a
running program, refused, damaged), and a setup folder that is a link to
another folder. The window says so until the user closes it."""

import os
import sys

import pytest

import harness
from clientfamily import FAKES, QVLINK, client_folder, listing, read_window, records
from packagekit import QVPACK, pack, read_trace, settings, write_files

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402
from test_bad_input import member  # noqa: E402

pytestmark = [
    pytest.mark.usefixtures("display"),
    pytest.mark.skipif(not (QVPACK.exists() and QVLINK.exists()),
                       reason="needs the native operator tools (build preset native)"),
]

ADDR = "127.0.71.40"
UNPACK_FAILED = "Unable to unpack Quorumvessel. Please try it again"
NO_SETUP_FOLDER = "Unable to create a directory to install the downloaded software"
SUMMARY_START = "Setup Quorumvessel ...\\n\\nSummary - average speed: "


def run_setup(prefix, package, env=None, final=None):
    """Runs the test starter against a server offering the package until the
    window shows the final text (without one: until the installer has been
    started); gives the texts posted to the window and what the window shows."""
    exe = prefix.install_program(harness.TEST_STARTER, "starter")
    (exe.parent / "starter.txt").write_text(settings(ADDR, 8889))
    trace = prefix.root / "window.txt"
    with AccountServer([(ADDR, 8889)], package=package):
        run = prefix.start(exe, cwd=exe.parent, env=dict(env or {}, QV_TEST_WINDOW_TRACE=prefix.to_windows(trace)))

        def ended():
            finals = [t for n, t in read_trace(trace) if n == "6042"]
            if final is not None:
                return finals and finals[-1] == final
            return records(prefix.temp_dir / "qv_starter_dir", "QVInstaller")
        assert harness.wait_for(ended, timeout=120), (read_trace(trace), prefix.run_log_messages())
        shown = read_window(prefix, close=True)
        result = run.wait(timeout=60)
        assert not result.timed_out and result.returncode == 0, result
    return read_trace(trace), shown


@pytest.mark.parametrize("room, stops", [(1 << 20, True), (3 << 20, False)], ids=["cap-below-package", "cap-above-package"])
def test_package_inflating_past_the_cap_starts_nothing(wine_prefix, tmp_path, room, stops):
    files = client_folder(tmp_path / "client", installer_options="--stay-ms=0\r\n", client_options="")
    # Two MiB of zeros, packed last (after the client family), into a few KiB.
    write_files(tmp_path / "client", {"data\\zeros.bin": bytes(2 << 20)})
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    cap = sum(len(data) for data in files.values()) + room
    setup = wine_prefix.temp_dir / "qv_starter_dir"

    posted, shown = run_setup(wine_prefix, package, env={"QV_TEST_UNPACK_BYTE_CAP": str(cap)},
                              final=UNPACK_FAILED if stops else None)
    messages = wine_prefix.run_log_messages()
    stop_line = "more than %d inflated bytes, unpacking stopped" % cap
    if stops:
        assert shown == {"status": UNPACK_FAILED, "progress": "0"}
        assert posted[-1] == ("6042", UNPACK_FAILED)
        assert stop_line in messages
        # The installer came before the cap and is there, but is not started.
        assert (setup / "QVInstaller.exe").read_bytes() == files["QVInstaller.exe"]
        assert records(setup, "QVInstaller") == []
        assert not [m for m in messages if m.startswith("StartProcess(")]
        # Nothing past the cap reached the disk.
        written = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(setup) for f in fs)
        assert written <= cap
        assert not (setup / "data" / "zeros.bin").exists()
        assert not list(setup.rglob("*.qvpart"))
    else:
        assert stop_line not in messages
        assert (setup / "data" / "zeros.bin").read_bytes() == bytes(2 << 20)
        assert records(setup, "QVInstaller")
        assert shown["status"].startswith(SUMMARY_START)


def hold_open(prefix, path):
    """Holds a file the way a running program holds its image; gives the
    function that lets go."""
    ready, release = prefix.root / "held.ready", prefix.root / "held.release"
    holder = prefix.start(FAKES / "FileHolder.exe", [prefix.to_windows(path), prefix.to_windows(ready),
                                                     prefix.to_windows(release), "--image"])
    assert harness.wait_for(ready.exists, timeout=60), holder.wait(timeout=5)

    def let_go():
        release.write_text("")
        assert not holder.wait(timeout=60).timed_out
    return let_go


def installer_held_open(prefix, files):
    # An older installer of an earlier setup, still running from the setup folder.
    setup = prefix.temp_dir / "qv_starter_dir"
    setup.mkdir(parents=True)
    (setup / "QVInstaller.exe").write_bytes(files["QVInstaller.exe"])
    return hold_open(prefix, setup / "QVInstaller.exe")


def full_package(files, damaged=None):
    return b"".join(member(name, data, damaged=name == damaged) for name, data in sorted(files.items()))


@pytest.mark.parametrize("case", ["held-open", "refused", "damaged"])
def test_installer_member_not_written_starts_nothing(wine_prefix, tmp_path, case):
    files = client_folder(tmp_path / "client", installer_options="--stay-ms=0\r\n", client_options="")
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    let_go = None
    if case == "held-open":
        package = full_package(files)
        let_go = installer_held_open(wine_prefix, files)
    elif case == "refused":
        # A folder of the installer's name, made by an earlier member, stands in its way.
        package = member("QVInstaller.exe\\readme.txt", b"x") + full_package(files)
    else:
        package = full_package(files, damaged="QVInstaller.exe")
    try:
        posted, shown = run_setup(wine_prefix, package, final=UNPACK_FAILED)
    finally:
        if let_go:
            let_go()
    messages = wine_prefix.run_log_messages()
    assert shown == {"status": UNPACK_FAILED, "progress": "0"}
    assert records(setup, "QVInstaller") == []
    assert not [m for m in messages if m.startswith("StartProcess(")]
    setup_win = wine_prefix.to_windows(setup)
    if case == "damaged":
        assert "iErr != Z_OK && iErr != Z_STREAM_END" in messages
    else:
        assert "can't create file %s\\QVInstaller.exe, skip to the next one." % setup_win in messages
        assert "%s\\QVInstaller.exe was not written by this unpacking" % setup_win in messages
        # The rest of the package is there, but no launcher copy of any installer.
        assert (setup / "Quorumvessel.exe").read_bytes() == files["Quorumvessel.exe"]
        assert not (setup / "QVLauncher.exe").exists()
    if case == "held-open":
        assert (setup / "QVInstaller.exe").read_bytes() == files["QVInstaller.exe"]


def test_setup_folder_that_is_a_link_is_refused(wine_prefix, tmp_path):
    files = client_folder(tmp_path / "client", installer_options="--stay-ms=0\r\n", client_options="")
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    # Wine shows a Linux symbolic link as a reparse point, as Windows shows a junction.
    victim = wine_prefix.drive_c / "victim"
    write_files(victim, {"keep.txt": b"keep", "sub\\deep.txt": b"deep"})
    before = listing(victim)
    wine_prefix.temp_dir.mkdir(parents=True, exist_ok=True)
    link = wine_prefix.temp_dir / "qv_starter_dir"
    os.symlink(victim, link)

    posted, shown = run_setup(wine_prefix, package, final=NO_SETUP_FOLDER)
    messages = wine_prefix.run_log_messages()
    assert shown == {"status": NO_SETUP_FOLDER, "progress": "0"}
    assert posted[-1] == ("6042", NO_SETUP_FOLDER)
    link_win = wine_prefix.to_windows(wine_prefix.temp_dir) + "\\qv_starter_dir"
    assert "%s is a reparse point, refused as the setup folder" % link_win in messages
    assert listing(victim) == before
    assert (victim / "keep.txt").read_bytes() == b"keep"
    assert link.is_symlink()
    assert not [m for m in messages if m.startswith(("StartProcess(", "enter "))]
    assert records(victim, "QVInstaller") == []
