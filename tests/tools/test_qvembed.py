"""qvembed appends the settings block a starter reads when started without a
command line."""
import base64
import os
import subprocess

import pytest

MARKER = b"V&&VI***DDDD111111###!!!!#####$$$%%@@@UUUU"
QVEMBED = os.path.join(os.environ.get("QV_BIN_DIR", ""), "qvembed")
STARTER = b"MZ\x90\x00 pretend starter " + MARKER + b"\x00 tail \x00\x01"


def elements(values):
    names = ["AccountServerIP", "AccountServerPort", "MeetingPassword", "MeetingId", "MeetingType", "Role",
             "Version", "Publisher", "AboutURL", "AttendeeName", "Email", "AttendeeEmail", "UserPassword",
             "PassThrough", "ClientName", "PublisherURL", "PublisherName", "OEMId", "OEMCompanyName",
             "OEMCompanyURL", "PoweredByFieldName", "MainIcon", "MinorIcon", "LoginTitle", "IsPanelist",
             "ClientHideServerAddress", "RecognizeManufacturer", "MyProductType", "MyProductSubType"]
    defaults = {"ClientHideServerAddress": "N", "RecognizeManufacturer": "Y"}
    return "".join("<__%s__>%s</__%s__>" % (n, values.get(n, defaults.get(n, "")), n) for n in names)


def embed(tmp_path, *args, stdin=None):
    starter = tmp_path / "QuorumvesselStarter.exe"
    starter.write_bytes(STARTER)
    out = tmp_path / "out.exe"
    result = subprocess.run([QVEMBED, str(starter), str(out)] + list(args), input=stdin,
                            capture_output=True, text=True)
    return result, out


def block_of(data):
    assert data.startswith(STARTER)
    block = data[len(STARTER):]
    assert block.startswith(MARKER) and block.endswith(b"\x00")
    return block[len(MARKER):-1]


def test_from_launch_parameters(tmp_path):
    result, out = embed(tmp_path, "role=host", "email=a@b.c", "user_password=p w", "port=8890")
    assert result.returncode == 0, result.stderr
    text = block_of(out.read_bytes())
    lines = text.split(b"\n")
    assert all(len(line) == 76 for line in lines[:-1]) and 0 < len(lines[-1]) <= 76
    assert base64.b64decode(text.replace(b"\n", b"")).decode() == elements(
        {"Role": "host", "Email": "a@b.c", "AttendeeEmail": "a@b.c", "UserPassword": "p w",
         "AccountServerPort": "8890"})


def test_from_standard_input(tmp_path):
    result, out = embed(tmp_path, stdin="# comment\nrole=guest\r\n\nname=Z\u00fc\n")
    assert result.returncode == 0, result.stderr
    assert base64.b64decode(block_of(out.read_bytes()).replace(b"\n", b"")).decode() == elements(
        {"Role": "guest", "AttendeeName": "Z\u00fc"})


def test_settings_file_used_as_it_stands(tmp_path):
    settings = tmp_path / "s.txt"
    settings.write_bytes(b"<__Role__></__Role__>\r\n<__StarterSid__>s1</__StarterSid__>")
    result, out = embed(tmp_path, "--settings", str(settings))
    assert result.returncode == 0, result.stderr
    assert base64.b64decode(block_of(out.read_bytes()).replace(b"\n", b"")) == settings.read_bytes()


@pytest.mark.parametrize("content, message", [
    (b"<__role__>host</__role__>", "lack the <__Role__> element"),
    (b"<__Role__>" + b"x" * 4086, "the settings are 4096 bytes; the starter takes at most 4095"),
    (b"<__Role__>\x00", "zero byte"),
])
def test_refused_settings(tmp_path, content, message):
    settings = tmp_path / "s.txt"
    settings.write_bytes(content)
    result, out = embed(tmp_path, "--settings", str(settings))
    assert result.returncode == 2
    assert message in result.stderr
    assert not out.exists()


def test_longest_settings_accepted(tmp_path):
    settings = tmp_path / "s.txt"
    settings.write_bytes(b"<__Role__>" + b"x" * 4085)
    result, out = embed(tmp_path, "--settings", str(settings))
    assert result.returncode == 0, result.stderr
    assert len(base64.b64decode(block_of(out.read_bytes()).replace(b"\n", b""))) == 4095


def test_bad_pair_is_a_usage_error(tmp_path):
    result, out = embed(tmp_path, "role")
    assert result.returncode == 2 and 'expected NAME=VALUE, got "role"' in result.stderr
    assert not out.exists()
