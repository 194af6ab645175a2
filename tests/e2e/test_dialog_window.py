"""The progress dialog on a real (virtual) screen: what it looks like, and
how it answers the mouse and the keyboard.

Each test starts QVDialogHost.exe, which shows the same dialog the starter
shows and drives it with the messages given on its command line, then writes
the window's own rectangles to a report file. The tests run on an X display
of their own, so that no other window can cover the dialog, and in a Wine
prefix of their own.
"""
import os
import shutil
import subprocess
import tempfile
import time

import pytest

import harness

BUILD = os.environ["QV_BUILD_DIR"]
WINE_RUN = os.environ["QV_WINE_RUN"]
HOST = os.path.join(os.environ["QV_BIN_DIR"], "test", "QVDialogHost.exe")
ARTEFACTS = os.path.join(BUILD, "artefacts")

BACKGROUND = (48, 54, 64)
FRAME = (172, 168, 163)
DONE = (190, 190, 190)
WHITE = (255, 255, 255)
BUTTON_FACE = (220, 217, 213)

PROGRESS_37 = ["6040:Downloading Quorumvessel ...", "6041:37,512,90"]


@pytest.fixture(scope="module")
def env():
    """A display and a prefix for this module; both go away at its end."""
    display, xvfb = None, None
    for n in range(160, 230):
        if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X%d" % n) or xvfb.poll() is not None:
                break
            time.sleep(0.1)
        if xvfb.poll() is None:
            display = ":%d" % n
            break
    assert display, "no X display could be started"
    # A prefix copied from the harness's cleanly booted template.
    prefix = harness.WinePrefix("test_dialog_window").create()
    e = dict(os.environ, DISPLAY=display, QV_WINEPREFIX=str(prefix.path))
    yield e
    prefix.stop()
    xvfb.kill()
    xvfb.wait()


class Host:
    """One running dialog host and its report."""

    def __init__(self, env, steps):
        self.env = env
        self.dir = tempfile.mkdtemp(prefix="qvdialog")
        self.report_path = os.path.join(self.dir, "report.txt")
        self.proc = subprocess.Popen([WINE_RUN, HOST, "Z:" + self.report_path.replace("/", "\\"), *steps],
                                     env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.report = self._wait_report()

    def _wait_report(self):
        deadline = time.time() + 120
        while time.time() < deadline:
            if os.path.exists(self.report_path):
                with open(self.report_path, encoding="utf-8") as f:
                    lines = f.read().splitlines()
                report = dict(line.split("=", 1) for line in lines if "=" in line)
                if report.get("ready") == "1":
                    return report
            assert self.proc.poll() is None, "the dialog host ended early"
            time.sleep(0.1)
        raise AssertionError("the dialog host wrote no report")

    def rect(self, key):
        return [int(v) for v in self.report[key].split(",")]

    def ended(self, timeout=30):
        try:
            return self.proc.wait(timeout=timeout) is not None
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


@pytest.fixture
def host(env):
    hosts = []

    def start(steps):
        h = Host(env, steps)
        hosts.append(h)
        return h

    yield start
    for h in hosts:
        h.close()


def xdo(env, *args):
    return subprocess.run(["xdotool", *[str(a) for a in args]], env=env, timeout=30, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()


def screenshot(env, name):
    os.makedirs(ARTEFACTS, exist_ok=True)
    path = os.path.join(ARTEFACTS, name)
    subprocess.run(["import", "-window", "root", path], env=env, timeout=60, check=True)
    ppm = subprocess.run(["convert", path, "ppm:-"], timeout=60, check=True, stdout=subprocess.PIPE).stdout
    # P6 header: magic, width, height, maximum value, then RGB bytes.
    parts = ppm.split(maxsplit=4)
    width = int(parts[1])
    pixels = parts[4]

    def pixel(x, y):
        i = (y * width + x) * 3
        return tuple(pixels[i:i + 3])

    return path, pixel


def window_position(env):
    wid = xdo(env, "search", "--onlyvisible", "--name", "^Bootkin$").split()[0]
    out = xdo(env, "getwindowgeometry", "--shell", wid)
    geo = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(geo["X"]), int(geo["Y"])


def test_progress_at_37_percent_looks_right(env, host):
    h = host(PROGRESS_37)
    assert h.report["bar"] == "37"
    path, pixel = screenshot(env, "dialog_progress_37.png")
    left, top, right, bottom = h.rect("window")
    mid = (top + bottom) // 2
    # Frame one pixel wide all round, then the background colour inside it.
    assert pixel(left, mid) == FRAME, path
    assert pixel(right - 1, mid) == FRAME, path
    assert pixel((left + right) // 2, top) == FRAME, path
    assert pixel((left + right) // 2, bottom - 1) == FRAME, path
    assert pixel(left + 1, mid) == BACKGROUND, path
    assert pixel(left + 3, mid) == BACKGROUND, path
    assert pixel(right - 3, bottom - 3) == BACKGROUND, path
    # Inside the bar's one-pixel border: 37 % grey, the rest white.
    pl, pt, pr, pb = h.rect("progress")
    inner_left, inner_width, bar_mid = pl + 1, pr - pl - 2, (pt + pb) // 2
    done = 37 * inner_width // 100
    assert pixel(inner_left, bar_mid) == DONE, path
    assert pixel(inner_left + done - 1, bar_mid) == DONE, path
    assert pixel(inner_left + done, bar_mid) == WHITE, path
    assert pixel(inner_left + inner_width - 1, bar_mid) == WHITE, path
    # The close button's face around its glyph.
    cl, ct, cr, cb = h.rect("close")
    assert pixel(cl + 1, ct + 1) == BUTTON_FACE, path
    assert pixel(cr - 1, cb - 1) == BUTTON_FACE, path


def test_clicking_the_close_button_ends_the_process(env, host):
    h = host(PROGRESS_37)
    cl, ct, cr, cb = h.rect("close")
    xdo(env, "mousemove", (cl + cr) // 2, (ct + cb) // 2)
    xdo(env, "click", "1")
    assert h.ended(), "the dialog host still runs after a click on the close button"
    assert h.proc.returncode == 0


def test_escape_ends_the_process(env, host):
    h = host(PROGRESS_37)
    left, top, right, bottom = h.rect("window")
    xdo(env, "mousemove", left + 3, (top + bottom) // 2)
    xdo(env, "key", "Escape")
    assert h.ended(), "the dialog host still runs after Escape"
    assert h.proc.returncode == 0


def test_dragging_the_background_moves_the_window(env, host):
    h = host(["6039:Connecting ..."])
    left, top, right, bottom = h.rect("window")
    assert window_position(env) == (left, top)
    x, y = left + 3, bottom - 3
    xdo(env, "mousemove", x, y)
    xdo(env, "mousedown", "1")
    for step in range(1, 6):
        time.sleep(0.1)
        xdo(env, "mousemove", x + 12 * step, y - 8 * step)
    time.sleep(0.2)
    xdo(env, "mouseup", "1")
    deadline = time.time() + 20
    while time.time() < deadline and window_position(env) != (left + 60, top - 40):
        time.sleep(0.1)
    assert window_position(env) == (left + 60, top - 40)
    assert h.proc.poll() is None  # moving is not closing


def set_logpixels(env, dpi):
    for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
        subprocess.run([WINE_RUN, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                       env=env, timeout=120, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def test_status_layout_scales_with_the_screen_dpi(env, host):
    set_logpixels(env, 144)
    try:
        h = host(["6040:Downloading Quorumvessel ...", "6042:Setup Quorumvessel ...\\n\\nSummary - average "
                  "speed: 512 kbps, total time: 90 seconds"])
        screenshot(env, "dialog_summary_144dpi.png")
    finally:
        set_logpixels(env, 96)
    assert h.report["logpixels"] == "144"
    assert h.report["progress_visible"] == "0"
    assert h.report["status_text"] == ("Setup Quorumvessel ...\\n\\nSummary - average speed: 512 kbps, "
                                       "total time: 90 seconds")
    il, it, ir, ib = h.rect("status_initial")
    # 15 and 10 units right and down at 1.5 pixels a unit: 22 and 15 pixels.
    assert h.rect("status") == [il + 22, it + 15, il + 22 + ir, it + 15 + ib + 45]


STARTER = os.path.join(os.environ["QV_BIN_DIR"], "test", "QuorumvesselStarter.exe")


def test_starter_says_setup_could_not_start_and_waits_for_the_user(env, tmp_path):
    # Started by the client without its parameter file: the setup cannot start.
    shutil.copy(STARTER, tmp_path)
    proc = subprocess.Popen([WINE_RUN, str(tmp_path / "QuorumvesselStarter.exe"), "--called_by_client_to_sync"],
                            env=env, cwd=str(tmp_path), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 120
        while time.time() < deadline:
            if subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Bootkin$"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                break
            assert proc.poll() is None, "the starter ended without showing its window"
            time.sleep(0.2)
        time.sleep(3)
        assert proc.poll() is None, "the window must stay until the user closes it"
        left, top = window_position(env)
        path, pixel = screenshot(env, "starter_setup_failed.png")
        wid = xdo(env, "search", "--onlyvisible", "--name", "^Bootkin$").split()[0]
        geo = dict(line.split("=", 1) for line in xdo(env, "getwindowgeometry", "--shell", wid).splitlines()
                   if "=" in line)
        width, height = int(geo["WIDTH"]), int(geo["HEIGHT"])
        assert pixel(left, top + height // 2) == FRAME, path
        # The status layout: some white text, and no progress bar (which
        # would be a long white run in its rows).
        white_runs = []
        for y in range(top + 2, top + height - 2):
            run = best = 0
            for x in range(left + 2, left + width - 2):
                run = run + 1 if pixel(x, y) == WHITE else 0
                best = max(best, run)
            white_runs.append(best)
        assert max(white_runs) > 0, path
        assert max(white_runs) < 50, path
        xdo(env, "mousemove", left + 3, top + height // 2)
        xdo(env, "key", "Escape")
        proc.wait(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
