"""Client packages for the starter's end-to-end tests: a small client folder,
packed with the native qvpack, settings pointing at a local account server,
packages signed with the test keys, and the test build of the starter
started beside them."""

import os
import subprocess
import sys
from pathlib import Path

import harness

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "tools"))
import signhelper  # noqa: E402

NATIVE_BIN = harness.SOURCE_DIR / "build" / "native" / "bin"
QVPACK = Path(os.environ.get("QV_QVPACK", NATIVE_BIN / "qvpack"))
QVCFG = Path(os.environ.get("QV_QVCFG", NATIVE_BIN / "qvcfg"))

# The keyed test build trusts the test keys tests/e2e/keys/current and next
# ("other" is nobody's) and only the account servers CMakeLists.txt lists.
KEYED_STARTER = harness.BIN_DIR / "keyed" / "QuorumvesselStarter.exe"
KEYS = harness.SOURCE_DIR / "tests" / "e2e" / "keys"
SIGNED_AT = 1767225600


# The installer must be a program the starter can start: an installer that
# cannot be started ends with its own window text instead of the summary.
# The stand-in service program records its start beside itself and ends.
INSTALLER = harness.BIN_DIR / "fakes" / "QVService.exe"


def make_client(folder, extra=b""):
    """Writes a client folder (a startable installer, sub-folders, random and
    repetitive bytes, an empty file) and returns its files by archive name."""
    files = {
        "QVInstaller.exe": INSTALLER.read_bytes() + extra,
        "bin\\core.dll": os.urandom(70000),
        "bin\\plugins\\text.cfg": b"line\n" * 5000,
        "empty.txt": b"",
    }
    write_files(folder, files)
    return files


def write_files(folder, files):
    for name, data in files.items():
        p = Path(folder) / name.replace("\\", "/")
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)


def pack(folder, archive):
    subprocess.run([str(QVPACK), "pack", str(folder), str(archive)], check=True, stdout=subprocess.DEVNULL,
                   timeout=60)
    return Path(archive).read_bytes()


def settings(address, port, version="9.9.9"):
    return ("<__AccountServerIP__>%s</__AccountServerIP__><__AccountServerPort__>%d</__AccountServerPort__>"
            "<__ClientName__>Quorumvessel</__ClientName__><__Version__>%s</__Version__>" % (address, port, version))


def signing_key(name="current"):
    return KEYS / name / "signing-key.pem"


def key_id(name="current"):
    return (KEYS / name / "signing-key.pub").read_text().strip()[:16]


def sign_package(payload, version, key="current"):
    """The package with a signature member for the version in front."""
    return signhelper.signed_package(signing_key(key), payload, version, SIGNED_AT)


def verified_line(source, package, version, key="current"):
    """The run-log message of a keyed starter that accepted the signed
    package read from source; the signing time is the package's own."""
    statement, _, _, payload = signhelper.split_signed(package)
    signed_at = int(statement.split(b"\nsigned ")[1].split(b"\n")[0])
    return "%s: signature verified: key %s, version %s, %d bytes, signed at %d" % (
        source, key_id(key), version, len(payload), signed_at)


def signature_files(prefix):
    """Every signature member that landed on drive C: (none should)."""
    return [p for p in prefix.drive_c.rglob("*") if p.name.lower() == signhelper.MEMBER.decode()]


def start_starter(prefix, files, env=None, args=(), starter=None):
    """Starts the test build (or the given starter) from C:\\starter with the
    given files beside it."""
    exe = prefix.install_program(starter or harness.TEST_STARTER, "starter")
    for name, data in files.items():
        (exe.parent / name).write_bytes(data)
    return subprocess.Popen(["wine", str(exe), *args], cwd=str(exe.parent), env=prefix.env(env),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)


def wait_for_line(prefix, text, timeout=120):
    """Waits until a run-log message contains text."""
    ok = harness.wait_for(lambda: any(text in m for m in prefix.run_log_messages()), timeout=timeout)
    assert ok, "no %r in the run log:\n%s" % (text, "\n".join(prefix.run_log_messages()))


def run_until(prefix, files, line, env=None, starter=None):
    """Runs the test build (or the given starter) with the files beside it
    until a run-log message contains line; ends its Wine server and gives the
    run-log messages."""
    proc = start_starter(prefix, files, env, starter=starter)
    try:
        wait_for_line(prefix, line)
    finally:
        prefix.stop()
        proc.wait(timeout=60)
    return prefix.run_log_messages()


def assert_unpacked(folder, files):
    for name, data in files.items():
        assert (Path(folder) / name.replace("\\", "/")).read_bytes() == data, name


def read_trace(path):
    """What the test build told its window (QV_TEST_WINDOW_TRACE): a list of
    (message number, text) with line feeds in texts as "\\n"; empty when
    nothing was posted."""
    path = Path(path)
    if not path.exists():
        return []
    return [tuple(line.split(" ", 1)) for line in path.read_text(encoding="utf-8").splitlines()]
