"""qvlink against an independent implementation of the link rules."""
import os
import subprocess

import pytest

import linkhelper

QVLINK = os.path.join(os.environ.get("QV_BIN_DIR", ""), "qvlink")

PAIRS = [
    ("account_server_ip", "127.0.0.2"),
    ("port", "8889"),
    ("meeting_id", "4711"),
    ("role", "host"),
    ("name", "J\u00fcrgen O'Neil & Co"),
    ("pass_through", "a=b&c=d+e%20/?"),
    ("meeting_password", ""),
]


def qvlink(*args, stdin=""):
    return subprocess.run([QVLINK, *args], input=stdin.encode(), capture_output=True, timeout=30)


def read_pairs(link):
    result = qvlink("read", link)
    assert result.returncode == 0, result.stderr.decode()
    return sorted(tuple(line.split("=", 1)) for line in result.stdout.decode().splitlines())


def test_made_link_is_accepted_by_the_helper():
    result = qvlink("make", *("%s=%s" % p for p in PAIRS))
    assert result.returncode == 0, result.stderr.decode()
    link = result.stdout.decode().rstrip("\n")
    assert link.startswith("Quorumvessel:sp=")
    # Nothing a browser would alter: sp and chk are fully URL-encoded.
    assert "+" not in link and "/" not in link and link.count("=") == 2
    assert linkhelper.read_link(link) == PAIRS
    assert link == linkhelper.make_link(PAIRS)


@pytest.mark.parametrize("length", [1, 2, 13, 14, 15, 16, 17, 300])
def test_helper_link_is_read_back(length):
    value = ("x" * length)[: length]
    pairs = [("meeting_id", value), ("role", "guest")]
    link = linkhelper.make_link(pairs, scheme="Fernbrook")
    assert read_pairs(link) == sorted(pairs)


def test_pairs_from_stdin_and_scheme_option():
    text = "# launch\nmeeting_id=42\r\n\nname=A \u00e9 B\n"
    result = qvlink("make", "--scheme", "Pallida", stdin=text)
    assert result.returncode == 0, result.stderr.decode()
    link = result.stdout.decode().strip()
    assert link.startswith("Pallida:sp=")
    assert linkhelper.read_link(link) == [("meeting_id", "42"), ("name", "A \u00e9 B")]


def test_query_option_takes_the_query_as_it_stands():
    link = qvlink("make", "--query", "x=1&&y=2=3&x=5").stdout.decode().strip()
    assert link == linkhelper.make_link_from_query("x=1&&y=2=3&x=5")
    assert read_pairs(link) == [("x", "5"), ("y", "2=3")]


def test_link_with_unencoded_sp_and_chk_is_still_read():
    # The starter retries without URL decoding; so does qvlink read.
    import base64
    plain = b"meeting_id=9&role=host"
    sp = base64.b64encode(linkhelper.mask(plain)).decode()
    link = "Quorumvessel:sp=%s&chk=%s" % (sp, linkhelper.checksum(plain))
    assert read_pairs(link) == [("meeting_id", "9"), ("role", "host")]


@pytest.mark.parametrize("link,reason", [
    ("Quorumvessel", "no \":\""),
    ("Quorumvessel:chk=abc", "no sp parameter"),
    ("Quorumvessel:sp=abc", "no chk parameter"),
    ("Quorumvessel:sp=abc&chk=def", "Checksum mismatch: sCheckSum = def, computed = "),
    ("Quorumvessel:sp=" + "A" * 4090 + "&chk=x", "the link is 4112 characters"),
], ids=["no colon", "no sp", "no chk", "mismatch", "too long"])
def test_refused_links_say_why(link, reason):
    result = qvlink("read", link)
    assert result.returncode == 1
    assert result.stdout == b""
    assert reason in result.stderr.decode()


def test_damaged_checksum_is_refused():
    link = linkhelper.make_link(PAIRS)
    damaged = link[:-5] + ("A" if link[-5] != "A" else "B") + link[-4:]
    result = qvlink("read", damaged)
    assert result.returncode == 1
    assert "Checksum mismatch" in result.stderr.decode()


@pytest.mark.parametrize("args,stdin,message", [
    ([], "", "missing command"),
    (["frobnicate"], "", "unknown command"),
    (["make", "novalue"], "", "expected NAME=VALUE"),
    (["make", "=x"], "", "expected NAME=VALUE"),
    (["make"], "", "no launch parameters"),
    (["make"], "a=1\nbad line\n", "line 2 of the input"),
    (["make", "--scheme"], "", "--scheme needs a value"),
    (["make", "--scheme", "a:b", "x=1"], "", "the scheme must be"),
    (["make", "--bogus"], "", "unknown option"),
    (["make", "--query", "a=1", "b=2"], "", "not both"),
    (["make", "name=" + "x" * 4000], "", "too long"),
    (["read"], "", "exactly one LINK"),
])
def test_bad_usage(args, stdin, message):
    result = qvlink(*args, stdin=stdin)
    assert result.returncode == 2
    assert message in result.stderr.decode()


def test_help_describes_both_commands():
    result = qvlink("--help")
    assert result.returncode == 0
    out = result.stdout.decode()
    assert "qvlink make" in out and "qvlink read" in out and "standard input" in out
