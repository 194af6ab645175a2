"""cmake/buildsettings.cmake: the build-time settings are checked at configure
time and reach the compiler as exact definitions."""
import os
import re
import subprocess

import pytest

SOURCE = os.environ.get("QV_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
KEY_A = "04" + "a1" * 63
KEY_B = "5f" * 64


def configure(tmp_path, *definitions):
    project = tmp_path / "project"
    project.mkdir()
    (project / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.25)\nproject(settings NONE)\n"
        "include(%s/cmake/buildsettings.cmake)\n"
        "get_directory_property(defs COMPILE_DEFINITIONS)\nmessage(STATUS \"QVDEFS[${defs}]\")\n"
        % os.path.abspath(SOURCE))
    r = subprocess.run(["cmake", "-S", str(project), "-B", str(project / "build"), *["-D" + d for d in definitions]],
                       capture_output=True, timeout=120, text=True)
    found = re.search(r"QVDEFS\[(.*)\]", r.stdout)
    return r.returncode, (found.group(1).split(";") if found and found.group(1) else []), " ".join(r.stderr.split())


GOOD = [
    ([], []),
    (["QV_PACKAGE_PUBLIC_KEYS=" + KEY_A.upper()], ['QV_PACKAGE_PUBLIC_KEYS="%s"' % KEY_A]),
    (["QV_PACKAGE_PUBLIC_KEYS=%s;%s" % (KEY_A, KEY_B)], ['QV_PACKAGE_PUBLIC_KEYS="%s,%s"' % (KEY_A, KEY_B)]),
    (["QV_PACKAGE_PUBLIC_KEYS= %s , %s " % (KEY_B, KEY_A)], ['QV_PACKAGE_PUBLIC_KEYS="%s,%s"' % (KEY_B, KEY_A)]),
    (["QV_ACCOUNT_SERVERS=Conference.Example.com., .Example.NET;192.0.2.10"],
     ['QV_ACCOUNT_SERVERS="conference.example.com,.example.net,192.0.2.10"']),
    (["QV_ERROR_SERVER_HOST=errors.example.com", "QV_ERROR_SERVER_ADDRESS=192.0.2.7"],
     ['QV_ERROR_SERVER_HOST="errors.example.com"', 'QV_ERROR_SERVER_ADDRESS="192.0.2.7"']),
    (["QV_ERROR_SERVER_HOST=192.0.2.8"], ['QV_ERROR_SERVER_HOST="192.0.2.8"']),
    (["QV_SERVICE_DOMAIN_1=example.com", "QV_SERVICE_DOMAIN_4=example.org",
      "QV_PUBLIC_HTTPS_SITE=https://www.example.com:8443/start?x=1"],
     ['QV_SERVICE_DOMAIN_1="example.com"', 'QV_SERVICE_DOMAIN_4="example.org"',
      'QV_PUBLIC_HTTPS_SITE="https://www.example.com:8443/start?x=1"']),
    # the older spelling alone is left to the flags
    (['CMAKE_CXX_FLAGS=-O1 -DQV_ERROR_SERVER_HOST=\\"errors.example.com\\"', "QV_SERVICE_DOMAIN_2=example.net"],
     ['QV_SERVICE_DOMAIN_2="example.net"']),
]


@pytest.mark.parametrize("definitions,expected", GOOD)
def test_good_settings_become_definitions(tmp_path, definitions, expected):
    status, defs, err = configure(tmp_path, *definitions)
    assert status == 0, err
    assert defs == expected


BAD = [
    ("QV_PACKAGE_PUBLIC_KEYS=" + KEY_A[:-1],
     'QV_PACKAGE_PUBLIC_KEYS="%s": "%s" is not a public key: 128 hex digits (127 given), as `qvpack keygen` prints them'
     % (KEY_A[:-1], KEY_A[:-1])),
    ("QV_PACKAGE_PUBLIC_KEYS=%s,%s,%s" % (KEY_A, KEY_B, "77" * 64),
     "at most two keys (the current one and the next one)"),
    ("QV_PACKAGE_PUBLIC_KEYS=%s,%s" % (KEY_A, KEY_A.upper()), "the same key twice"),
    ("QV_PACKAGE_PUBLIC_KEYS=" + "g" * 128, "is not a public key: 128 hex digits (128 given)"),
    ("QV_ACCOUNT_SERVERS=*.example.com",
     'QV_ACCOUNT_SERVERS="*.example.com": "*.example.com" is not a host name, a .domain or an IPv4 address '
     "(write .domain for a domain and every name under it)"),
    ("QV_ACCOUNT_SERVERS=example.com:8889",
     '"example.com:8889" is not a host name, a .domain or an IPv4 address (IPv6 addresses and ports are not supported)'),
    ("QV_ACCOUNT_SERVERS=https://conference.example.com",
     '"https://conference.example.com" is not a host name, a .domain or an IPv4 address '
     "(write the host name alone, without a scheme or a path)"),
    ("QV_ACCOUNT_SERVERS=256.0.0.1", '"256.0.0.1" is not a host name, a .domain or an IPv4 address'),
    ("QV_ACCOUNT_SERVERS=ex_ample.com", '"ex_ample.com" is not a host name'),
    ("QV_ACCOUNT_SERVERS=..example.com", '"..example.com" is not a host name'),
    ("QV_ACCOUNT_SERVERS=%s.com" % ("a" * 64), "is not a host name, a .domain or an IPv4 address"),
    ("QV_ACCOUNT_SERVERS=" + ",".join("h%d" % i for i in range(17)), "at most 16 entries"),
    ("QV_ERROR_SERVER_ADDRESS=localhost", 'QV_ERROR_SERVER_ADDRESS="localhost": not an IPv4 address (such as 192.0.2.7)'),
    ("QV_ERROR_SERVER_ADDRESS=10.0.0.01", "not an IPv4 address"),
    ("QV_ERROR_SERVER_HOST=errors example.com", 'QV_ERROR_SERVER_HOST="errors example.com": not a host name'),
    ("QV_SERVICE_DOMAIN_3=-bad.example.com", 'QV_SERVICE_DOMAIN_3="-bad.example.com": not a host name'),
    ("QV_PUBLIC_HTTPS_SITE=http://www.example.com", "not an https://host[:port][/path] address"),
    ("QV_PUBLIC_HTTPS_SITE=https://www.example.com:99999", "not an https://host[:port][/path] address"),
    ('QV_PUBLIC_HTTPS_SITE=https://www.example.com/"x', "not an https://host[:port][/path] address"),
    ("QV_PUBLIC_HTTPS_SITE=https://www.example.com/a\\b", "not an https://host[:port][/path] address"),
]


@pytest.mark.parametrize("definition,message", BAD)
def test_malformed_settings_stop_the_configure_step(tmp_path, definition, message):
    status, _, err = configure(tmp_path, definition)
    assert status != 0
    assert message in err


def test_a_setting_given_both_ways_is_refused(tmp_path):
    status, _, err = configure(tmp_path, 'CMAKE_CXX_FLAGS=-DQV_ERROR_SERVER_HOST=\\"a.example.com\\"',
                               "QV_ERROR_SERVER_HOST=b.example.com")
    assert status != 0
    assert "QV_ERROR_SERVER_HOST is given twice: as -DQV_ERROR_SERVER_HOST=... and inside CMAKE_CXX_FLAGS; keep one" in err
