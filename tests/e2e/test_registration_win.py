"""A starter run without settings registers its launch protocol for the
user; the registered command then starts it the way a browser does."""
import os
import sys

import pytest

import harness

sys.path.insert(0, os.path.join(os.environ["QV_SOURCE_DIR"], "tests", "tools"))
import linkhelper  # noqa: E402
from registry import copy_protocol_to_machine, export_key  # noqa: E402

CLASSES = r"HKEY_CURRENT_USER\Software\Classes"
PROTOCOL = CLASSES + r"\Quorumvessel"
COMMAND = PROTOCOL + r"\shell\open\command"
BROWSER = r"HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\ProtocolExecute\Quorumvessel"


def registration(prefix):
    return export_key(prefix, PROTOCOL), export_key(prefix, BROWSER)


def expected_protocol(command):
    return {
        PROTOCOL: {"": "URL:Quorumvessel Starter", "URL Protocol": ""},
        PROTOCOL + r"\shell": {},
        PROTOCOL + r"\shell\open": {},
        COMMAND: {"": command},
    }


def test_run_without_settings_registers_protocol(wine_prefix):
    result = wine_prefix.run_starter(folder="My Tools")
    assert not result.timed_out, result
    protocol, browser = registration(wine_prefix)
    assert protocol == expected_protocol(r'"C:\My Tools\QuorumvesselStarter.exe" %1')
    assert browser == {BROWSER: {"WarnOnOpen": 0}}
    messages = wine_prefix.run_log_messages()
    assert (r"sCurrentFilePath = C:\My Tools\QuorumvesselStarter.exe, "
            r"sCurrentFileName = QuorumvesselStarter.exe") in messages
    assert "sCommandKey = Software\\Classes\\Quorumvessel\\shell\\open\\command" in messages
    assert "No Meeting Parameter, sClientName = Quorumvessel" in messages

    # Moved to another folder: the command follows, nothing else changes.
    result = wine_prefix.run_starter(folder="Other Place")
    assert not result.timed_out, result
    protocol, browser = registration(wine_prefix)
    assert protocol == expected_protocol(r'"C:\Other Place\QuorumvesselStarter.exe" %1')
    assert browser == {BROWSER: {"WarnOnOpen": 0}}


def test_file_without_starter_in_its_name_registers_nothing(wine_prefix):
    before = export_key(wine_prefix, CLASSES)
    result = wine_prefix.run_starter(name="setup.exe", folder="dl")
    assert not result.timed_out, result
    assert export_key(wine_prefix, CLASSES) == before
    assert export_key(wine_prefix, BROWSER) is None
    messages = wine_prefix.run_log_messages()
    assert "invalid sCurrentFileName = setup.exe" in messages
    assert not any(m.startswith("No Meeting Parameter") for m in messages)


def test_registered_command_starts_starter_with_the_link(wine_prefix):
    result = wine_prefix.run_starter(folder="My Tools")
    assert not result.timed_out, result
    protocol, _ = registration(wine_prefix)
    command = protocol[COMMAND][""]

    copy_protocol_to_machine(wine_prefix, PROTOCOL, protocol)

    link = linkhelper.make_link([("meeting_id", "42"), ("role", "attendee"),
                                 ("account_server_ip", "127.0.0.9"), ("port", "9"),
                                 ("version", "5.1.0")])
    log_path = wine_prefix.run_log_path
    if log_path.exists():
        log_path.unlink()
    result = wine_prefix.run("start", [link], timeout=60)
    # The starter receives the bare link as its command line (the protected
    # value and the checksum are logged as their lengths only).
    chk = "&chk=%d" % len(link[link.index("&chk=") + 5:])

    def started():
        return any(m.startswith("m_lpCmdLine = Quorumvessel:sp=") and m.endswith(chk)
                   for m in wine_prefix.run_log_messages())
    assert harness.wait_for(started, timeout=60), (wine_prefix.run_log(), result, command)
    # Its setup run goes on to look for the installed client instead of
    # registering again.
    assert harness.wait_for(
        lambda: "Failed to find any QV installation" in wine_prefix.run_log_messages(),
        timeout=60), wine_prefix.run_log()
    assert not any(m.startswith("No Meeting Parameter") for m in wine_prefix.run_log_messages())


MACHINE_EXEFILE = r"HKEY_LOCAL_MACHINE\Software\Classes\exefile"
MACHINE_HTTP = r"HKEY_LOCAL_MACHINE\Software\Classes\http"
USER_TXTFILE = CLASSES + r"\txtfile"


def add_user_text_class(prefix):
    """A file type of the user's own, as a program may have registered it."""
    for args in (["/ve", "/d", "Text Document"], ["/v", "EditFlags", "/d", "keep"]):
        assert prefix.reg("add", USER_TXTFILE, *args, "/f").returncode == 0
    assert prefix.reg("add", USER_TXTFILE + r"\shell\open\command", "/ve", "/d", 'notepad.exe "%1"',
                      "/f").returncode == 0


@pytest.mark.parametrize("name, prepare, logged", [
    ("exefileStarter.exe", None,
     r"HKEY_CLASSES_ROOT\exefile exists and is not a URL protocol, nothing registered for "
     r"sStarterFile = C:\Downloads\exefileStarter.exe"),
    ("txtfileStarter.exe", add_user_text_class,
     r"Software\Classes\txtfile exists and is not a URL protocol, nothing registered for "
     r"sStarterFile = C:\Downloads\txtfileStarter.exe"),
    ("httpStarter.exe", None,
     r"HKEY_CLASSES_ROOT\http is the URL protocol of another program, nothing registered for "
     r"sStarterFile = C:\Downloads\httpStarter.exe"),
    ("acme-Starter (2).exe", None,
     r"sClientName = acme- is not a plain name, nothing registered for "
     r"sStarterFile = C:\Downloads\acme-Starter (2).exe"),
], ids=["machine-class", "user-class", "machine-protocol", "not-plain"])
def test_file_name_naming_a_class_registers_nothing(wine_prefix, name, prepare, logged):
    """A starter saved under a name that starts with an existing class or
    another program's protocol (or with anything but letters and digits)
    must not take it over: "exefileStarter.exe" would otherwise run itself
    for every program the user starts, "httpStarter.exe" for every web
    link."""
    if prepare:
        prepare(wine_prefix)
    classes = export_key(wine_prefix, CLASSES)
    machine = [export_key(wine_prefix, key) for key in (MACHINE_EXEFILE, MACHINE_HTTP)]
    browser_root = r"HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer"
    browser = export_key(wine_prefix, browser_root)
    assert machine[0][MACHINE_EXEFILE][""] == "Application"
    assert machine[1][MACHINE_HTTP]["URL Protocol"] == ""

    result = wine_prefix.run_starter(name=name, folder="Downloads")
    assert not result.timed_out and result.returncode == 0, result
    assert export_key(wine_prefix, CLASSES) == classes
    assert [export_key(wine_prefix, key) for key in (MACHINE_EXEFILE, MACHINE_HTTP)] == machine
    assert export_key(wine_prefix, browser_root) == browser
    messages = wine_prefix.run_log_messages()
    assert logged in messages
    assert not [m for m in messages if m.startswith("sKey = ") or m.startswith("sCommandKey = ")]
