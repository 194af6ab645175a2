"""Steps of the setup run that depend on the system around the starter:
the account server's installation report and the launcher edition's
branches for the Windows version a prefix reports (run through the Windows
test program in a private prefix with the server or version in place), and
the launch of a current client by the starter itself."""
import os
import re
import sys

import pytest

import harness

sys.path.insert(0, os.path.join(os.environ["QV_SOURCE_DIR"], "tests", "server"))
from accountserver import AccountServer  # noqa: E402

sys.path.insert(0, os.path.join(os.environ["QV_SOURCE_DIR"], "tests", "tools"))
import linkhelper  # noqa: E402

WIN_TESTS = harness.BIN_DIR / "qvwin_tests.exe"


def run_win_test(prefix, test_filter, env=None):
    result = prefix.run(WIN_TESTS, [f"--gtest_filter={test_filter}"], timeout=180, env=env)
    assert not result.timed_out, result
    # Passed, and really run: the test skips itself where it does not apply.
    assert result.returncode == 0, result.stdout
    assert "[  PASSED  ] 1 test." in result.stdout, result.stdout
    assert "SKIPPED" not in result.stdout, result.stdout
    return result


def set_windows_version(prefix, version):
    result = prefix.run("reg", ["add", r"HKCU\Software\Wine", "/v", "Version", "/d", version, "/f"])
    assert result.returncode == 0, result


def test_installation_report_reaches_the_account_server(wine_prefix):
    with AccountServer([("127.0.0.9", 0)], user_input="abc") as server:
        address = f"127.0.0.9:{server.port(0)}"
        result = run_win_test(wine_prefix, "InformServerOfInstallation.*",
                              env={"QV_TEST_SERVER": address, "QV_TEST_USER_INPUT": "abc"})
        reports = server.requests_for("/as/wapi/ssi")
    # Only the call with both a sid and a server made a request; the sid
    # travels as it is, followed by the random parameter.
    assert len(reports) == 1, [r.target for r in server.requests()]
    assert reports[0].method == "GET"
    assert reports[0].target.startswith("/as/wapi/ssi?sid=4f2a-9+x&"), reports[0].target
    logged = re.search(r"REPORT-LOG sURL = (\S+), sReturn = (.*)", result.stdout)
    assert logged, result.stdout
    # The logged path is the one sent (the HTTP client may add its own
    # parameter further down).
    assert reports[0].target.startswith(logged.group(1)), (logged.group(1), reports[0].target)
    assert logged.group(2).strip() == "<__UserInput__>abc</__UserInput__>"


@pytest.mark.parametrize("version,test_name", [
    ("winxp", "CallToInstall.SaltmarshOnXPStartsLauncherElseInstaller"),
    ("win7", "CallToInstall.SaltmarshLaterThanXPUsesTheShell"),
])
def test_launcher_edition_follows_windows_version(make_prefix, version, test_name):
    prefix = make_prefix(version)
    set_windows_version(prefix, version)
    run_win_test(prefix, test_name)


def test_current_client_is_launched_and_starter_ends(wine_prefix):
    client = wine_prefix.drive_c / "starter dir" / "Quorumvessel"
    client.mkdir(parents=True)
    (client / "version.txt").write_bytes(b"5.1.0\r\n")
    (client / "setup_status.txt").write_bytes(b"<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>")
    (client / "Quorumvessel.exe").write_bytes((harness.BIN_DIR / "fakes" / "Quorumvessel.exe").read_bytes())
    link = linkhelper.make_link([("meeting_id", "42"), ("role", "attendee"),
                                 ("account_server_ip", "127.0.0.9"), ("port", "9"),
                                 ("version", "5.1.0")])
    result = wine_prefix.run_starter([link], folder="starter dir", timeout=120)
    assert not result.timed_out, result
    assert result.returncode == 0, result
    record = harness.wait_for(lambda: (client / "Quorumvessel.record.txt").exists() and
                              "end\n" in (client / "Quorumvessel.record.txt").read_text())
    assert record, wine_prefix.run_log()
    # Folder texts may carry a doubled separator where a folder with a
    # trailing backslash is joined; Windows reads both forms alike.
    lines = dict(l.replace("\\\\", "\\").split("=", 1)
                 for l in (client / "Quorumvessel.record.txt").read_text().splitlines() if "=" in l)
    command_file = r"C:\starter dir\Quorumvessel\rsp1024hcmd.txt"
    assert lines["commandline"] == rf'"C:\starter dir\Quorumvessel\Quorumvessel.exe" --program {command_file}'
    assert lines["directory"] == r"C:\starter dir\Quorumvessel"
    text = (client / "rsp1024hcmd.txt").read_bytes().replace(b"\\\\", b"\\")
    assert text.startswith(b"<__SetupDirectory__></__SetupDirectory__>\r\n"
                           b"<__SetupFile__>C:\\starter dir\\QuorumvesselStarter.exe</__SetupFile__>\r\n")
    assert b"<__SkippedDownload__>Y</__SkippedDownload__>\r\n" in text
    # Started with a command line: the starter is not to be removed.
    assert b"NeedToRemoveSetup" not in text
    assert (client / "setup_status.txt").read_bytes() == \
        b"<__ClientCalledToLaunch__>Y</__ClientCalledToLaunch__>"
