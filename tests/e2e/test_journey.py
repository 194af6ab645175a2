"""The starter's journey as a user meets it, under Wine against the local
account server: a fresh copy registers its protocol; a page's link started
through that registration downloads, unpacks and installs the client; the
next link launches the installed client; embedded settings, starter.cfg
with delivered packages, a run started by the client and a run behind a
proxy do their part of the same journey. The link's run is the keyed test
build's, with a package signed with the current key; the other runs are the
ordinary test build's, with signed packages too. The fake client family
stands in for the client: its installer really installs, its client confirms
its launch."""

import os
import re
import subprocess
import sys

import pytest

import harness
import hlibclient
from clientfamily import (QVEMBED, QVLINK, changes, client_folder, client_package, embed_settings, events,
                          listing, make_link, read_window, records, settings_for_link,
                          wait_for_event)
from packagekit import (KEYED_STARTER, QVCFG, QVPACK, pack, read_trace, settings, sign_package, signature_files,
                        verified_line)
from registry import copy_protocol_to_machine, export_key

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402

pytestmark = [
    pytest.mark.usefixtures("display"),
    pytest.mark.skipif(not all(p.exists() for p in (QVPACK, QVLINK, QVEMBED, QVCFG)),
                       reason="needs the native operator tools (build preset native)"),
]

USER_PROTOCOL = r"HKEY_CURRENT_USER\Software\Classes\Quorumvessel"
COMMAND_KEY = USER_PROTOCOL + r"\shell\open\command"
BROWSER_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\ProtocolExecute\Quorumvessel"
SUMMARY = re.compile(r"^Setup Quorumvessel \.\.\.\\n\\nSummary - average speed: \d+ kbps, total time: \d+ seconds$")

# Loopback addresses of this file's servers (other test files use others).
ADDR_LINK = "127.0.70.2"  # one of the keyed build's account servers
ADDR_EMBEDDED = "127.0.70.4"
ADDR_DELIVERED = "127.0.70.5"
ADDR_SYNC = "127.0.70.6"
ADDR_PROXIED = "127.0.70.7"
ADDR_PROXY = "127.0.70.8"


class Places:
    """Where the starter and the fake family put things in a prefix, as
    Linux paths and in the Windows form the starter writes."""

    def __init__(self, prefix, starter_folder="starter"):
        self.prefix = prefix
        self.starter_dir = prefix.drive_c / starter_folder
        self.setup = prefix.temp_dir / "qv_starter_dir"
        self.client = prefix.appdata_dir / "Quorumvessel" / "Quorumvessel"
        self.trace = prefix.root / "window.txt"

    def win(self, path):
        return self.prefix.to_windows(path)

    def trace_env(self, extra=None):
        return dict(extra or {}, QV_TEST_WINDOW_TRACE=self.win(self.trace))

    def header(self, setup_dir, extra=""):
        """Head of the command file the starter writes before the settings."""
        starter = self.win(self.starter_dir)
        return ("<__SetupDirectory__>%s</__SetupDirectory__>\n"
                "<__SetupFile__>%s\\QuorumvesselStarter.exe</__SetupFile__>\n"
                "<__SetupFileName__>QuorumvesselStarter.exe</__SetupFileName__>\n"
                "<__SetupConfigureFile__>%s\\starter.cfg</__SetupConfigureFile__>\n%s"
                % (self.win(setup_dir) if setup_dir else "", starter, starter, extra))

    def expect_installed(self, version, files, installer_args, launches=1):
        """The installer was started in the setup folder with the starter's
        command line, installed the client of the version into the user's
        application folder and started it; the client confirmed (its
        launches-th start)."""
        wait_for_event(self.client, "Quorumvessel", "launch confirmed", count=launches)
        setup = self.win(self.setup)
        started = records(self.setup, "QVInstaller")
        assert [(r["commandline"], r["directory"]) for r in started] == \
            [('"%s\\QVInstaller.exe" %s' % (setup, installer_args), setup)]
        assert events(self.setup, "QVInstaller") == ["installed %s %s" % (self.win(self.client), version),
                                                     "client started"]
        assert (self.client / "Quorumvessel.exe").read_bytes() == files["Quorumvessel.exe"]
        assert (self.client / "version.txt").read_bytes() == version.encode() + b"\r\n"
        assert (self.client / "setup_status.txt").read_bytes() == \
            b"<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>"

    def expect_launched(self, launches):
        """The starter launched the installed client itself (the launches-th
        start of the client) with "--program" and its command file."""
        wait_for_event(self.client, "Quorumvessel", "launch confirmed", count=launches)
        harness.wait_for(lambda: len(records(self.client, "Quorumvessel")) >= launches)
        client = self.win(self.client)
        last = records(self.client, "Quorumvessel")[launches - 1]
        assert last["commandline"] == '"%s\\Quorumvessel.exe" --program %s\\rsp1024hcmd.txt' % (client, client)
        assert last["directory"] == client
        assert "Skip installation --- Utility::StartProcess(%s, %s)" % (last["commandline"], client) in \
            self.prefix.run_log_messages()


def start_through_registration(prefix, link, env):
    """Starts the starter the way a browser opens the link: through the
    shell and the registered protocol."""
    protocol = export_key(prefix, USER_PROTOCOL)
    copy_protocol_to_machine(prefix, USER_PROTOCOL, protocol)
    prefix.start("start", [link], env=env, name="browser")


def registered_program(prefix):
    command = export_key(prefix, COMMAND_KEY)[COMMAND_KEY][""]
    m = re.fullmatch(r'"([^"]+)" %1', command)
    assert m, command
    return prefix.to_linux(m.group(1))


# ---------------------------------------------------------------------------

def test_fresh_copy_registers_its_protocol_and_ends_without_a_window(wine_prefix, private_display):
    exe = wine_prefix.install_program(harness.STARTER, "Downloads")
    before = listing(wine_prefix.drive_c)
    run = wine_prefix.start(exe, cwd=exe.parent, env={"DISPLAY": private_display})
    windows = []
    while run.running():
        found = subprocess.run(["xdotool", "search", "--name", "^Bootkin$"], env=dict(os.environ, DISPLAY=private_display),
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30).stdout.split()
        windows += found
    result = run.wait(timeout=60)
    assert not result.timed_out and result.returncode == 0, result
    assert windows == []
    after = listing(wine_prefix.drive_c)
    assert export_key(wine_prefix, USER_PROTOCOL) == {
        USER_PROTOCOL: {"": "URL:Quorumvessel Starter", "URL Protocol": ""},
        USER_PROTOCOL + r"\shell": {}, USER_PROTOCOL + r"\shell\open": {},
        COMMAND_KEY: {"": r'"C:\Downloads\QuorumvesselStarter.exe" %1'}}
    assert export_key(wine_prefix, BROWSER_KEY) == {BROWSER_KEY: {"WarnOnOpen": 0}}
    # Nothing but its run log and its configuration cache.
    user = "users/%s/" % wine_prefix.user
    assert changes(before, after) == [user + "AppData/Local/Quorumvessel",
                                      user + "AppData/Local/Quorumvessel/QVStarterCache.txt",
                                      user + "Temp/QVSetup.txt"]
    assert "No Meeting Parameter, sClientName = Quorumvessel" in wine_prefix.run_log_messages()


def test_link_installs_the_client_and_the_next_link_launches_it(wine_prefix, tmp_path):
    prefix, places = wine_prefix, Places(wine_prefix)
    files, payload = client_package(tmp_path)
    package = sign_package(payload, "5.1.0")
    exe = prefix.install_program(KEYED_STARTER, "starter")
    assert prefix.run(exe, cwd=exe.parent).returncode == 0
    first = {"meeting_id": "4711", "role": "attendee", "name": "Ann Example", "email": "ann@example.test",
             "account_server_ip": ADDR_LINK, "port": "8889", "version": "5.1.0", "client_name": "Quorumvessel"}
    second = dict(first, meeting_id="4712", role="host", meeting_password="pw 2")
    with AccountServer([(ADDR_LINK, 8889)], package=package) as srv:
        # A few seconds of transfer, so the window can be seen at work.
        srv.set_fault(path="/as/wapi/get_client", rate=len(package) // 4, times=1)
        link = make_link(first)
        start_through_registration(prefix, link, places.trace_env())
        assert harness.wait_for(lambda: [n for n, _ in read_trace(places.trace) if n == "6041"], timeout=120)
        assert read_window(prefix) == {"status": "Downloading Quorumvessel ...", "progress": "1"}
        places.expect_installed("5.1.0", files, link)
        archive = places.win(prefix.temp_dir) + "\\PCClient.zip"
        assert verified_line(archive, package, "5.1.0") in prefix.run_log_messages()
        paths = [r.path for r in srv.requests]
        srv.clear()

        # The window showed the download from start to summary.
        posted = read_trace(places.trace)
        assert posted[:2] == [("6039", "Connecting ..."), ("6040", "Downloading Quorumvessel ...")]
        assert {n for n, _ in posted[2:-1]} <= {"6041"} and posted[-1][0] == "6042"
        assert SUMMARY.match(posted[-1][1]), posted[-1]
        # A link carries no starter sid: no installation report.
        assert paths == ["/as/wapi/get_client_size", "/as/wapi/get_client"]
        assert (places.setup / "rsp1024hcmd.txt").read_bytes() == \
            (places.header(places.setup) + settings_for_link(first)).replace("\n", "\r\n").encode()
        # The summary stays until the user closes the window.
        assert read_window(prefix, close=True) == {"status": posted[-1][1], "progress": "0"}

        # The next link: the installed client is current and confirmed its
        # last launch, so it is launched at once and the starter ends.
        run = prefix.start(registered_program(prefix), [make_link(second)], cwd=prefix.drive_c,
                           env=places.trace_env(), name="second")
        result = run.wait(timeout=120)
        assert not result.timed_out and result.returncode == 0, result
        places.expect_launched(2)
        assert srv.requests == []
    assert read_trace(places.trace) == posted
    assert (places.client / "rsp1024hcmd.txt").read_bytes() == (
        places.header(None, "<__SkippedDownload__>Y</__SkippedDownload__>\n") + settings_for_link(second)
    ).replace("\n", "\r\n").encode()
    messages = prefix.run_log_messages()
    assert ("Existing version is current, m_bCalledByClientToSyncVersion = N, m_sClientDirectory = %s"
            % places.win(places.client)) in messages
    assert signature_files(prefix) == []


def test_embedded_settings_install_and_then_launch_without_a_command_line(wine_prefix, tmp_path):
    prefix, places = wine_prefix, Places(wine_prefix)
    files, payload = client_package(tmp_path)
    package = sign_package(payload, "6.0.2")
    params = {"meeting_id": "88", "role": "host", "account_server_ip": ADDR_EMBEDDED, "port": "8889",
              "version": "6.0.2", "client_name": "Quorumvessel"}
    exe = embed_settings(harness.TEST_STARTER, places.starter_dir / "QuorumvesselStarter.exe", params)
    with AccountServer([(ADDR_EMBEDDED, 8889)], package=package) as srv:
        prefix.start(exe, cwd=exe.parent, env=places.trace_env())
        # Started with no command line: the installer gets its quoted path and one blank.
        places.expect_installed("6.0.2", files, "")
        assert [r.path for r in srv.requests] == ["/as/wapi/get_client_size", "/as/wapi/get_client"]
        assert "Valid sSetting" in prefix.run_log_messages()
        assert SUMMARY.match(read_window(prefix, close=True)["status"])
        srv.clear()

        result = prefix.run(exe, cwd=exe.parent, timeout=120)
        assert not result.timed_out and result.returncode == 0, result
        places.expect_launched(2)
        assert srv.requests == []
    # Without a command line the client is asked to remove the setup.
    assert (places.client / "rsp1024hcmd.txt").read_bytes() == (places.header(
        None, "<__NeedToRemoveSetup__>Y</__NeedToRemoveSetup__>\n<__SkippedDownload__>Y</__SkippedDownload__>\n")
        + settings_for_link(params)).replace("\n", "\r\n").encode()


def test_starter_cfg_with_delivered_packages_installs_without_any_network(wine_prefix, tmp_path):
    prefix, places = wine_prefix, Places(wine_prefix)
    files = client_folder(tmp_path / "client")
    plain = tmp_path / "settings.txt"
    plain.write_text(settings(ADDR_DELIVERED, 8889, "7.0") + "<__Role__>attendee</__Role__>")
    exe = prefix.install_program(harness.TEST_STARTER, "starter")
    subprocess.run([str(QVCFG), "mask", str(plain), str(places.starter_dir / "starter.cfg")], check=True, timeout=60)
    (places.starter_dir / "PCClient").write_bytes(sign_package(pack(tmp_path / "client", tmp_path / "p1"), "7.0"))
    (places.starter_dir / "PCClientAccessory").write_bytes(
        sign_package(pack(tmp_path / "client", tmp_path / "p2"), "7.0", "next"))
    places.setup = places.starter_dir / "qv_starter_dir"
    with AccountServer([(ADDR_DELIVERED, 8889)], package=b"never asked for") as srv:
        prefix.start(exe, cwd=exe.parent, env=places.trace_env())
        places.expect_installed("7.0", files, "")
        assert srv.requests == []
    assert (places.setup / "Accessory" / "Quorumvessel.exe").read_bytes() == files["Quorumvessel.exe"]
    assert signature_files(prefix) == []
    assert not (places.starter_dir / "PCClient").exists() and not (places.starter_dir / "PCClientAccessory").exists()
    assert (places.setup / "rsp1024hcmd.txt").read_bytes() == (places.header(
        places.setup, "<__NeedToRemoveSetup__>Y</__NeedToRemoveSetup__>\n") + plain.read_text()
    ).replace("\n", "\r\n").encode()
    assert "Download is not needed" in prefix.run_log_messages()


def test_client_started_sync_downloads_whatever_is_installed(wine_prefix, tmp_path):
    prefix, places = wine_prefix, Places(wine_prefix)
    files, payload = client_package(tmp_path)
    package = sign_package(payload, "8.0")
    exe = prefix.install_program(harness.TEST_STARTER, "starter")
    # The running client, current and confirmed, in its folder beside the starter.
    own = places.starter_dir / "Quorumvessel"
    own.mkdir()
    (own / "Quorumvessel.exe").write_bytes(files["Quorumvessel.exe"])
    (own / "version.txt").write_bytes(b"8.0\r\n")
    (own / "setup_status.txt").write_bytes(b"<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>")
    # Written by the client in text mode: CR LF line ends.
    parameters = settings(ADDR_SYNC, 8889, "8.0") + "\n<__Role__>host</__Role__>\n"
    (own / "rsp1024hcmd.txt").write_bytes(parameters.replace("\n", "\r\n").encode())
    service_cache = (b"<__USER_APPLICATION_DIRECTORY__>C:\\Data</__USER_APPLICATION_DIRECTORY__>\r\n"
                     b"<__DESKTOP_DIRECTORY__>C:\\Desk</__DESKTOP_DIRECTORY__>\r\n")
    (own / "QVServiceCache.txt").write_bytes(service_cache)
    running = prefix.start(own / "Quorumvessel.exe", cwd=own, name="client")
    assert harness.wait_for(lambda: records(own, "Quorumvessel"), timeout=60)
    with AccountServer([(ADDR_SYNC, 8889)], package=package) as srv:
        prefix.start(exe, ["--called_by_client_to_sync"], cwd=exe.parent, env=places.trace_env())
        places.expect_installed("8.0", files, "--called_by_client_to_sync")
        assert [r.path for r in srv.requests] == ["/as/wapi/get_client_size", "/as/wapi/get_client"]
    # The running client was asked to close before the new one was unpacked.
    assert events(own, "Quorumvessel")[:2] == ["close-request", "closed"]
    assert not running.running()
    assert (places.setup / "QVServiceCache.txt").read_bytes() == service_cache
    assert (places.setup / "WorkingDirectory.txt").read_bytes() == \
        b"<__WorkingDirectory__>C:\\starter</__WorkingDirectory__>\r\n"
    # The new installation starts from the client's own settings.
    assert (places.setup / "rsp1024hcmd.txt").read_bytes() == \
        (places.header(places.setup) + parameters).replace("\n", "\r\n").encode()
    messages = prefix.run_log_messages()
    assert "Read from sCommandParameterFile = C:\\starter\\Quorumvessel\\rsp1024hcmd.txt" in messages
    assert not [m for m in messages if m.startswith("sVersionFileName is")]


def test_download_behind_a_proxy_and_the_next_run_uses_what_was_learned(wine_prefix, tmp_path):
    prefix, places = wine_prefix, Places(wine_prefix)
    files, payload = client_package(tmp_path)
    package = sign_package(payload, "2.0")
    exe = prefix.install_program(harness.TEST_STARTER, "starter")
    cache = prefix.local_appdata_dir / "Quorumvessel" / "QVStarterCache.txt"
    with AccountServer([(ADDR_PROXIED, 8889)], package=package) as srv:
        # Only requests that come through a proxy are answered.
        srv.set_fault(path="/as/", require_proxy=True)
        proxy = hlibclient.TinyProxy(prefix.root / "proxy", ADDR_PROXY)
        try:
            hlibclient.set_internet_settings(prefix, ProxyEnable=1, ProxyServer=proxy.address)
            learned = "%s\t8889\tN\tL\t\t" % ADDR_PROXIED
            (places.starter_dir / "starter.txt").write_text(settings(ADDR_PROXIED, 8889, "2.0"))
            prefix.start(exe, cwd=exe.parent, env=places.trace_env())
            places.expect_installed("2.0", files, "")
            assert hlibclient.store_value(cache) == learned
            # The first request tried direct and was refused; the system's
            # configuration (the proxy) carried the rest.
            assert [(r.path, r.via_proxy) for r in srv.requests] == [
                ("/as/wapi/get_client_size", False), ("/as/wapi/get_client_size", True),
                ("/as/wapi/get_client", True)]
            read_window(prefix, close=True)
            srv.clear()
            srv.set_fault(path="/as/", require_proxy=True)
            srv.set_package(sign_package(payload, "2.1"))

            # A newer version: downloaded again, the learned way first.
            (places.starter_dir / "starter.txt").write_text(settings(ADDR_PROXIED, 8889, "2.1"))
            prefix.start(exe, cwd=exe.parent, env=places.trace_env())
            places.expect_installed("2.1", files, "", launches=2)
            assert [(r.path, r.via_proxy) for r in srv.requests] == [
                ("/as/wapi/get_client_size", True), ("/as/wapi/get_client", True)]
        finally:
            proxy.stop()
    messages = prefix.run_log_messages()
    assert "Using aServerAccessSetting[0] = " + learned in messages
    assert "Download is completed: iExpectedDownloadSize = %d, actual received = %d" % (
        len(package), len(package)) in messages
