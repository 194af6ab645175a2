"""Runs HTTP client calls under Wine through the driver in tests/win and
reads back what they did; starts tinyproxy for the proxy paths."""

import os
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path

import harness

sys.path.insert(0, str(harness.SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402,F401

WIN_TESTS = harness.BIN_DIR / "qvwin_tests.exe"
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
STORE_START = "<__SERVER_ACCESS_SETTING1__>"
STORE_END = "</__SERVER_ACCESS_SETTING1__>"


def unescape(s):
    out, i = [], 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            c = s[i + 1]
            out.append({"t": "\t", "n": "\n", "r": "\r"}.get(c, c))
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def escape(s):
    return str(s).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


class Log:
    def __init__(self, function, severity, message, source):
        self.function, self.severity, self.message, self.source = function, severity, message, source

    def __repr__(self):
        return "Log(%r, %d, %r)" % (self.function, self.severity, self.message)


class PageResult:
    def __init__(self, fields, samples):
        self.ok = fields[2] == "1"
        self.port = int(fields[3])
        self.url = fields[4]
        self.digest = fields[5][4:] if fields[5].startswith("fnv:") else None
        self.buffer = None if self.digest else bytes.fromhex(fields[5])
        self.guard_ok = fields[6] == "guard-ok"
        self.received = int(fields[7])
        self.samples = samples

    @property
    def text(self):
        return self.buffer.split(b"\0", 1)[0]


class DownloadResult:
    def __init__(self, fields):
        self.ok = fields[2] == "1"
        self.size = int(fields[3])
        self.has_data = fields[4] == "data"
        self.data = bytes.fromhex(fields[5])
        self.received = int(fields[6])


class DriverRun:
    def __init__(self, lines, run):
        self.run = run
        self.logs = []
        self.results = []
        samples = []
        for line in lines:
            f = [unescape(x) for x in line.split("\t")]
            if f[0] == "log":
                self.logs.append(Log(f[1], int(f[2]), f[3], f[4]))
            elif f[0] == "samples":
                samples = [int(v) for v in f[1].split()] if f[1] else []
            elif f[0] == "result":
                if f[1] == "getpage":
                    self.results.append(PageResult(f, samples))
                elif f[1] == "download":
                    self.results.append(DownloadResult(f))
                else:
                    self.results.append(f[1:])
        self.ended = bool(lines) and lines[-1] == "end"

    @property
    def messages(self):
        return [l.message for l in self.logs]

    def has(self, message, function=None, severity=None):
        return any(l.message == message and (function is None or l.function == function)
                   and (severity is None or l.severity == severity) for l in self.logs)

    def starting(self, text):
        return [l.message for l in self.logs if l.message.startswith(text)]


def fnv1a(data):
    """The digest the driver writes for "getpage ... digest"."""
    h = 1469598103934665603
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def run_driver(prefix, commands, timeout=240, name="driver"):
    """Runs the commands (lists of fields) in one process of the prefix."""
    folder = prefix.root / "driver"
    folder.mkdir(exist_ok=True)
    n = len(list(folder.glob("%s.*.cmd" % name)))
    cmd_path = folder / ("%s.%d.cmd" % (name, n))
    out_path = folder / ("%s.%d.out" % (name, n))
    cmd_path.write_text("".join("\t".join(escape(x) for x in c) + "\n" for c in commands), encoding="utf-8")
    if out_path.exists():
        out_path.unlink()
    run = prefix.run(WIN_TESTS, ["--gtest_filter=HLibDriver.Run"], timeout=timeout, name=name,
                     env={"QV_HLIB_DRIVER": prefix.to_windows(cmd_path),
                          "QV_HLIB_DRIVER_OUT": prefix.to_windows(out_path)})
    lines = out_path.read_text(encoding="utf-8").splitlines() if out_path.exists() else []
    result = DriverRun(lines, run)
    assert result.ended, "driver did not finish: %r" % (run,)
    return result


def start_driver(prefix, commands, name):
    """Starts the driver without waiting; gives (process, output path)."""
    folder = prefix.root / "driver"
    folder.mkdir(exist_ok=True)
    cmd_path = folder / ("%s.cmd" % name)
    out_path = folder / ("%s.out" % name)
    cmd_path.write_text("".join("\t".join(escape(x) for x in c) + "\n" for c in commands), encoding="utf-8")
    env = prefix.env({"QV_HLIB_DRIVER": prefix.to_windows(cmd_path),
                      "QV_HLIB_DRIVER_OUT": prefix.to_windows(out_path)})
    log = open(folder / ("%s.log" % name), "wb")
    proc = subprocess.Popen(["wine", str(WIN_TESTS), "--gtest_filter=HLibDriver.Run"], env=env,
                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                            start_new_session=True)
    return proc, out_path, log


def set_internet_settings(prefix, **values):
    """Writes values of the user's Internet Settings key (int: REG_DWORD)."""
    for name, value in values.items():
        if isinstance(value, int):
            args = ["add", INTERNET_SETTINGS, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f"]
        else:
            args = ["add", INTERNET_SETTINGS, "/v", name, "/t", "REG_SZ", "/d", value, "/f"]
        r = prefix.run("reg", args, timeout=60)
        assert r.returncode == 0, r


def free_port(addr):
    with socket.socket() as s:
        s.bind((addr, 0))
        return s.getsockname()[1]


class TinyProxy:
    """tinyproxy on a loopback address with a config of its own."""

    def __init__(self, folder, addr, port=None):
        self.addr = addr
        self.port = port or free_port(addr)
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.log_path = self.folder / "tinyproxy.log"
        conf = self.folder / "tinyproxy.conf"
        conf.write_text(
            "Port %d\nListen %s\nTimeout 60\nMaxClients 20\nLogLevel Info\n"
            "LogFile \"%s\"\nAllow 127.0.0.0/8\n" % (self.port, addr, self.log_path))
        exe = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
        self.proc = subprocess.Popen([exe, "-d", "-c", str(conf)], stdin=subprocess.DEVNULL,
                                     stdout=open(self.folder / "tinyproxy.out", "wb"),
                                     stderr=subprocess.STDOUT)
        end = time.monotonic() + 30
        while time.monotonic() < end:
            try:
                socket.create_connection((addr, self.port), timeout=1).close()
                return
            except OSError:
                if self.proc.poll() is not None:
                    break
                time.sleep(0.1)
        self.stop()
        raise RuntimeError("tinyproxy did not start (see %s)" % self.folder)

    @property
    def address(self):
        return "%s:%d" % (self.addr, self.port)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def store_value(cache_path):
    text = Path(cache_path).read_bytes().decode("utf-8")
    start = text.index(STORE_START) + len(STORE_START)
    return text[start:text.index(STORE_END, start)]
