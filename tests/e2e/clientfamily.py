"""The fake client family packaged as a real client package, launch links
made with the operator tool, and what the fake programs recorded: support
for the end-to-end journey of the starter."""

import os
import subprocess
from pathlib import Path

import harness
from packagekit import QVPACK, pack, write_files

FAKES = harness.BIN_DIR / "fakes"
QVLINK = Path(os.environ.get("QV_QVLINK", QVPACK.parent / "qvlink"))
QVEMBED = Path(os.environ.get("QV_QVEMBED", QVPACK.parent / "qvembed"))

# The installer installs the client its command file asks for and starts it;
# the client confirms its launch as the real one does once it is up.
INSTALLER_OPTIONS = "--install\r\n--launch-client\r\n--stay-ms=0\r\n"
CLIENT_OPTIONS = "--confirm-launch\r\n--stay-ms=60000\r\n"

# What a launch link's parameters become in the settings text the client
# receives: one element per row, in this order.
LINK_ELEMENTS = [
    ("account_server_ip", "AccountServerIP"), ("port", "AccountServerPort"),
    ("meeting_password", "MeetingPassword"), ("meeting_id", "MeetingId"), ("meeting_type", "MeetingType"),
    ("role", "Role"), ("version", "Version"), ("publisher_name", "Publisher"), ("publisher_url", "AboutURL"),
    ("name", "AttendeeName"), ("email", "Email"), ("email", "AttendeeEmail"), ("user_password", "UserPassword"),
    ("pass_through", "PassThrough"), ("client_name", "ClientName"), ("publisher_url", "PublisherURL"),
    ("publisher_name", "PublisherName"), ("oem_id", "OEMId"), ("oem_company_name", "OEMCompanyName"),
    ("oem_company_url", "OEMCompanyURL"), ("powered_by_field_name", "PoweredByFieldName"),
    ("main_icon", "MainIcon"), ("minor_icon", "MinorIcon"), ("login_title", "LoginTitle"), ("plst", "IsPanelist"),
    ("client_hide_server_address", "ClientHideServerAddress"), ("recognize_manufacturer", "RecognizeManufacturer"),
    ("my_product_type", "MyProductType"), ("my_product_sub_type", "MyProductSubType"),
]


def settings_for_link(params):
    out = []
    for key, name in LINK_ELEMENTS:
        value = params.get(key, "")
        if name == "ClientHideServerAddress":
            value = "Y" if value == "Y" else "N"
        elif name == "RecognizeManufacturer":
            value = "N" if value == "N" else "Y"
        out.append("<__%s__>%s</__%s__>" % (name, value, name))
    return "".join(out)


def make_link(params):
    """The protected link `qvlink make` gives for the parameters."""
    out = subprocess.run([str(QVLINK), "make"] + ["%s=%s" % kv for kv in params.items()], check=True,
                         stdout=subprocess.PIPE, timeout=60)
    return out.stdout.decode().strip()


def embed_settings(starter, output, params):
    """A copy of the starter carrying the settings of the parameters (qvembed)."""
    Path(output).parent.mkdir(parents=True, exist_ok=True)
    subprocess.run([str(QVEMBED), str(starter), str(output)] + ["%s=%s" % kv for kv in params.items()], check=True,
                   stdout=subprocess.DEVNULL, timeout=60)
    return Path(output)


def client_folder(folder, installer_options=INSTALLER_OPTIONS, client_options=CLIENT_OPTIONS):
    """The client's files as its package holds them; gives them by name."""
    files = {
        "QVInstaller.exe": (FAKES / "QVInstaller.exe").read_bytes(),
        "Quorumvessel.exe": (FAKES / "Quorumvessel.exe").read_bytes(),
        "QVInstaller.options.txt": installer_options.encode(),
        "Quorumvessel.options.txt": client_options.encode(),
    }
    write_files(folder, files)
    return files


def client_package(tmp_path):
    files = client_folder(tmp_path / "client")
    return files, pack(tmp_path / "client", tmp_path / "PCClient.zip")


def records(folder, program):
    """How a fake program was started, one dict per start (commandline,
    directory, show, pid)."""
    path = Path(folder) / ("%s.record.txt" % program)
    if not path.exists():
        return []
    entries, current = [], {}
    for line in path.read_text(encoding="utf-8").splitlines():
        if line == "end":
            entries.append(current)
            current = {}
        elif "=" in line:
            name, value = line.split("=", 1)
            current[name] = value
    return entries


def events(folder, program):
    path = Path(folder) / ("%s.events.txt" % program)
    return path.read_text(encoding="utf-8").splitlines() if path.exists() else []


def wait_for_event(folder, program, event, count=1, timeout=120):
    ok = harness.wait_for(lambda: events(folder, program).count(event) >= count, timeout=timeout)
    assert ok, "%s did not record %r (%d times); it recorded %r" % (program, event, count, events(folder, program))


def listing(root):
    """Every file and folder under root with its size and modification time."""
    root = Path(root)
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            p = Path(folder) / name
            st = p.lstat()
            out[str(p.relative_to(root))] = (st.st_size, st.st_mtime_ns) if name in files else None
    return out


def changes(before, after):
    """Paths added, removed or changed between two listings."""
    return sorted(p for p in set(before) | set(after) if before.get(p, "gone") != after.get(p, "gone"))


def read_window(prefix, close=False, posts=()):
    """What the starter's window shows (status text with line feeds as
    "\\n", progress "1" when the bar is shown); with close, the window's close
    button is then clicked and the window has gone. posts are (message,
    wParam) pairs that another program posts the window before it is read."""
    report = prefix.root / "window-report.txt"
    if report.exists():
        report.unlink()
    args = [prefix.to_windows(report)] + ["--post=%d,%#x" % (m, w) for m, w in posts] + (["--close"] if close else [])
    result = prefix.run(FAKES / "WindowReader.exe", args, timeout=180)
    assert not result.timed_out and result.returncode == 0, result
    return dict(line.split("=", 1) for line in report.read_text(encoding="utf-8").splitlines() if "=" in line)
