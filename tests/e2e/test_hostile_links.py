"""Links a web page can make, run through the real test starter under Wine
against the local account server: a link without a port still finds the
package, a link too long for the installer's command line still installs, a
program that cannot be started is shown in the window, a value cannot smuggle
in a starter sid, a flag inside a link forces nothing, and stopping the
client family ends only the programs with its exact names."""

import re
import sys

import pytest

import harness
from clientfamily import QVLINK, client_folder, events, make_link, read_window, records, settings_for_link
from packagekit import QVPACK, pack, read_trace, settings

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402

pytestmark = [
    pytest.mark.usefixtures("display"),
    pytest.mark.skipif(not (QVPACK.exists() and QVLINK.exists()),
                       reason="needs the native operator tools (build preset native)"),
]

# One loopback address per test.
ADDR_NO_PORT = "127.0.72.2"
ADDR_LONG = "127.0.72.3"
ADDR_UNSTARTABLE = "127.0.72.4"
ADDR_SID = "127.0.72.5"
ADDR_FLAG = "127.0.72.6"
ADDR_STOP = "127.0.72.7"

SUMMARY = re.compile(r"^Setup Quorumvessel \.\.\.\\n\\nSummary - average speed: \d+ kbps, total time: \d+ seconds$")
INSTALLER_ONLY = "--install\r\n--stay-ms=0\r\n"


def link_params(address, **extra):
    params = {"meeting_id": "9", "role": "attendee", "account_server_ip": address, "port": "8889",
              "version": "5.1.0", "client_name": "Quorumvessel"}
    params.update(extra)
    return {k: v for k, v in params.items() if v is not None}


class Run:
    """The test starter started with a link from C:\\starter, its window
    traced, and the places it works in."""

    def __init__(self, prefix, args=(), files=None):
        self.prefix = prefix
        self.exe = prefix.install_program(harness.TEST_STARTER, "starter")
        for name, data in (files or {}).items():
            (self.exe.parent / name).write_bytes(data)
        self.trace = prefix.root / "window.txt"
        self.setup = prefix.temp_dir / "qv_starter_dir"
        self.client = prefix.appdata_dir / "Quorumvessel" / "Quorumvessel"
        self.proc = prefix.start(self.exe, list(args), cwd=self.exe.parent,
                                 env={"QV_TEST_WINDOW_TRACE": prefix.to_windows(self.trace)})

    def posted(self):
        return read_trace(self.trace)

    def wait_final(self, accept, timeout=180):
        """Waits for a final status (6042) that accept() takes; gives it."""
        def final():
            texts = [t for n, t in self.posted() if n == "6042" and accept(t)]
            return texts[-1] if texts else None
        text = harness.wait_for(final, timeout=timeout)
        assert text, (self.posted(), self.prefix.run_log_messages())
        return text

    def close(self):
        """Reads the window, closes it as a user would, waits for the end."""
        shown = read_window(self.prefix, close=True)
        result = self.proc.wait(timeout=60)
        assert not result.timed_out and result.returncode == 0, result
        return shown

    def messages(self):
        return self.prefix.run_log_messages()


def size_query_ports(messages):
    """Ports the size query asked, in order, as the page request logs them."""
    return [int(m.group(1)) for m in (re.match(r"sIP = [^,]+, iPort = (-?\d+), URL = /as/wapi/get_client_size,", x)
                                      for x in messages) if m]


# ---------------------------------------------------------------------------

def test_link_without_port_asks_the_default_port_then_443_then_8889(wine_prefix, tmp_path):
    files = client_folder(tmp_path / "client", installer_options=INSTALLER_ONLY, client_options="")
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    link = make_link(link_params(ADDR_NO_PORT, port=None))
    # The scheme's default port answers, but with no size; nothing listens on 443.
    with AccountServer([(ADDR_NO_PORT, 80), (ADDR_NO_PORT, 8889)], package=package) as srv:
        srv.set_fault(path="/as/wapi/get_client_size", port=80, body="<html>no size here</html>")
        run = Run(wine_prefix, [link])
        assert SUMMARY.match(run.wait_final(lambda t: t.startswith("Setup ")))
        assert harness.wait_for(lambda: events(run.setup, "QVInstaller"), timeout=60), run.messages()
        sizes = srv.requests_for("/as/wapi/get_client_size")
        packages = srv.requests_for("/as/wapi/get_client")
        run.close()
    messages = run.messages()
    # The port as given (none: the URL has no port), then 443, then 8889.
    assert "m_sAccountServerName = %s, m_iAccountServerPort = 0, m_sClientName = Quorumvessel, m_sVersion = 5.1.0" \
        % ADDR_NO_PORT in messages
    assert size_query_ports(messages) == [0, 443, 8889]
    # The URL without a port reached port 80 (the page request's own first
    # layer, with its "rdm" parameter); 443 then fell back to plain HTTP on
    # 80 as well; 8889 gave the size and the package.
    assert [r.listener for r in sizes] == ["%s:80" % ADDR_NO_PORT, "%s:80" % ADDR_NO_PORT, "%s:8889" % ADDR_NO_PORT]
    assert "rdm" in sizes[0].params and sizes[0].header("Host") == ADDR_NO_PORT
    assert [r.listener for r in packages] == ["%s:8889" % ADDR_NO_PORT]
    assert events(run.setup, "QVInstaller") == ["installed %s 5.1.0" % wine_prefix.to_windows(run.client)]
    assert (run.client / "Quorumvessel.exe").read_bytes() == files["Quorumvessel.exe"]


def test_link_of_3000_characters_installs(wine_prefix, tmp_path):
    client_folder(tmp_path / "client", installer_options=INSTALLER_ONLY, client_options="")
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    name = "Ada " + "L" * 2100
    params = link_params(ADDR_LONG, name=name)
    link = make_link(params)
    assert 2900 <= len(link) <= 3200, len(link)
    with AccountServer([(ADDR_LONG, 8889)], package=package):
        run = Run(wine_prefix, [link])
        assert SUMMARY.match(run.wait_final(lambda t: t.startswith("Setup ")))
        assert harness.wait_for(lambda: events(run.setup, "QVInstaller"), timeout=60), run.messages()
        shown = run.close()
    setup = wine_prefix.to_windows(run.setup)
    # The whole link does not fit the installer's command line: it gets the
    # link's scheme, colon and last item, and reads the settings from the
    # command file, the long name included.
    chk_item = link[link.index("&chk=") + 1:]
    started = records(run.setup, "QVInstaller")
    assert [(r["commandline"], r["directory"]) for r in started] == \
        [('"%s\\QVInstaller.exe" Quorumvessel:%s' % (setup, chk_item), setup)]
    assert events(run.setup, "QVInstaller") == ["installed %s 5.1.0" % wine_prefix.to_windows(run.client)]
    command = (run.setup / "rsp1024hcmd.txt").read_bytes().decode()
    assert command.endswith(settings_for_link(params))
    assert SUMMARY.match(shown["status"]) and shown["progress"] == "0", shown
    chk_length = len(chk_item) - len("chk=")
    assert 'sStartProcess does not fit 2047 characters, passing on "%s\\QVInstaller.exe" Quorumvessel:chk=%d' \
        % (setup, chk_length) in run.messages()


def test_installer_that_cannot_be_started_is_shown(wine_prefix, tmp_path):
    # A package whose installer is no program at all.
    client_folder(tmp_path / "client", installer_options=INSTALLER_ONLY, client_options="")
    (tmp_path / "client" / "QVInstaller.exe").write_bytes(b"this is not a program\r\n" * 40)
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    link = make_link(link_params(ADDR_UNSTARTABLE))
    final = "Unable to start the Quorumvessel installer. Please try it again"
    with AccountServer([(ADDR_UNSTARTABLE, 8889)], package=package):
        run = Run(wine_prefix, [link])
        assert run.wait_final(lambda t: t == final) == final
        shown = run.close()
    # The summary came first; what stays shown says that nothing was started.
    finals = [t for n, t in run.posted() if n == "6042"]
    assert len(finals) == 2 and SUMMARY.match(finals[0]) and finals[1] == final, finals
    assert shown == {"status": final, "progress": "0"}
    sp, chk = re.fullmatch(r"Quorumvessel:sp=([^&]*)&chk=([^&]*)", link).groups()
    assert 'Failed to start "%s\\QVInstaller.exe" Quorumvessel:sp=%d&chk=%d' \
        % (wine_prefix.to_windows(run.setup), len(sp), len(chk)) in run.messages()
    assert records(run.setup, "QVInstaller") == []


def test_tag_in_a_link_value_gives_no_starter_sid(wine_prefix, tmp_path):
    client_folder(tmp_path / "client", installer_options=INSTALLER_ONLY, client_options="")
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    params = link_params(ADDR_SID, name="Eve<__StarterSid__>sid-1</__StarterSid__>x")
    with AccountServer([(ADDR_SID, 8889)], package=package) as srv:
        run = Run(wine_prefix, [make_link(params)])
        assert SUMMARY.match(run.wait_final(lambda t: t.startswith("Setup ")))
        assert harness.wait_for(lambda: events(run.setup, "QVInstaller"), timeout=60), run.messages()
        run.close()
        reports = srv.requests_for("/as/wapi/ssi")
    assert reports == []
    messages = run.messages()
    assert "Refused name: the value holds a tag, a line break or a NUL byte" in messages
    assert "Failed: m_sStarterSid = , m_sAccountServerName = %s" % ADDR_SID in messages
    # The installer was still started, with the name left empty.
    command = (run.setup / "rsp1024hcmd.txt").read_bytes().decode()
    assert "StarterSid" not in command and "sid-1" not in command
    assert "<__AttendeeName__></__AttendeeName__>" in command


def test_flag_inside_a_link_starts_no_installer(wine_prefix, tmp_path):
    # A stale parameter file from an earlier run of the client's downloader.
    wine_prefix.temp_dir.mkdir(parents=True, exist_ok=True)
    (wine_prefix.temp_dir / "rsp1024hcmd.txt").write_bytes(settings(ADDR_FLAG, 8889, "5.1.0").encode())
    client_folder(tmp_path / "client", installer_options=INSTALLER_ONLY, client_options="")
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    with AccountServer([(ADDR_FLAG, 8889)], package=package) as srv:
        run = Run(wine_prefix, ["Quorumvessel:--called_by_downloader"])
        result = run.proc.wait(timeout=120)
        assert not result.timed_out and result.returncode == 0, result
        asked = srv.requests
    assert asked == []
    assert run.posted() == []
    messages = run.messages()
    assert "Ignored --called_by_downloader in a protocol link" in messages
    # No settings from any source: the protocol registration, as for a plain copy.
    assert "No Meeting Parameter, sClientName = Quorumvessel" in messages
    assert not (run.setup / "QVInstaller.record.txt").exists()


def test_stopping_the_client_family_spares_r_exe(wine_prefix, tmp_path):
    # An old installer still running, and an unrelated program whose name is
    # a tail of the installer's.
    fakes = harness.BIN_DIR / "fakes"
    old = wine_prefix.install_program(fakes / "QVInstaller.exe", "old")
    other = wine_prefix.install_program(fakes / "QVService.exe", "other", name="r.exe")
    old_run = wine_prefix.start(old, ["--stay-ms=300000"], cwd=old.parent, name="old-installer")
    other_run = wine_prefix.start(other, ["--stay-ms=300000"], cwd=other.parent, name="r")
    assert harness.wait_for(lambda: records(old.parent, "QVInstaller") and records(other.parent, "r"), timeout=60)
    client_folder(tmp_path / "client", installer_options=INSTALLER_ONLY, client_options="")
    package = pack(tmp_path / "client", tmp_path / "PCClient.zip")
    try:
        with AccountServer([(ADDR_STOP, 8889)], package=package):
            run = Run(wine_prefix, [make_link(link_params(ADDR_STOP))])
            assert SUMMARY.match(run.wait_final(lambda t: t.startswith("Setup ")))
            assert harness.wait_for(lambda: events(run.setup, "QVInstaller"), timeout=60), run.messages()
            assert "Has stopped Quorumvessel.exe and QVInstaller.exe, " in "\n".join(run.messages())
            assert harness.wait_for(lambda: not old_run.running(), timeout=30), "the old QVInstaller.exe still runs"
            assert other_run.running(), "r.exe was ended"
            run.close()
        assert other_run.running(), "r.exe was ended"
    finally:
        other_run.proc.kill()
        old_run.proc.kill()
    assert 'sProcessName = "qvinstaller.exe"' in run.messages()
