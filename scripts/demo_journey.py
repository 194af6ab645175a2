#!/usr/bin/python3
"""The journey that scripts/demo shows, under Wine on the display in DISPLAY.

A fresh Wine prefix, the local account server with a sample client package
made of the fake client programs and signed with qvpack, and the shipping
starter keyed with the demo's public keys and account server:
  1. started with nothing, it registers its launch protocol;
  2. a launch link, run through that registration as a browser would, makes
     it download the package (throttled, so the progress can be watched),
     unpack it, write the command file and start the installer, which
     installs the client and starts it;
  3. a second link with the same version launches the installed client.
Then it says in plain words what happened. Every wait has an end; the
prefix's Wine server and the account server are stopped on the way out.
"""

import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# The 32-bit build is the one that ships; QV_DEMO_ARCH=win64 shows the other.
ARCH = os.environ.get("QV_DEMO_ARCH") or "win32"
if ARCH not in ("win32", "win64"):
    sys.exit(f"QV_DEMO_ARCH must be win32 or win64, not {ARCH!r}")
WIN_BUILD = ROOT / "build" / ARCH
os.environ.setdefault("QV_SOURCE_DIR", str(ROOT))
os.environ["QV_BUILD_DIR"] = str(WIN_BUILD)
os.environ["QV_BIN_DIR"] = str(WIN_BUILD / "bin")
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "server"))
import clientfamily  # noqa: E402
import harness  # noqa: E402
import packagekit  # noqa: E402
from accountserver import AccountServerProcess  # noqa: E402

WIN_BIN = WIN_BUILD / "bin"
TOOLS = ROOT / "build" / "native" / "bin"
DEMO = WIN_BUILD / "demo"
SERVER = ("127.0.0.77", 8889)
VERSION = "5.1.0"
DOWNLOAD_SECONDS = 8          # the server is throttled to about this long
WINDOW_NAME = "^Bootkin$"
STARTER_FOLDER = "Demo"
# The shipping starter built with the test keys and the demo's server alone
# (CMakeLists.txt, starter_demo); the package is signed with the current key.
KEYED_STARTER = WIN_BIN / "demo" / "QuorumvesselStarter.exe"
SIGNING_KEY = ROOT / "tests" / "e2e" / "keys" / "current" / "signing-key.pem"
VIRTUAL_DISPLAY = os.environ.get("QV_DEMO_VIRTUAL_DISPLAY") == "1"
PASSWORD_ELEMENTS = ("MeetingPassword", "UserPassword")


class DemoFailed(Exception):
    pass


def say(text=""):
    print(text, flush=True)


def step(text):
    say()
    say("== " + text)


def kib(n):
    return f"{n:,} bytes ({n / 1024:,.0f} KiB)"


def masked(text):
    for name in PASSWORD_ELEMENTS:
        text = re.sub(rf"(<__{name}__>)(.*?)(</__{name}__>)",
                      lambda m: m.group(1) + ("********" if m.group(2) else "") + m.group(3), text)
    return text


def plain_path(windows_path):
    # Folders joined to a folder with a trailing backslash carry a doubled
    # separator; Windows reads both forms alike.
    return re.sub(r"(?<=.)\\\\+", r"\\", windows_path)


def x(*args, check=False):
    """Runs an X tool on the demo's display; gives its output or None."""
    try:
        r = subprocess.run(list(args), stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if r.returncode != 0:
        if check:
            raise DemoFailed(f"{args[0]} failed: {r.stderr.strip()}")
        return None
    return r.stdout


def find_window():
    out = x("xdotool", "search", "--onlyvisible", "--name", WINDOW_NAME)
    return out.split()[0] if out and out.split() else None


def window_geometry(wid):
    out = x("xdotool", "getwindowgeometry", "--shell", wid) or ""
    geo = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    try:
        return int(geo["X"]), int(geo["Y"]), int(geo["WIDTH"]), int(geo["HEIGHT"])
    except (KeyError, ValueError):
        return None


def screenshot(wid, name):
    """Saves the window (or, failing that, the whole screen) as a PNG."""
    path = DEMO / name
    if wid and x("import", "-window", wid, str(path)) is not None and path.exists():
        return path
    if x("import", "-window", "root", str(path)) is not None and path.exists():
        return path
    return None


def close_window(wid, run):
    """Closes the progress window as a user would: a click on its close
    button (at the top right of the 275 x 54 dialog units), else Escape."""
    geo = window_geometry(wid) if wid else None
    if geo:
        left, top, width, height = geo
        x("xdotool", "mousemove", str(left + width * 2665 // 2750), str(top + height * 5 // 54))
        x("xdotool", "click", "1")
        if harness.wait_for(lambda: not run.running(), timeout=5):
            return "a click on its close button"
        x("xdotool", "mousemove", str(left + 3), str(top + height // 2))
    x("xdotool", "key", "Escape")
    return "Escape"


def log_messages(prefix, suffix=""):
    return prefix.run_log_messages(suffix)


def find_message(messages, pattern):
    for m in messages:
        hit = re.search(pattern, m)
        if hit:
            return hit
    return None


# ---- the sample client package --------------------------------------------

def make_package():
    """Packs the fake client family and some data files with qvpack."""
    staging = DEMO / "client"
    shutil.rmtree(staging, ignore_errors=True)
    # The installer reads the command file beside it and installs the client
    # into the user's application folder, then starts it as the real one
    # does; the client confirms its start in its setup status file.
    members = clientfamily.client_folder(
        staging, installer_options="--install\r\n--launch-client\r\n--stay-ms=3000\r\n",
        client_options="--confirm-launch\r\n--stay-ms=4000\r\n")
    # The service program and data files, so the package has some size
    # (random bytes do not shrink).
    rng = random.Random(4242)
    more = {
        "QVService.exe": (clientfamily.FAKES / "QVService.exe").read_bytes(),
        "resources\\media.dat": bytes(rng.getrandbits(8) for _ in range(1536 * 1024)),
        "resources\\layout.xml": ("<layout>\n" + "".join(f'  <panel id="{i}" width="{200 + i}" />\n'
                                                          for i in range(400)) + "</layout>\n").encode(),
        "lang\\en.txt": "".join(f"STRING_{i}=Text number {i}\n" for i in range(2000)).encode(),
        "readme.txt": b"Quorumvessel client (demo package made of stand-in programs)\n",
    }
    packagekit.write_files(staging, more)
    members.update(more)
    package = DEMO / "PCClient.pkg"
    try:
        packagekit.pack(staging, package)
    except (OSError, subprocess.SubprocessError) as e:
        raise DemoFailed(f"qvpack pack failed: {e}")
    signed = subprocess.run([str(TOOLS / "qvpack"), "sign", str(package), "--key", str(SIGNING_KEY),
                             "--version", VERSION], capture_output=True, text=True, timeout=60)
    if signed.returncode != 0:
        raise DemoFailed(f"qvpack sign failed: {signed.stderr.strip()}")
    return package, members, signed.stdout.strip()


# ---- the journey ------------------------------------------------------------

class Journey:
    def __init__(self):
        self.prefix = None
        self.server = None
        self.facts = {}

    def prepare(self):
        DEMO.mkdir(parents=True, exist_ok=True)
        for old in list(DEMO.glob("*.png")) + list(DEMO.glob("QVSetup*.txt")):
            old.unlink()
        step("preparing a fresh Wine prefix, the client package and the account server")
        self.prefix = harness.WinePrefix("demo")
        self.prefix.root = DEMO / "wine"
        self.prefix.path = self.prefix.root / "prefix"
        self.prefix.create()
        say(f"-- Wine prefix: {self.prefix.path}")

        package, self.members, signed = make_package()
        self.package_size = package.stat().st_size
        say(f"-- client package (qvpack pack, then qvpack sign with {SIGNING_KEY.relative_to(ROOT)}): "
            f"{package}, {kib(self.package_size)}, {len(self.members)} files and the signature:")
        say("   " + signed)
        listing = subprocess.run([str(TOOLS / "qvpack"), "list", str(package)], capture_output=True, text=True)
        for line in listing.stdout.splitlines():
            say("   " + line)

        record = DEMO / "requests.jsonl"
        if record.exists():
            record.unlink()
        self.server = AccountServerProcess([SERVER], package=str(package), record_file=str(record),
                                           log_file=str(DEMO / "accountserver.log"))
        self.rate = max(4096, self.package_size // DOWNLOAD_SECONDS)
        self.server.set_fault(path="/as/wapi/get_client", rate=self.rate)
        say(f"-- account server: http://{SERVER[0]}:{SERVER[1]} (tests/server/accountserver.py), "
            f"package replies throttled to {self.rate // 1024:,} KiB/s; requests recorded in {record}")

        self.starter = self.prefix.install_program(KEYED_STARTER, STARTER_FOLDER)
        bits = "32" if ARCH == "win32" else "64"
        say(f"-- the shipping starter, {bits}-bit, keyed: it installs only packages signed with the test keys "
            f"and talks only to {SERVER[0]} ({KEYED_STARTER}), copied to {self.prefix.to_windows(self.starter)}")

    def register(self):
        step("1. first run, with nothing: the starter registers its launch protocol and ends")
        result = self.prefix.run(self.starter, [], cwd=self.starter.parent, timeout=60, name="first-run")
        if result.timed_out:
            raise DemoFailed("the first run did not end within 60 s")
        key = r"HKCU\Software\Classes\Quorumvessel\shell\open\command"
        out = self.prefix.reg("query", key, "/ve").stdout
        hit = re.search(r"REG_SZ\s+(.*)", out)
        if not hit:
            raise DemoFailed(f"no protocol registration found under {key}:\n{out}")
        self.command = hit.group(1).strip()
        say(f"-- exit status {result.returncode}; registered for the user: {key} = {self.command}")
        target = re.match(r'^"([^"]+)" %1$', self.command)
        if not target:
            raise DemoFailed(f"unexpected registered command: {self.command}")
        self.registered_program = self.prefix.to_linux(target.group(1))

    def make_link(self, meeting_id):
        pairs = [f"account_server_ip={SERVER[0]}", f"port={SERVER[1]}", f"meeting_id={meeting_id}",
                 "role=attendee", f"version={VERSION}", "client_name=Quorumvessel", "name=Demo User",
                 "email=demo@example.invalid", "meeting_password=open-sesame"]
        r = subprocess.run([str(TOOLS / "qvlink"), "make"] + pairs, capture_output=True, text=True)
        if r.returncode != 0:
            raise DemoFailed("qvlink make failed: " + r.stderr.strip())
        return r.stdout.strip(), pairs

    def start_link(self, link, name):
        """Runs the registered command with the link in place of %1, as a
        browser does for a link of the protocol."""
        return self.prefix.start(self.registered_program, [link], cwd=self.registered_program.parent, name=name)

    def first_link(self):
        step("2. a launch link, opened the way a browser opens it")
        link, pairs = self.make_link(4242)
        self.facts["link1"] = link
        say(f"-- link (qvlink make {' '.join(p if 'password' not in p else p.split('=')[0] + '=...' for p in pairs)}):")
        say("   " + link)
        say(f"-- run as the registered command: {self.command.replace('%1', '<link>')}")
        run = self.start_link(link, "link-1")
        started = time.monotonic()
        wid = shot_progress = shot_summary = None
        t_request = t_done = None
        setup_dir = closed_by = None
        deadline = started + 180
        while time.monotonic() < deadline:
            if not run.running():
                break
            wid = wid or find_window()
            if t_request is None and self.server.requests_for("/as/wapi/get_client"):
                t_request = time.monotonic()
            messages = log_messages(self.prefix)
            if t_done is None and find_message(messages, r"^Download is completed"):
                t_done = time.monotonic()
            if wid and t_request and not t_done and not shot_progress and \
                    time.monotonic() - t_request > DOWNLOAD_SECONDS * 0.4:
                shot_progress = screenshot(wid, "window-downloading.png")
                if shot_progress:
                    say(f"-- the window during the download: {shot_progress}")
            hit = find_message(messages, r"^StartProcess\(sStartProcess = .*, m_sSetupDirectory = (.*)\)$")
            if hit and setup_dir is None:
                setup_dir = hit.group(1)
                # The summary has been shown since the download ended.
                time.sleep(1.0)
                if wid:
                    shot_summary = screenshot(wid, "window-summary.png")
                    if shot_summary:
                        say(f"-- the window with the summary: {shot_summary}")
                if not VIRTUAL_DISPLAY:
                    say("-- the window stays a few seconds for you to see, then the demo closes it")
                    time.sleep(5)
                closed_by = close_window(wid or find_window(), run)
                break
            time.sleep(0.1)
        result = run.wait(timeout=30)
        if result.timed_out:
            say("-- the starter did not end after its window was closed; the demo ended it")
        if setup_dir is None:
            self.dump_log()
            raise DemoFailed("the starter did not get as far as starting the installer within 180 s")
        self.facts.update(t_request=t_request, t_done=t_done, setup_dir=plain_path(setup_dir),
                          exit1=result.returncode, shots=[s for s in (shot_progress, shot_summary) if s])
        say(f"-- the window was closed with {closed_by}; the starter ended with exit status {result.returncode}")

    def wait_for_install(self):
        setup = self.prefix.to_linux(self.facts["setup_dir"])
        if not harness.wait_for(lambda: clientfamily.records(setup, "QVInstaller"), timeout=60):
            raise DemoFailed(f"the installer recorded no start in {setup}")
        if not harness.wait_for(lambda: "client started" in clientfamily.events(setup, "QVInstaller"), timeout=60):
            raise DemoFailed("the fake installer did not install and start the client: "
                             f"{clientfamily.events(setup, 'QVInstaller')}")
        installed = re.search(r"^installed (.*) (\S+)$", "\n".join(clientfamily.events(setup, "QVInstaller")), re.M)
        self.facts["installer"] = clientfamily.records(setup, "QVInstaller")[0]
        self.facts["installed_to"] = installed.group(1)
        self.facts["installed_version"] = installed.group(2)
        client = self.prefix.to_linux(installed.group(1))
        status = client / "setup_status.txt"
        if not harness.wait_for(lambda: status.exists() and b">N<" in status.read_bytes(), timeout=60):
            raise DemoFailed(f"the client did not confirm its start in {status}")
        self.facts["client_dir"] = client
        say(f"-- the installer installed the client into {installed.group(1)} (version {installed.group(2)}); "
            "the client started and confirmed its launch in setup_status.txt")

    def second_link(self):
        step("3. a second link with the same version: the installed client is launched")
        link, _ = self.make_link(4243)
        self.facts["link2"] = link
        say("   " + link)
        before = len(self.server.requests_for("/as/wapi/get_client"))
        client = self.facts["client_dir"]
        entries_before = len(clientfamily.records(client, "Quorumvessel"))
        result = self.start_link(link, "link-2").wait(timeout=120)
        if result.timed_out:
            raise DemoFailed("the second run did not end within 120 s")
        self.facts["exit2"] = result.returncode
        self.facts["downloads2"] = len(self.server.requests_for("/as/wapi/get_client")) - before
        if not harness.wait_for(lambda: len(clientfamily.records(client, "Quorumvessel")) > entries_before, timeout=60):
            raise DemoFailed(f"the installed client recorded no new start in {client}")
        self.facts["client"] = clientfamily.records(client, "Quorumvessel")[-1]
        say(f"-- the starter ended with exit status {result.returncode}")

    def dump_log(self):
        text = self.prefix.run_log()
        say("-- run log so far:")
        for e in harness.parse_run_log(text):
            say(f"   {e.function}: {e.message}")

    def collect_logs(self):
        kept = []
        for suffix, what in (("", "the second link's run"), (".bak", "the first link's run"),
                             (".bak.bak", "the registration run")):
            src = self.prefix.temp_dir / ("QVSetup.txt" + suffix)
            if src.exists():
                dst = DEMO / ("QVSetup.txt" + suffix)
                shutil.copy2(src, dst)
                kept.append((what, "QVSetup.txt" + suffix, dst))
        return kept

    def report(self):
        f = self.facts
        step("what happened")
        say(f"The link used:  {f['link1']}")
        say("                what it carries (qvlink read; passwords masked here):")
        read = subprocess.run([str(TOOLS / "qvlink"), "read", f["link1"]], capture_output=True, text=True)
        for line in read.stdout.splitlines():
            name, _, value = line.partition("=")
            say(f"                  {name}={'********' if 'password' in name and value else value}")
        if f["t_request"] and f["t_done"] and f["t_done"] > f["t_request"]:
            seconds = f["t_done"] - f["t_request"]
            speed = self.package_size / seconds
            say(f"Downloaded:     {kib(self.package_size)} from http://{SERVER[0]}:{SERVER[1]}/as/wapi/get_client "
                f"in about {seconds:.1f} s, {speed / 1024:,.0f} KiB/s ({speed * 8 / 1000:,.0f} kbit/s; "
                f"the server was throttled to {self.rate // 1024:,} KiB/s)")
        else:
            say(f"Downloaded:     {kib(self.package_size)}")
        verified = [m for m in log_messages(self.prefix, ".bak") if ": signature verified: " in m]
        say("Checked:        " + (verified[0] if verified else "NO SIGNATURE CHECK LOGGED"))
        setup = self.prefix.to_linux(f["setup_dir"])
        same = [name for name, data in self.members.items()
                if (setup / name.replace("\\", "/")).is_file()
                and (setup / name.replace("\\", "/")).read_bytes() == data]
        say(f"Unpacked:       {len(same)} of {len(self.members)} files into {f['setup_dir']}"
            + (", each identical to the packed file:" if len(same) == len(self.members) else ":"))
        for name in sorted(self.members):
            say(f"                  {name:<28} {len(self.members[name]):>10,} bytes"
                f"{'' if name in same else '   MISSING OR DIFFERENT'}")
        command_file = setup / "rsp1024hcmd.txt"
        say(f"Command file:   {f['setup_dir']}\\rsp1024hcmd.txt "
            "(passwords masked here; the settings after the header are one line in the file,")
        say("                shown one element a line; empty elements left out):")
        text = command_file.read_bytes().decode("utf-8", "replace") if command_file.exists() else "(missing)"
        for line in masked(text).splitlines():
            for element in re.findall(r"<__(\w+)__>(.*?)</__\1__>", line):
                if element[1] or len(line) < 200:
                    say(f"                  <__{element[0]}__>{element[1]}</__{element[0]}__>")
        inst = f["installer"]
        say(f"Installer:      {inst.get('commandline')}")
        say(f"                started in {inst.get('directory')}; it installed the client into "
            f"{f['installed_to']} with version.txt {f['installed_version']}")
        say(f"                The first link's starter ended with exit status {f['exit1']} when its window was closed.")
        cl = f["client"]
        say(f"Second link:    {f['link2']}")
        say(f"                started the installed client without a download "
            f"({f['downloads2']} package requests), exit status {f['exit2']}:")
        say(f"                {cl.get('commandline')}")
        say(f"                in {cl.get('directory')}")
        logs = self.collect_logs()
        say(f"Run logs:       {self.prefix.to_windows(self.prefix.temp_dir)}\\QVSetup.txt in the prefix, "
            f"i.e. {self.prefix.temp_dir}/QVSetup.txt; copies:")
        for what, name, dst in logs:
            say(f"                  {dst}  ({what})")
        say("Screenshots:    " + (", ".join(str(s) for s in f["shots"]) if f["shots"] else "none taken"))
        say(f"Requests:       {DEMO / 'requests.jsonl'} (one JSON line per request the server received)")
        ok = (len(same) == len(self.members) and bool(verified) and f["exit2"] == 0 and f["downloads2"] == 0
              and "--program" in (cl.get("commandline") or ""))
        return ok

    def stop(self):
        if self.prefix is not None:
            self.prefix.stop()
        if self.server is not None:
            self.server.stop()


def main():
    # A time-out or a kill from outside still stops the servers.
    def interrupted(*_):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)
    journey = Journey()
    try:
        journey.prepare()
        journey.register()
        journey.first_link()
        journey.wait_for_install()
        journey.second_link()
        ok = journey.report()
    except DemoFailed as e:
        say()
        say(f"The demo failed: {e}")
        ok = False
    except KeyboardInterrupt:
        say()
        say("The demo was interrupted.")
        ok = False
    finally:
        journey.stop()
    say()
    say("The demo ran the journey through." if ok else "The journey did not go as expected (see above).")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
