"""The real starter under Wine: run log files, command line, registration branch."""

import re

import harness

FUNCTION = "BootkinApp::InitInstance()"
ENTRY_BYTES = re.compile(
    rb"\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\r\nFunction: [^\r\n]*\r\nLine: \d+\r\nMessage: ")


def starter_lines(prefix, suffix=""):
    return [e.message for e in prefix.run_log_entries(suffix) if e.function == FUNCTION]


def run_ok(prefix, args=(), **kw):
    result = prefix.run_starter(args, **kw)
    assert not result.timed_out, result
    assert result.returncode == 0, result
    return result


def test_three_runs_keep_two_backups_newest_first(wine_prefix):
    for n in (1, 2, 3):
        run_ok(wine_prefix, [f"run{n}"])
    for suffix, n in (("", 3), (".bak", 2), (".bak.bak", 1)):
        assert f"m_lpCmdLine = run{n}" in starter_lines(wine_prefix, suffix), suffix
        assert f"m_lpCmdLine = run{n + 1}" not in wine_prefix.run_log(suffix)
    # Text mode on disk: every line ends in CR LF, entries are separated by
    # an empty line and each starts with its header.
    raw = wine_prefix.run_log_bytes()
    assert raw.startswith(b"20") and raw.endswith(b"\r\n\r\n")
    assert b"\n" not in raw.replace(b"\r\n", b"")
    assert len(ENTRY_BYTES.findall(raw)) == len(wine_prefix.run_log_entries()) >= 3


def test_command_line_is_logged_as_utf8_and_over_long_one_as_empty(wine_prefix):
    run_ok(wine_prefix, ["Quorumvessel:meeting=Gr\u00fc\u00dfe", "42"])
    assert "m_lpCmdLine = Quorumvessel:meeting=Gr\u00fc\u00dfe 42" in starter_lines(wine_prefix)

    # 4095 bytes fit the 4096-byte copy with its terminator; 4096 do not.
    run_ok(wine_prefix, ["x" * 4095])
    assert "m_lpCmdLine = " + "x" * 4095 in starter_lines(wine_prefix)
    run_ok(wine_prefix, ["\u00e9" * 2048])
    lines = starter_lines(wine_prefix)
    assert "m_lpCmdLine = " in lines
    assert not any("\u00e9" in line for line in lines)


def test_file_name_without_starter_is_refused(wine_prefix):
    run_ok(wine_prefix, name="setup.exe")
    lines = starter_lines(wine_prefix)
    assert ("sCurrentFilePath = C:\\starter\\setup.exe, sCurrentFileName = setup.exe") in lines
    assert lines[-1] == "invalid sCurrentFileName = setup.exe"
    assert not any(line.startswith("No Meeting Parameter") for line in lines)


def test_no_settings_reaches_the_registration_branch(wine_prefix):
    run_ok(wine_prefix)
    lines = starter_lines(wine_prefix)
    assert lines[0] == "m_lpCmdLine = "
    expected = ["sCurrentFilePath = C:\\starter\\QuorumvesselStarter.exe, "
                "sCurrentFileName = QuorumvesselStarter.exe",
                "No Meeting Parameter, sClientName = Quorumvessel"]
    assert lines[-2:] == expected
    assert "invalid sCurrentFileName" not in wine_prefix.run_log()


def test_client_name_is_cut_at_starter(wine_prefix):
    run_ok(wine_prefix, name="acme-starter (2).exe", folder="Program Files/acme")
    assert starter_lines(wine_prefix)[-1] == "No Meeting Parameter, sClientName = acme-"


def test_log_that_cannot_be_created_stops_start_up(wine_prefix):
    # A temporary folder that does not exist: the run log cannot be made, the
    # only report goes to standard output, and nothing else runs.
    for name in ("TEMP", "TMP"):
        assert wine_prefix.reg("add", "HKCU\\Environment", "/v", name, "/d", "C:\\missing\\tmp", "/f").returncode == 0
    result = run_ok(wine_prefix)
    assert result.stdout.replace("\r\n", "\n") == "3...\n"
    assert not list(wine_prefix.temp_dir.glob("QVSetup*"))
    assert not list((wine_prefix.drive_c / "starter").glob("QVSetup*"))
