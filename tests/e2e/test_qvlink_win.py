"""The Windows build of qvlink makes and reads the same links."""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.environ["QV_SOURCE_DIR"], "tests", "tools"))
import linkhelper  # noqa: E402

QVLINK = os.path.join(os.environ["QV_BIN_DIR"], "qvlink.exe")
WINE_RUN = os.environ["QV_WINE_RUN"]


def run_qvlink(*args, stdin=b""):
    # Output goes to files: Wine's helpers may keep a pipe open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.TemporaryFile() as inp:
        inp.write(stdin)
        inp.seek(0)
        rc = subprocess.run([WINE_RUN, QVLINK, *args], stdin=inp, stdout=out, stderr=err,
                            timeout=120).returncode
        out.seek(0)
        err.seek(0)
        return rc, out.read().decode(), err.read().decode()


def test_windows_qvlink_round_trip_with_helper():
    pairs = [("meeting_id", "42"), ("name", "Jo \u00e9 Ann"), ("role", "host")]
    stdin = "".join("%s=%s\n" % p for p in pairs).encode()
    rc, out, err = run_qvlink("make", stdin=stdin)
    assert rc == 0, err
    link = out.strip()
    assert linkhelper.read_link(link) == pairs

    rc, out, err = run_qvlink("read", linkhelper.make_link(pairs, scheme="Fernbrook"))
    assert rc == 0, err
    assert out.replace("\r\n", "\n") == "".join("%s=%s\n" % p for p in pairs)


def test_windows_qvlink_refuses_damaged_link():
    rc, out, err = run_qvlink("read", "Quorumvessel:sp=abc&chk=def")
    assert rc == 1
    assert "Checksum mismatch" in err
