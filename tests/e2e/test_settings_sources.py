"""The real starter under Wine taking its settings from each source: a launch
link, settings embedded by qvembed, starter.cfg made by qvcfg, and the
parameter files of client-started runs."""

import subprocess
import sys
import urllib.parse

import pytest

import harness

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "tools"))
import linkhelper  # noqa: E402


# The progress dialog keeps the starter alive while its worker runs; it
# needs an X display.
pytestmark = pytest.mark.usefixtures("display")


def start_starter(prefix, args=(), exe=None):
    """Starts the starter in C:\\starter without waiting (its dialog stays
    open); the test fixture ends the prefix's processes."""
    exe = exe or prefix.install_program(harness.STARTER)
    out_dir = prefix.root / "output"
    out_dir.mkdir(exist_ok=True)
    with open(out_dir / "starter.out", "ab") as out:
        return subprocess.Popen(["wine", str(exe)] + list(args), cwd=str(exe.parent), env=prefix.env(),
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)


def wait_for_line(prefix, predicate, timeout=60):
    found = harness.wait_for(lambda: any(predicate(m) for m in prefix.run_log_messages()), timeout=timeout)
    assert found, prefix.run_log()


def run_line(client, version, server="127.0.0.9", port=8890):
    return (f"m_sAccountServerName = {server}, m_iAccountServerPort = {port}, "
            f"m_sClientName = {client}, m_sVersion = {version}")


def wine_tool(prefix, tool, args):
    result = prefix.run(harness.BIN_DIR / f"{tool}.exe", args, timeout=60)
    assert result.returncode == 0, result
    return result


def test_link_reaches_the_worker_and_checks_the_version(wine_prefix):
    appdata = wine_prefix.appdata_dir / "Acme" / "Quorumvessel"
    appdata.mkdir(parents=True)
    (appdata / "version.txt").write_bytes(b"5.0\r\n")
    link = linkhelper.make_link([("account_server_ip", "127.0.0.9"), ("port", "8890"), ("client_name", "Acme"),
                                 ("version", "5.2.1"), ("role", "host"), ("meeting_password", "SeCrEt-1"),
                                 ("user_password", "PaSs-2")])
    start_starter(wine_prefix, [link])
    wait_for_line(wine_prefix, lambda m: m.startswith("sExistingVersion is "))
    messages = wine_prefix.run_log_messages()
    client_dir = wine_prefix.to_windows(appdata)
    assert run_line("Acme", "5.2.1") in messages
    assert f"sVersionFileName is {client_dir}\\version.txt" in messages
    assert f"sExistingVersion is 5.0, m_sClientDirectory = {client_dir}" in messages
    sp_encoded = link.split("sp=")[1].split("&")[0]
    chk_encoded = link.split("chk=")[1]
    sp = urllib.parse.unquote_plus(sp_encoded)
    # The checksum is a digest of the plain query: only its length is logged.
    assert f"m_lpCmdLine = Quorumvessel:sp={len(sp_encoded)}&chk={len(chk_encoded)}" in messages
    assert f"sParameter = {len(sp)}, sCheckSum = {len(urllib.parse.unquote_plus(chk_encoded))}" in messages
    log = wine_prefix.run_log()
    assert "<__MeetingPassword__>********</__MeetingPassword__>" in log
    assert "<__UserPassword__>********</__UserPassword__>" in log
    for secret in ("SeCrEt-1", "PaSs-2", sp[:16], sp_encoded[:16], chk_encoded[:16]):
        assert secret not in log


def test_qvembed_copy_runs_with_its_settings(wine_prefix):
    exe = wine_prefix.drive_c / "starter" / "QuorumvesselStarter.exe"
    exe.parent.mkdir(parents=True)
    wine_tool(wine_prefix, "qvembed", [wine_prefix.to_windows(harness.STARTER), wine_prefix.to_windows(exe),
                                       "role=host", "client_name=Emb", "version=7.1",
                                       "account_server_ip=127.0.0.9", "port=8890"])
    start_starter(wine_prefix, exe=exe)
    wait_for_line(wine_prefix, lambda m: m == run_line("Emb", "7.1"))
    messages = wine_prefix.run_log_messages()
    assert "Valid sSetting" in messages
    assert "Invalid setting" not in messages


def test_plain_copy_without_any_source_registers(wine_prefix):
    result = wine_prefix.run_starter()
    assert not result.timed_out and result.returncode == 0, result
    entries = wine_prefix.run_log_entries()
    messages = [e.message for e in entries]
    assert "Invalid setting" in messages
    assert "Failed to open sFileName starter.cfg" in messages
    assert "Failed to open sFileName starter.txt" in messages
    assert "No Meeting Parameter, sClientName = Quorumvessel" in messages
    assert not any(e.function.startswith("SetupHandler::Run") for e in entries)


@pytest.mark.parametrize("package_files, available", [
    (("PCClient", "PCClientAccessory"), True),
    (("PCClient.zip", "PCClientAccessory.zip"), False),
    (("PCClient",), False),
])
def test_starter_cfg_from_qvcfg(make_prefix, package_files, available):
    prefix = make_prefix("_".join(package_files).replace(".", "_"))
    folder = prefix.drive_c / "starter"
    folder.mkdir(parents=True)
    plain = folder / "settings.txt"
    plain.write_bytes(b"<__Role__>host</__Role__><__ClientName__>Cfg</__ClientName__><__Version__>3.3</__Version__>"
                      b"<__AccountServerIP__>127.0.0.9</__AccountServerIP__>"
                      b"<__AccountServerPort__>8890</__AccountServerPort__>")
    wine_tool(prefix, "qvcfg", ["mask", prefix.to_windows(plain), prefix.to_windows(folder / "starter.cfg")])
    plain.unlink()
    for name in package_files:
        (folder / name).write_bytes(b"x")
    start_starter(prefix)
    wait_for_line(prefix, lambda m: m == run_line("Cfg", "3.3"))
    messages = prefix.run_log_messages()
    assert "Loaded starter.cfg successfully" in messages
    assert ("both client files are available" in messages) == available


@pytest.mark.parametrize("flag", ["--called_by_client_to_sync", "--called_by_downloader"])
def test_client_called_runs_read_their_parameter_file(make_prefix, flag):
    prefix = make_prefix(flag.strip("-"))
    folder = prefix.drive_c / "starter"
    if flag == "--called_by_downloader":
        parameter_file = prefix.temp_dir / "rsp1024hcmd.txt"
        windows_file = "C:\\users\\%s\\Temp\\rsp1024hcmd.txt" % prefix.user
        read_line = "Read from sCommandParameterFile " + windows_file
    else:
        parameter_file = folder / "Quorumvessel" / "rsp1024hcmd.txt"
        windows_file = "C:\\starter\\Quorumvessel\\rsp1024hcmd.txt"
        read_line = "Read from sCommandParameterFile = " + windows_file

    # Missing: the run ends after InitializeSetup and tells the window.
    start_starter(prefix, [flag])
    wait_for_line(prefix, lambda m: m == "InitializeSetup() failed")
    messages = prefix.run_log_messages()
    assert "Delay to load setting" in messages
    assert f"failed to load {windows_file}" in messages
    assert not any(m.startswith("sVersionFileName is") for m in messages)
    prefix.stop()

    # Present: its settings are taken, the folders refined from the client's
    # directory file, and the version check skipped.
    parameter_file.parent.mkdir(parents=True, exist_ok=True)
    parameter_file.write_bytes(b"<__SetupDirectory__></__SetupDirectory__>\r\n<__Role__>host</__Role__>"
                               b"<__ClientName__>Sync</__ClientName__><__Version__>9</__Version__>"
                               b"<__AccountServerIP__>127.0.0.9</__AccountServerIP__>"
                               b"<__AccountServerPort__>8890</__AccountServerPort__>")
    (folder / "Quorumvessel").mkdir(parents=True, exist_ok=True)
    (folder / "Quorumvessel" / "QVServiceCache.txt").write_bytes(
        b"<__DESKTOP_DIRECTORY__>D:\\desk</__DESKTOP_DIRECTORY__>")
    start_starter(prefix, [flag])
    wait_for_line(prefix, lambda m: m == run_line("Sync", ""))
    messages = prefix.run_log_messages()
    assert read_line in messages
    assert "Refine directory by C:\\starter\\Quorumvessel\\QVServiceCache.txt" in messages
    assert ("Refined directories:  m_sUserApplicationDirectory = ; m_sDesktopDirectory = D:\\desk, "
            "m_sStartMenuDirectory = ") in messages
    assert not any(m.startswith("sVersionFileName is") for m in messages)
