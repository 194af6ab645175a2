"""Support for tests that run Windows programs under Wine.

Each test gets a private Wine prefix under build/<preset>/e2e/<name>/prefix,
made by copying a prefix that is booted once (under a lock) and then reused:
a copy takes a fraction of a second where a boot takes many. The large
program files of the Windows folder are hard links into the template, which
is safe because nothing rewrites them; everything else is a real copy.

The programs under test (starter, tools, fakes, window reader) are those of
the build ctest names in QV_BUILD_DIR and QV_BIN_DIR: the win64 or the win32
preset, so every scenario runs against both; build/win64 when run by hand.

Wine's helper processes keep inherited output handles open forever, so the
output of every Windows program goes to files, never to a pipe.
"""

import fcntl
import os
import pwd
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("QV_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD_DIR = Path(os.environ.get("QV_BUILD_DIR", SOURCE_DIR / "build" / "win64"))
BIN_DIR = Path(os.environ.get("QV_BIN_DIR", BUILD_DIR / "bin"))
E2E_DIR = BUILD_DIR / "e2e"
TEMPLATE_DIR = E2E_DIR / ".template"
TEMPLATE_PREFIX = TEMPLATE_DIR / "prefix"
_READY_MARK = TEMPLATE_DIR / "ready"

STARTER = BIN_DIR / "QuorumvesselStarter.exe"
TEST_STARTER = BIN_DIR / "test" / "QuorumvesselStarter.exe"
RUN_LOG_NAME = "QVSetup.txt"

BOOT_TIMEOUT = 300
SERVER_TIMEOUT = 60

# Files under drive_c/windows with these endings are shared with the
# template by hard links; anything else is copied.
_SHARED_SUFFIXES = {
    ".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".tlb",
    ".nls", ".ttf", ".fon", ".ds", ".msstyles", ".mui", ".com", ".vxd", ".efi",
}


def user_name():
    """The Windows user of a prefix: Wine takes the Linux account name."""
    return pwd.getpwuid(os.getuid()).pw_name


def wine_env(prefix, extra=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = str(prefix)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if extra:
        env.update(extra)
    return env


def _run_detached(cmd, env, timeout, log_path=None):
    """Runs a Wine helper command with its output in a file (or nowhere)."""
    out = open(log_path, "ab") if log_path else subprocess.DEVNULL
    try:
        proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            return None
    finally:
        if log_path:
            out.close()


def _kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def stop_wineserver(prefix):
    """Ends every Windows process of a prefix and its server."""
    if Path(prefix).exists():
        env = wine_env(prefix)
        _run_detached(["wineserver", "-k"], env, SERVER_TIMEOUT)
        _run_detached(["wineserver", "-w"], env, SERVER_TIMEOUT)


def _ensure_template():
    E2E_DIR.mkdir(parents=True, exist_ok=True)
    with open(E2E_DIR / ".template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if _READY_MARK.exists():
            return
        shutil.rmtree(TEMPLATE_DIR, ignore_errors=True)
        TEMPLATE_DIR.mkdir(parents=True)
        env = wine_env(TEMPLATE_PREFIX)
        log = TEMPLATE_DIR / "boot.log"
        rc = _run_detached(["wineboot", "-i"], env, BOOT_TIMEOUT, log)
        # Without a persistent server, this waits until the server has
        # written the registry and ended.
        _run_detached(["wineserver", "-w"], env, BOOT_TIMEOUT, log)
        if rc is None or not (TEMPLATE_PREFIX / "system.reg").exists():
            stop_wineserver(TEMPLATE_PREFIX)
            raise RuntimeError(f"booting the template Wine prefix failed (see {log})")
        _READY_MARK.write_text("ok\n")


def _copy_prefix(src, dst):
    windows = src / "drive_c" / "windows"
    for root, dirs, files in os.walk(src):
        root = Path(root)
        target = dst / root.relative_to(src)
        target.mkdir(exist_ok=True)
        for d in list(dirs):
            if (root / d).is_symlink():
                os.symlink(os.readlink(root / d), target / d)
                dirs.remove(d)
        shared = root == windows or windows in root.parents
        for f in files:
            s = root / f
            if s.is_symlink():
                os.symlink(os.readlink(s), target / f)
                continue
            if shared and s.suffix.lower() in _SHARED_SUFFIXES:
                try:
                    os.link(s, target / f)
                    continue
                except OSError:
                    pass
            shutil.copy2(s, target / f)


class RunResult:
    def __init__(self, returncode, stdout, stderr, timed_out):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out

    def __repr__(self):
        return (f"RunResult(returncode={self.returncode}, timed_out={self.timed_out}, "
                f"stdout={self.stdout[-500:]!r}, stderr={self.stderr[-500:]!r})")


class Background:
    """A Windows program started by WinePrefix.start."""

    def __init__(self, prefix, cmd, cwd, env, out_path, err_path):
        self.prefix = prefix
        self.out_path = out_path
        self.err_path = err_path
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            self.proc = subprocess.Popen(cmd, cwd=str(cwd) if cwd else None, env=env,
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                         start_new_session=True)

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=60):
        """Waits at most `timeout` seconds; then ends every Windows process
        of the prefix and reports timed_out."""
        timed_out = False
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            self.kill()
            rc = None
        return RunResult(rc, self.out_path.read_bytes().decode("utf-8", "replace"),
                         self.err_path.read_bytes().decode("utf-8", "replace"), timed_out)

    def kill(self):
        """Ends the program and everything else running in the prefix."""
        _kill_group(self.proc)
        self.prefix.stop()


class LogEntry:
    def __init__(self, time, function, line, message):
        self.time = time
        self.function = function
        self.line = line
        self.message = message

    def __repr__(self):
        return f"LogEntry({self.function!r}, {self.line}, {self.message!r})"


_ENTRY_START = r"\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\r\nFunction: "
_ENTRY_RE = re.compile(
    r"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\r\nFunction: (.*?)\r\nLine: (\d+)\r\nMessage: (.*?)\r\n\r\n"
    r"(?=" + _ENTRY_START + r"|\Z)", re.S)


def parse_run_log(text):
    """Splits run log text (as on disk, CR LF) into entries; messages keep
    their own line breaks as LF."""
    return [LogEntry(m.group(1), m.group(2), int(m.group(3)), m.group(4).replace("\r\n", "\n"))
            for m in _ENTRY_RE.finditer(text)]


class WinePrefix:
    """A private Wine prefix for one test."""

    def __init__(self, name):
        safe = re.sub(r"[^A-Za-z0-9_.-]+", "_", name)[:100]
        self.root = E2E_DIR / safe
        self.path = self.root / "prefix"
        self.user = user_name()

    # ---- life cycle -----------------------------------------------------
    def create(self):
        """Fresh copy of the booted template, with its own running server."""
        _ensure_template()
        if self.path.exists():
            stop_wineserver(self.path)
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir(parents=True)
        _copy_prefix(TEMPLATE_PREFIX, self.path)
        # A persistent server makes each program start quickly.
        _run_detached(["wineserver", "-p"], self.env(), SERVER_TIMEOUT)
        return self

    def stop(self):
        stop_wineserver(self.path)

    def env(self, extra=None):
        return wine_env(self.path, extra)

    # ---- running programs -------------------------------------------------
    def start(self, program, args=(), cwd=None, env=None, name=None):
        """Starts a Windows program (a Linux path to an .exe, or a program of
        the prefix such as "reg") without waiting for it. Its output goes to
        files in the test's folder."""
        name = name or Path(str(program)).stem
        out_dir = self.root / "output"
        out_dir.mkdir(exist_ok=True)
        n = len(list(out_dir.glob(f"{name}.*.out")))
        return Background(self, ["wine", str(program)] + [str(a) for a in args], cwd, self.env(env),
                          out_dir / f"{name}.{n}.out", out_dir / f"{name}.{n}.err")

    def run(self, program, args=(), cwd=None, timeout=60, env=None, name=None):
        """Runs a Windows program and waits at most `timeout` seconds; on
        time-out every Windows process of the prefix is ended."""
        return self.start(program, args, cwd, env, name).wait(timeout)

    def install_program(self, source, folder="starter", name=None):
        """Copies a program into C:\\<folder> of the prefix; gives its Linux path."""
        target_dir = self.drive_c / folder
        target_dir.mkdir(parents=True, exist_ok=True)
        target = target_dir / (name or Path(source).name)
        shutil.copy2(source, target)
        return target

    def run_starter(self, args=(), name="QuorumvesselStarter.exe", folder="starter", test_build=False,
                    timeout=60, env=None):
        """Copies the starter into C:\\<folder> under the given file name and
        runs it from that folder."""
        return self.start_starter(args, name, folder, test_build, env).wait(timeout)

    def start_starter(self, args=(), name="QuorumvesselStarter.exe", folder="starter", test_build=False,
                      env=None):
        """As run_starter, without waiting (for a starter that shows its window)."""
        exe = self.install_program(TEST_STARTER if test_build else STARTER, folder, name)
        return self.start(exe, args, cwd=exe.parent, env=env, name=Path(name).stem)

    def reg(self, *args, timeout=60):
        """Runs the prefix's `reg` tool (add, query, delete...)."""
        return self.run("reg", args, timeout=timeout)

    def reg_query(self, key, value=None, timeout=60):
        """Output of `reg query` for a key (and value) of this prefix."""
        args = ["query", key] + (["/v", value] if value is not None else [])
        return self.run("reg", args, timeout=timeout)

    # ---- Windows folders as Linux paths ------------------------------------
    @property
    def drive_c(self):
        return self.path / "drive_c"

    @property
    def profile_dir(self):
        return self.drive_c / "users" / self.user

    @property
    def temp_dir(self):
        """GetTempPathW's folder, C:\\users\\<user>\\Temp."""
        return self.profile_dir / "Temp"

    @property
    def appdata_dir(self):
        return self.profile_dir / "AppData" / "Roaming"

    @property
    def local_appdata_dir(self):
        return self.profile_dir / "AppData" / "Local"

    @property
    def program_files_dir(self):
        return self.drive_c / "Program Files"

    @property
    def common_appdata_dir(self):
        return self.drive_c / "ProgramData"

    def to_windows(self, linux_path):
        """Windows form of a Linux path (C: inside the prefix, Z: elsewhere)."""
        p = Path(linux_path).resolve()
        c = self.drive_c.resolve()
        if p == c or c in p.parents:
            rest = p.relative_to(c)
            return "C:\\" + "\\".join(rest.parts)
        return "Z:" + str(p).replace("/", "\\")

    def to_linux(self, windows_path):
        """Linux path of a Windows path on C: or Z:."""
        drive, rest = windows_path[:2].upper(), windows_path[2:].replace("\\", "/").lstrip("/")
        if drive == "C:":
            return self.drive_c / rest
        if drive == "Z:":
            return Path("/") / rest
        raise ValueError(f"no Linux path for {windows_path!r}")

    # ---- the run log ------------------------------------------------------
    @property
    def run_log_path(self):
        return self.temp_dir / RUN_LOG_NAME

    def run_log_bytes(self, suffix=""):
        p = self.temp_dir / (RUN_LOG_NAME + suffix)
        return p.read_bytes() if p.exists() else b""

    def run_log(self, suffix=""):
        """Text of QVSetup.txt (or of a backup, suffix ".bak"/".bak.bak")."""
        return self.run_log_bytes(suffix).decode("utf-8", "replace")

    def run_log_entries(self, suffix=""):
        return parse_run_log(self.run_log(suffix))

    def run_log_messages(self, suffix=""):
        return [e.message for e in self.run_log_entries(suffix)]


def wait_for(condition, timeout=30.0, interval=0.1):
    """Polls until condition() is true; gives its last value."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= end:
            return value
        time.sleep(interval)
