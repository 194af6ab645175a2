"""The OS text of the error report for the Windows versions a prefix reports."""

import harness

# A program without a compatibility manifest is told 6.2 on anything later
# than Windows 8; every version from 6 up is named Vista.
CASES = [
    ("winxp", "Microsoft Windows XP Professional Service Pack 3 (Build 2600)"),
    ("vista", "Microsoft Windows Vista Professional Service Pack 2 (Build 6002)"),
    ("win10", "Microsoft Windows Vista Professional  (Build 9200)"),
]


def test_os_name_for_each_windows_version(wine_prefix):
    for version, expected in CASES:
        r = wine_prefix.run("reg", ["add", r"HKCU\Software\Wine", "/v", "Version", "/d", version, "/f"])
        assert r.returncode == 0, r
        r = wine_prefix.run(harness.BIN_DIR / "qvwin_tests.exe", ["--gtest_filter=SystemInfoGetOSName.*"],
                            env={"QV_EXPECTED_OS_NAME": expected}, timeout=120)
        assert not r.timed_out and r.returncode == 0, (version, r)
        assert "OS: " + expected in r.stdout.splitlines(), (version, r.stdout)
