#!/usr/bin/python3
"""What the signature check adds to a whole run: the keyed test starter and
the unkeyed one download the same signed 64 MiB package from the local
account server, check it (keyed only), unpack it and start its installer.
Prints the median time from start to the installer's start of each, and
the check's share of the keyed run. Run by scripts/bench_verify."""

import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
os.environ.setdefault("QV_SOURCE_DIR", str(ROOT))
os.environ.setdefault("QV_BUILD_DIR", str(ROOT / "build" / "win64"))
os.environ.setdefault("QV_BIN_DIR", str(ROOT / "build" / "win64" / "bin"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "server"))
sys.path.insert(0, str(ROOT / "tests" / "tools"))
import clientfamily  # noqa: E402
import harness  # noqa: E402
import packagekit  # noqa: E402
import signhelper  # noqa: E402
from accountserver import AccountServer  # noqa: E402

ADDRESS = "127.0.71.60"   # the keyed test build's only server
MIB = 1024 * 1024
RUNS = 3
KEY = ROOT / "tests" / "e2e" / "keys" / "current" / "signing-key.pem"


def one_run(name, starter, package):
    prefix = harness.WinePrefix("bench-verify-" + name).create()
    try:
        exe = prefix.install_program(starter, "starter")
        (exe.parent / "starter.txt").write_text(packagekit.settings(ADDRESS, 8889, "5.2"))
        setup = prefix.temp_dir / "qv_starter_dir"
        with AccountServer([(ADDRESS, 8889)], package=package):
            started = time.monotonic()
            run = prefix.start(exe, cwd=exe.parent)
            if not harness.wait_for(lambda: clientfamily.records(setup, "QVInstaller"), timeout=300, interval=0.02):
                sys.exit("%s: the installer was not started; run log:\n%s" % (name, prefix.run_log()))
            seconds = time.monotonic() - started
            run.kill()
        verified = [m for m in prefix.run_log_messages() if "signature verified" in m]
        if (name == "keyed") != bool(verified):
            sys.exit("%s: unexpected signature log: %r" % (name, verified))
        return seconds
    finally:
        prefix.stop()


def main():
    out = ROOT / "build" / "bench-verify"
    client = out / "run-client"
    clientfamily.client_folder(client, installer_options="--stay-ms=0\r\n", client_options="")
    packagekit.write_files(client, {"data\\payload.bin": os.urandom(64 * MIB)})
    payload = packagekit.pack(client, out / "run-payload.pkg")
    package = signhelper.signed_package(KEY, payload, "5.2")
    print("bench run package: %d bytes (%.1f MiB), signed" % (len(package), len(package) / MIB))
    times = {}
    for name, starter in (("unkeyed", harness.TEST_STARTER),
                          ("keyed", harness.BIN_DIR / "keyed" / "QuorumvesselStarter.exe")):
        times[name] = [one_run(name, starter, package) for _ in range(RUNS)]
        print("bench run %s starter, start to installer (download, %sunpack): median %.2f s of %s" % (
            name, "check, " if name == "keyed" else "", statistics.median(times[name]),
            ", ".join("%.2f" % t for t in times[name])))
    keyed, unkeyed = statistics.median(times["keyed"]), statistics.median(times["unkeyed"])
    print("bench run difference keyed - unkeyed: %.2f s (%.0f%% of the keyed run)"
          % (keyed - unkeyed, 100.0 * (keyed - unkeyed) / keyed))
    return keyed


if __name__ == "__main__":
    keyed_seconds = main()
    cng = os.environ.get("QV_BENCH_CNG_MS")
    if cng:
        print("bench check share: the %s ms check is %.0f%% of the keyed run's %.2f s"
              % (cng, 100.0 * float(cng) / 1000.0 / keyed_seconds, keyed_seconds))
