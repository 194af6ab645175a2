#!/usr/bin/env python3
"""Times the starter's download-and-unpack of a 64 MiB package against the
same steps done with common tools (curl, then a plain zlib inflate of every
member), on loopback, QV_BENCH_RUNS times (5), and prints each ratio and
the run of the median ratio with its steps; then the
starter's peak memory (VmHWM) for a 64 MiB and a 512 MiB package against an
idle starter, and a throttled download cut by the server at half its body:
resumed, undropped and without range support.

Run through scripts/bench (which builds what is needed first).
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "server"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
os.environ.setdefault("QV_SOURCE_DIR", str(ROOT))
os.environ.setdefault("QV_BUILD_DIR", str(ROOT / "build" / "win64"))
os.environ.setdefault("QV_BIN_DIR", str(ROOT / "build" / "win64" / "bin"))

import harness  # noqa: E402
from accountserver import AccountServer  # noqa: E402
from packagekit import start_starter  # noqa: E402

ADDRESS = "127.0.0.60"
PORT = 8889
TARGET = 64 * 1024 * 1024
QVPACK = ROOT / "build" / "native" / "bin" / "qvpack"


def make_folder(folder, target=TARGET):
    """A few hundred files: text that compresses well and random bytes."""
    rnd = random.Random(7)
    words = [("w%d" % i).encode() for i in range(500)]
    total, n = 0, 0
    while total < target:
        size = rnd.choice([4096, 60000, 300000, 700000])
        size = min(size, target - total)
        sub = folder / ("dir%d" % (n % 12)) / ("sub%d" % (n % 5))
        sub.mkdir(parents=True, exist_ok=True)
        if n % 2:
            data = rnd.randbytes(size)
        else:
            data = b" ".join(rnd.choice(words) for _ in range(size // 3))[:size]
        (sub / ("file%04d.bin" % n)).write_bytes(data)
        total += size
        n += 1
    return n


def reference(url, out_dir):
    """curl to a file, then inflate every member with zlib into its file."""
    archive = out_dir / "PCClient.zip"
    t0 = time.monotonic()
    subprocess.run(["curl", "-s", "-o", str(archive), url], check=True, timeout=300)
    t1 = time.monotonic()
    data = archive.read_bytes()
    pos = 0
    while pos < len(data):
        (nlen,) = struct.unpack_from("<I", data, pos)
        pos += 4
        name = data[pos:pos + nlen].split(b"\0")[0].decode().replace("\\", "/")
        pos += nlen
        dlen, _ = struct.unpack_from("<IH", data, pos)
        pos += 6
        target = out_dir / "unpacked" / name
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(zlib.decompress(data[pos:pos + dlen]))
        pos += dlen
    archive.unlink()
    t2 = time.monotonic()
    return t2 - t0, t1 - t0, t2 - t1


def starter_pids(prefix):
    """The starters running in this prefix (other prefixes on the machine,
    other test runs among them, are not counted)."""
    mark = str(prefix.drive_c).encode()
    pids = []
    for d in os.listdir("/proc"):
        if d.isdigit():
            try:
                cmd = open("/proc/%s/cmdline" % d, "rb").read()
            except OSError:
                continue
            if b"QuorumvesselStarter.exe" in cmd and mark in cmd:
                pids.append(int(d))
    return pids


def peak_kib(pids):
    best = 0
    for pid in pids:
        try:
            for line in open("/proc/%d/status" % pid):
                if line.startswith("VmHWM:"):
                    best = max(best, int(line.split()[1]))
        except OSError:
            pass
    return best


MILESTONES = [("size query", "iDownloadSize = "), ("download", "Download is completed"),
              ("save and stop clients", "CZLib::UnZip"), ("unpack", "Uncompress ")]


def run_starter(prefix, settings, timeout=300):
    """Starts the test build and waits for the unpacking to be logged;
    returns (seconds from the start of the download step to the unpacked
    package, seconds from the process start, peak KiB, seconds per step)."""
    proc = start_starter(prefix, {"starter.txt": settings.encode()})
    t0 = time.monotonic()
    peak, started = 0, None
    seen = {}
    deadline = t0 + timeout
    pids, pids_at = [], 0.0
    while time.monotonic() < deadline and len(seen) < len(MILESTONES):
        # Listing /proc takes CPU from the starter on a small machine: the
        # list of starters is taken again twice a second only.
        if time.monotonic() - pids_at > 0.5:
            pids, pids_at = starter_pids(prefix), time.monotonic()
        peak = max(peak, peak_kib(pids))
        text = prefix.run_log()
        now = time.monotonic()
        if started is None and "In Download:" in text:
            started = now
        for name, line in MILESTONES:
            if name not in seen and line in text:
                seen[name] = now
        time.sleep(0.01)
    prefix.stop()
    proc.wait(timeout=60)
    if "unpack" not in seen:
        raise RuntimeError("the starter did not unpack the package (see %s)" % prefix.run_log_path)
    steps, last = [], started or t0
    for name, _ in MILESTONES:
        steps.append((name, seen[name] - last))
        last = seen[name]
    return seen["unpack"] - (started or t0), seen["unpack"] - t0, peak, steps


def settings_for(address, port):
    return ("<__AccountServerIP__>%s</__AccountServerIP__><__AccountServerPort__>%d"
            "</__AccountServerPort__><__ClientName__>Quorumvessel</__ClientName__>"
            "<__Version__>9.9.9</__Version__>" % (address, port))


def pack_folder(folder, archive, level=None):
    (folder / "QVInstaller.exe").write_bytes(b"MZ")
    args = [str(QVPACK), "pack"] + (["--level", str(level)] if level is not None else []) + [str(folder), str(archive)]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    return archive


def idle_peak_kib(address):
    """VmHWM of a starter that waits for its size query (the server holds
    the reply back) and has downloaded nothing."""
    with AccountServer([(address, PORT)], package=b"x") as srv:
        srv.set_fault(path="/as/wapi/get_client_size", stall=60)
        prefix = harness.WinePrefix("bench.idle").create()
        try:
            proc = start_starter(prefix, {"starter.txt": settings_for(address, PORT).encode()})
            srv.wait_for_requests(1, timeout=120, path="/as/wapi/get_client_size")
            time.sleep(3)
            peak = peak_kib(starter_pids(prefix))
        finally:
            prefix.stop()
        proc.wait(timeout=60)
    return peak


def memory_run(work, address, megabytes):
    """Peak memory of the starter downloading and unpacking a package made
    of megabytes MiB of mixed files."""
    folder = work / ("mem%d" % megabytes)
    make_folder(folder, megabytes * 1024 * 1024)
    package = pack_folder(folder, work / ("mem%d.zip" % megabytes), level=1)
    size = package.stat().st_size
    with AccountServer([(address, PORT)], package=package.read_bytes()) as srv:
        package.unlink()
        prefix = harness.WinePrefix("bench.mem%d" % megabytes).create()
        try:
            starter, _, peak, _ = run_starter(prefix, settings_for(address, PORT), timeout=1200)
        finally:
            prefix.stop()
            shutil.rmtree(prefix.root, ignore_errors=True)
    shutil.rmtree(folder, ignore_errors=True)
    return size, starter, peak


THROTTLE_MB = 20
THROTTLE_RATE = 4 * 1024 * 1024


def throttled_run(work, address, case):
    """A 20 MiB package at 4 MiB/s: whole ("undropped"), cut at half its
    body and resumed ("resumed"), or cut on a server without ranges
    ("no ranges"). Seconds from the download step's start to the complete
    download, and the package requests made."""
    folder = work / "throttled"
    if not folder.exists():
        folder.mkdir()
        (folder / "payload.bin").write_bytes(os.urandom(THROTTLE_MB * 1024 * 1024))
        pack_folder(folder, work / "throttled.zip", level=0)
    data = (work / "throttled.zip").read_bytes()
    with AccountServer([(address, PORT)], package=data) as srv:
        if case == "no ranges":
            srv.set_serving(ranges=False)
        if case != "undropped":
            srv.set_fault(path="/as/wapi/get_client", drop_after=len(data) // 2, rate=THROTTLE_RATE, times=1)
        srv.set_fault(path="/as/wapi/get_client", rate=THROTTLE_RATE)
        prefix = harness.WinePrefix("bench.throttle." + case.replace(" ", "")).create()
        try:
            proc = start_starter(prefix, {"starter.txt": settings_for(address, PORT).encode()})
            t0, started, done = time.monotonic(), None, None
            while time.monotonic() < t0 + 300 and done is None:
                text = prefix.run_log()
                now = time.monotonic()
                if started is None and "In Download:" in text:
                    started = now
                if "Download is completed" in text:
                    done = now
                time.sleep(0.02)
        finally:
            prefix.stop()
        proc.wait(timeout=60)
        requests = srv.requests_for("/as/wapi/get_client")
    if done is None:
        raise RuntimeError("the throttled download (%s) did not complete" % case)
    asked = ", ".join(r.header("Range") or "whole" for r in requests)
    return done - started, asked


RUNS = int(os.environ.get("QV_BENCH_RUNS", "5"))


def compare_once(url, ref_dir, settings, folder):
    """One reference run and one starter run of the same package; returns
    (reference s, curl s, zlib s, starter s, s from its start, peak KiB,
    steps, whether the starter's files equal the folder's)."""
    ref_dir.mkdir()
    ref, ref_download, ref_unpack = reference(url, ref_dir)
    shutil.rmtree(ref_dir, ignore_errors=True)
    prefix = harness.WinePrefix("bench.download").create()
    try:
        starter, total, peak, steps = run_starter(prefix, settings)
    finally:
        prefix.stop()
    unpacked = prefix.temp_dir / "qv_starter_dir"
    same = all((unpacked / p.relative_to(folder)).read_bytes() == p.read_bytes()
               for p in folder.rglob("*") if p.is_file())
    return ref, ref_download, ref_unpack, starter, total, peak, steps, same


def main():
    work = Path(tempfile.mkdtemp(prefix="qvbench."))
    try:
        folder = work / "client"
        count = make_folder(folder)
        package = pack_folder(folder, work / "PCClient.zip")
        size = package.stat().st_size
        print("package: %d files, %.1f MiB unpacked, %.1f MiB packed" % (
            count + 1, sum(f.stat().st_size for f in folder.rglob("*") if f.is_file()) / 2**20, size / 2**20))
        settings = settings_for(ADDRESS, PORT)
        runs = []
        with AccountServer([(ADDRESS, PORT)], package=package.read_bytes()) as srv:
            url = "http://%s:%d/as/wapi/get_client?client_type=0&client=pc" % (ADDRESS, PORT)
            for i in range(RUNS):
                runs.append(compare_once(url, work / ("ref%d" % i), settings, folder))
                ref, _, _, starter, _, _, _, same = runs[-1]
                print("run %d: reference %.2f s, starter %.2f s, ratio %.2f, unpacked files identical: %s" % (
                    i + 1, ref, starter, starter / ref, "yes" if same else "NO"))
        # The run of the median ratio, with its steps: one slow run (the
        # machine's page cache writing back, another program) moves no figure.
        runs.sort(key=lambda r: r[3] / r[0])
        ref, ref_download, ref_unpack, starter, total, peak, steps, same = runs[len(runs) // 2]
        print("the run of the median ratio (of %d; lowest %.2f, highest %.2f):" % (
            len(runs), runs[0][3] / runs[0][0], runs[-1][3] / runs[-1][0]))
        print("reference (curl + zlib inflate): %.2f s" % ref)
        print("  %-22s %.2f s" % ("download (curl)", ref_download))
        print("  %-22s %.2f s" % ("unpack (zlib)", ref_unpack))
        print("starter (size query to unpacked): %.2f s (%.2f s from its start, Wine start-up included)" %
              (starter, total))
        for name, seconds in steps:
            print("  %-22s %.2f s" % (name, seconds))
        print("ratio starter/reference: %.2f" % (starter / ref))
        print("starter peak memory (VmHWM): %.1f MiB" % (peak / 1024.0))
        print("unpacked files identical in every run: %s" % ("yes" if all(r[7] for r in runs) else "NO"))
        shutil.rmtree(folder, ignore_errors=True)

        print()
        idle = idle_peak_kib("127.0.0.61")
        print("peak memory (VmHWM), idle starter waiting for its size query: %.1f MiB" % (idle / 1024.0))
        for megabytes in (64, 512):
            packed, seconds, peak = memory_run(work, "127.0.0.62", megabytes)
            print("  %3d MiB package (%.1f MiB packed, level 1): %.1f MiB, %.1f MiB above idle (%.1f s)" % (
                megabytes, packed / 2**20, peak / 1024.0, (peak - idle) / 1024.0, seconds))

        print()
        print("throttled download: %d MiB at %d MiB/s, the server cuts the first reply at half its body"
              % (THROTTLE_MB, THROTTLE_RATE // 2**20))
        times = {}
        for case in ("undropped", "resumed", "no ranges"):
            times[case], asked = throttled_run(work, "127.0.0.63", case)
            print("  %-10s %.2f s  (package requests: %s)" % (case, times[case], asked))
        print("  ratio resumed/undropped: %.2f" % (times["resumed"] / times["undropped"]))
        print("  ratio no ranges/undropped: %.2f" % (times["no ranges"] / times["undropped"]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
