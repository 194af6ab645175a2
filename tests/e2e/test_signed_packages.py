"""Signed packages under Wine. The keyed test build (bin/keyed) trusts the
test keys tests/e2e/keys/current and next and only the account server
127.0.71.60: it unpacks a downloaded or delivered package only when its
signature verifies and describes exactly the bytes that follow it and the
version the run asked for; anything else is removed unopened, with nothing
unpacked or started and the window saying so. The ordinary test build
installs signed and unsigned packages alike. Neither ever writes the
signature member to disk."""

import hashlib
import subprocess
import sys

import pytest

import harness
from clientfamily import QVLINK, client_folder, read_window, records
from packagekit import (KEYED_STARTER, QVCFG, QVPACK, key_id, pack, read_trace, settings, sign_package,
                        signature_files, verified_line, write_files)

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402

pytestmark = [
    pytest.mark.usefixtures("display"),
    pytest.mark.skipif(not (QVPACK.exists() and QVCFG.exists() and QVLINK.exists()),
                       reason="needs the native operator tools (build preset native)"),
]

ALLOWED = "127.0.71.60"  # the keyed build's only account server
OUTSIDE = "127.0.71.61"
VERSION = "5.2"
VERIFY_FAILED = "Unable to verify Quorumvessel. Please try it again"
SERVER_REFUSED = "Unable to use this account server with Quorumvessel"
SUMMARY_START = "Setup Quorumvessel ...\\n\\nSummary - average speed: "


def sign(payload, name="current", version=VERSION):
    return sign_package(payload, version, name)


@pytest.fixture
def client(tmp_path):
    """The client's files and the unsigned package of them."""
    files = client_folder(tmp_path / "client", installer_options="--stay-ms=0\r\n", client_options="")
    return files, pack(tmp_path / "client", tmp_path / "PCClient.zip")


def run_starter(prefix, beside, package=None, final=None, starter=KEYED_STARTER, server=ALLOWED,
                setup=None):
    """Runs a starter from C:\\starter with the files beside it, against an
    account server on `server` offering the package, until the window shows
    the final text (without one: until the installer in `setup` has been
    started). Gives what was posted to the window, what the window shows and
    the requests the server received."""
    exe = prefix.install_program(starter, "starter")
    write_files(exe.parent, beside)
    trace = prefix.root / "window.txt"
    setup = setup or prefix.temp_dir / "qv_starter_dir"
    with AccountServer([(server, 8889)], package=package) as srv:
        run = prefix.start(exe, cwd=exe.parent, env={"QV_TEST_WINDOW_TRACE": prefix.to_windows(trace)})

        def ended():
            if final is None:
                return records(setup, "QVInstaller")
            finals = [t for n, t in read_trace(trace) if n == "6042"]
            return finals and finals[-1] == final
        assert harness.wait_for(ended, timeout=120), (read_trace(trace), prefix.run_log_messages())
        shown = read_window(prefix, close=True)
        result = run.wait(timeout=60)
        assert not result.timed_out and result.returncode == 0, result
        requests = srv.requests
    return read_trace(trace), shown, requests


def download_settings(server=ALLOWED, version=VERSION):
    return {"starter.txt": settings(server, 8889, version).encode()}


@pytest.mark.parametrize("signer", ["current", "next"])
def test_keyed_build_installs_a_package_signed_with_either_key(wine_prefix, client, signer):
    files, payload = client
    package = sign(payload, signer)
    posted, shown, _ = run_starter(wine_prefix, download_settings(), package)
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    archive = wine_prefix.to_windows(wine_prefix.temp_dir) + "\\PCClient.zip"
    assert verified_line(archive, package, VERSION, signer) in wine_prefix.run_log_messages()
    for name, data in files.items():
        assert (setup / name).read_bytes() == data, name
    assert (setup / "QVLauncher.exe").read_bytes() == files["QVInstaller.exe"]
    assert signature_files(wine_prefix) == []
    assert len(records(setup, "QVInstaller")) == 1
    assert shown["status"].startswith(SUMMARY_START)
    assert VERIFY_FAILED not in [t for _, t in posted]


def flip_last_byte(package):
    return package[:-1] + bytes([package[-1] ^ 1])


REFUSALS = {
    "one-byte-changed": (lambda payload: flip_last_byte(sign(payload)),
                         lambda payload: "hash mismatch: signed %s, received %s" % (
                             hashlib.sha256(payload).hexdigest(), hashlib.sha256(flip_last_byte(payload)).hexdigest())),
    "unsigned": (lambda payload: payload,
                 lambda payload: "the package is not signed (its first member is not .qvsignature)"),
    "other-key": (lambda payload: sign(payload, "other"),
                  lambda payload: "the package is signed with key %s, which this build does not trust" % key_id("other")),
    "older-version": (lambda payload: sign(payload, version="5.1"),
                      lambda payload: "version mismatch: signed 5.1, requested 5.2"),
}


@pytest.mark.parametrize("case", sorted(REFUSALS))
def test_keyed_build_refuses_a_package_that_does_not_verify(wine_prefix, client, case):
    make, reason = REFUSALS[case]
    _, payload = client
    posted, shown, requests = run_starter(wine_prefix, download_settings(), make(payload), final=VERIFY_FAILED)
    messages = wine_prefix.run_log_messages()
    archive = wine_prefix.to_windows(wine_prefix.temp_dir) + "\\PCClient.zip"
    assert "%s refused: %s" % (archive, reason(payload)) in messages
    assert [m for m in messages if " refused: " in m] == ["%s refused: %s" % (archive, reason(payload))]
    assert shown == {"status": VERIFY_FAILED, "progress": "0"}
    assert posted[-1] == ("6042", VERIFY_FAILED)
    # Downloaded, then removed; nothing unpacked (the setup folder is not even made), nothing started.
    assert [r.path for r in requests] == ["/as/wapi/get_client_size", "/as/wapi/get_client"]
    assert not (wine_prefix.temp_dir / "PCClient.zip").exists()
    assert not (wine_prefix.temp_dir / "qv_starter_dir").exists()
    assert signature_files(wine_prefix) == []
    assert not [m for m in messages if m.startswith(("StartProcess(", "enter ", "Uncompress "))]


def delivered(tmp_path, client_package, accessory_package):
    plain = tmp_path / "settings.txt"
    plain.write_text(settings(ALLOWED, 8889, VERSION))
    subprocess.run([str(QVCFG), "mask", str(plain), str(tmp_path / "starter.cfg")], check=True, timeout=60)
    return {"starter.cfg": (tmp_path / "starter.cfg").read_bytes(), "PCClient": client_package,
            "PCClientAccessory": accessory_package}


ACCESSORY = {"tool.exe": b"MZ tool", "res\\a.txt": b"accessory"}


@pytest.fixture
def accessory(tmp_path):
    write_files(tmp_path / "accessory", ACCESSORY)
    return pack(tmp_path / "accessory", tmp_path / "PCClientAccessory.zip")


def test_keyed_build_installs_signed_delivered_packages(wine_prefix, client, accessory, tmp_path):
    files, payload = client
    beside = delivered(tmp_path, sign(payload), sign(accessory, "next"))
    setup = wine_prefix.drive_c / "starter" / "qv_starter_dir"
    posted, shown, requests = run_starter(wine_prefix, beside, setup=setup)
    messages = wine_prefix.run_log_messages()
    assert verified_line("PCClient", beside["PCClient"], VERSION) in messages
    assert verified_line("PCClientAccessory", beside["PCClientAccessory"], VERSION, "next") in messages
    for name, data in files.items():
        assert (setup / name).read_bytes() == data, name
    for name, data in ACCESSORY.items():
        assert (setup / "Accessory" / name.replace("\\", "/")).read_bytes() == data, name
    assert signature_files(wine_prefix) == []
    assert requests == []
    assert shown["status"] == "Setup Quorumvessel ..."


@pytest.mark.parametrize("bad", ["PCClient", "PCClientAccessory"])
def test_keyed_build_refuses_a_delivered_package_that_does_not_verify(wine_prefix, client, accessory, tmp_path, bad):
    _, payload = client
    client_package = flip_last_byte(sign(payload)) if bad == "PCClient" else sign(payload)
    accessory_package = accessory if bad == "PCClientAccessory" else sign(accessory)
    beside = delivered(tmp_path, client_package, accessory_package)
    posted, shown, requests = run_starter(wine_prefix, beside, final=VERIFY_FAILED)
    messages = wine_prefix.run_log_messages()
    reason = ("hash mismatch: signed %s, received %s" % (hashlib.sha256(payload).hexdigest(),
                                                         hashlib.sha256(flip_last_byte(payload)).hexdigest())
              if bad == "PCClient" else "the package is not signed (its first member is not .qvsignature)")
    assert "%s refused: %s" % (bad, reason) in messages
    assert shown == {"status": VERIFY_FAILED, "progress": "0"}
    starter = wine_prefix.drive_c / "starter"
    # The refused file is removed; the package beside it is left as it was.
    assert not (starter / bad).exists()
    if bad == "PCClientAccessory":
        assert (starter / "PCClient").read_bytes() == client_package
    else:
        assert (starter / "PCClientAccessory").read_bytes() == accessory_package
    assert not (starter / "qv_starter_dir").exists()
    assert requests == []
    assert not [m for m in messages if m.startswith(("StartProcess(", "enter ", "Uncompress "))]


def test_keyed_build_sends_no_request_to_a_server_outside_its_list(wine_prefix, client):
    _, payload = client
    posted, shown, requests = run_starter(wine_prefix, download_settings(server=OUTSIDE), sign(payload),
                                          final=SERVER_REFUSED, server=OUTSIDE)
    messages = wine_prefix.run_log_messages()
    assert ('account server "%s" is not one of QV_ACCOUNT_SERVERS of this build, refused' % OUTSIDE) in messages
    assert requests == []
    assert posted == [("6042", SERVER_REFUSED)]
    assert shown == {"status": SERVER_REFUSED, "progress": "0"}
    assert not [m for m in messages if m.startswith(("sVersionFileName is ", "StartProcess("))]


@pytest.mark.parametrize("signed", [True, False], ids=["signed", "unsigned"])
def test_unkeyed_build_installs_signed_and_unsigned_packages(wine_prefix, client, signed):
    files, payload = client
    # Signed for another version by a key of nobody's: the ordinary build does not look.
    package = sign(payload, "other", version="1.0") if signed else payload
    posted, shown, _ = run_starter(wine_prefix, download_settings(server="127.0.71.62"), package,
                                   starter=harness.TEST_STARTER, server="127.0.71.62")
    setup = wine_prefix.temp_dir / "qv_starter_dir"
    for name, data in files.items():
        assert (setup / name).read_bytes() == data, name
    assert signature_files(wine_prefix) == []
    assert not [m for m in wine_prefix.run_log_messages() if "signature" in m]
    assert shown["status"].startswith(SUMMARY_START)
