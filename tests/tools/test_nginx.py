"""The nginx configuration of deploy/nginx serves what qvpack publish wrote:
the size answer, the package with ranges and validators (the local account
server answers range requests the same way), the report answer; over plain
HTTP and HTTPS; and a transfer broken on the way resumes with a range."""
import email.utils
import os
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

import rawhttp
from rawhttp import split_reply

SOURCE_DIR = Path(os.environ.get("QV_SOURCE_DIR", Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "server"))
from accountserver import AccountServer  # noqa: E402
from nginxserver import CuttingRelay, NginxServer  # noqa: E402

QVPACK = os.path.join(os.environ.get("QV_BIN_DIR", "build/native/bin"), "qvpack")
ADDRESS = "127.0.0.62"
PACKAGE_PATH = "/as/wapi/get_client"
PACKAGE_TARGET = PACKAGE_PATH + "?client_type=0&client=pc&myrand11262017=Ab12&rdm=1700000000"

def free_port():
    with socket.socket() as s:
        s.bind((ADDRESS, 0))
        return s.getsockname()[1]


def exchange(port, raw, tls=False):
    return rawhttp.exchange(port, raw, host=ADDRESS, tls=tls)


def request(target, headers=""):
    return ("GET %s HTTP/1.1\r\nHost: %s\r\n%sConnection: close\r\n\r\n" % (target, ADDRESS, headers)).encode()


def make_client(folder, seed):
    (folder / "bin").mkdir(parents=True, exist_ok=True)
    (folder / "QVInstaller.exe").write_bytes(b"MZ" + bytes([seed]) * 3000)
    (folder / "bin" / "core.dll").write_bytes(os.urandom(40000))


def publish(folder, root):
    r = subprocess.run([QVPACK, "publish", "--level", "0", str(folder), str(root)], capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr
    return root / "as" / "wapi" / "get_client"


class Site:
    def __init__(self, tmp_path):
        self.folder = tmp_path / "client"
        self.root = tmp_path / "www"
        make_client(self.folder, 1)
        self.package_file = publish(self.folder, self.root)
        self.nginx = NginxServer(tmp_path / "nginx", self.root, ADDRESS, free_port(), free_port(), free_port())

    @property
    def package(self):
        return self.package_file.read_bytes()

    def validators(self):
        """ETag and Last-Modified as nginx makes them: from the file's size and
        its date in whole seconds."""
        st = self.package_file.stat()
        return '"%x-%x"' % (int(st.st_mtime), st.st_size), email.utils.formatdate(int(st.st_mtime), usegmt=True)


@pytest.fixture(scope="module")
def shared_site(tmp_path_factory):
    s = Site(tmp_path_factory.mktemp("site"))
    with s.nginx:
        yield s


class SiteView:
    """A shared site, with the requests of one test."""

    def __init__(self, shared):
        self.__dict__.update(shared.__dict__)
        self.shared = shared
        self.start = len(shared.nginx.requests())

    package = Site.package
    validators = Site.validators

    def logged(self, count):
        return self.nginx.wait_for_requests(count, start=self.start)


@pytest.fixture
def site(shared_site):
    """A site whose package no test changes."""
    return SiteView(shared_site)


@pytest.fixture
def own_site(tmp_path):
    """A site of the test's own, for a test that publishes anew."""
    s = Site(tmp_path)
    with s.nginx:
        yield s


def expected_head(site, reply, status, first=None, last=None):
    """The exact reply head nginx owes (its Date taken from the reply)."""
    package = site.package
    etag, modified = site.validators()
    date = split_reply(reply)[1]["Date"]
    if status == 200:
        lines = ["HTTP/1.1 200 OK", "Server: nginx", "Date: " + date, "Content-Type: application/octet-stream",
                 "Content-Length: %d" % len(package), "Last-Modified: " + modified, "Connection: close",
                 "ETag: " + etag, "Accept-Ranges: bytes"]
    else:
        lines = ["HTTP/1.1 206 Partial Content", "Server: nginx", "Date: " + date,
                 "Content-Type: application/octet-stream", "Content-Length: %d" % (last + 1 - first),
                 "Last-Modified: " + modified, "Connection: close", "ETag: " + etag,
                 "Content-Range: bytes %d-%d/%d" % (first, last, len(package))]
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def test_size_answer_package_and_report_whatever_the_query(site):
    package = site.package
    port = site.nginx.ports["port"]
    size = exchange(port, request("/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc&myrand11262017=x1"))
    line, headers, body = split_reply(size)
    assert (line, headers["Content-Type"], body) == (
        "HTTP/1.1 200 OK", "text/html", b"<__ClientSize__>%d</__ClientSize__>" % len(package))
    for target in (PACKAGE_TARGET, PACKAGE_PATH, PACKAGE_PATH + "?client=mac"):
        reply = exchange(port, request(target))
        assert reply == expected_head(site, reply, 200) + package, target
    line, _, body = split_reply(exchange(port, request("/as/wapi/ssi?sid=S-42")))
    assert (line, body) == ("HTTP/1.1 200 OK", b"OK")
    # Nothing else under the root, nor any other path, is served.
    for target in ("/as/wapi/get_client.new", "/as/wapi/", "/as/wapi/get_client/x", "/"):
        assert split_reply(exchange(port, request(target)))[0] == "HTTP/1.1 404 Not Found", target
    logged = site.logged(8)
    assert [r.request for r in logged[:3]] == [
        "GET /as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc&myrand11262017=x1 HTTP/1.1",
        "GET %s HTTP/1.1" % PACKAGE_TARGET, "GET %s HTTP/1.1" % PACKAGE_PATH]
    assert [(r.status, r.body_bytes_sent, r.completed) for r in logged[1:4]] == [(200, len(package), True)] * 3
    assert logged[4].request == "GET /as/wapi/ssi?sid=S-42 HTTP/1.1"
    assert [r.status for r in logged[5:]] == [404] * 4


@pytest.mark.parametrize("which, tls", [("port", False), ("http", False), ("https", True)])
def test_every_listener_serves_the_package(site, which, tls):
    reply = exchange(site.nginx.ports[which], request(PACKAGE_TARGET), tls=tls)
    assert reply == expected_head(site, reply, 200) + site.package
    logged, = site.logged(1)
    assert (logged.scheme, logged.port) == ("https" if tls else "http", site.nginx.ports[which])


@pytest.mark.parametrize("headers, status, first, last", [
    ("Range: bytes=4000-", 206, 4000, None),
    ("Range: bytes=0-", 206, 0, None),
    ("Range: bytes=4000-\r\nIf-Range: {etag}", 206, 4000, None),
    ("Range: bytes=4000-\r\nIf-Range: {date}", 206, 4000, None),
    ("Range: bytes=4000-\r\nIf-Range: \"5f5e1000-9c90\"", 200, None, None),
    ("Range: bytes=4000-\r\nIf-Range: W/{etag}", 200, None, None),
    ("Range: bytes=4000-\r\nIf-Range: Thu, 01 Jan 1970 00:00:00 GMT", 200, None, None),
    ("Range: bytes=0-1,5-6", 200, None, None),
], ids=["from", "from-0", "if-etag", "if-date", "stale-etag", "weak-etag", "stale-date", "two-ranges"])
def test_ranges_and_if_range(site, headers, status, first, last):
    etag, modified = site.validators()
    extra = headers.format(etag=etag, date=modified) + "\r\n"
    reply = exchange(site.nginx.ports["port"], request(PACKAGE_TARGET, extra))
    package = site.package
    if status == 206:
        last = len(package) - 1 if last is None else last
        assert reply == expected_head(site, reply, 206, first, last) + package[first:last + 1]
    else:
        assert reply == expected_head(site, reply, 200) + package
    logged, = site.logged(1)
    assert (logged.status, logged.range, logged.if_range) == (
        status, extra.split("\r\n")[0][len("Range: "):], extra.split("If-Range: ")[1][:-2] if "If-Range" in extra else "")
    assert logged.content_range == ("bytes %d-%d/%d" % (first, last, len(package)) if status == 206 else "")


@pytest.mark.parametrize("headers", [
    "", "Range: bytes=4000-", "Range: bytes=100-199", "Range: bytes=-40", "Range: bytes=9000-900000",
    "Range: bytes={size}-", "Range: bytes=0-1,5-6", "Range: pages=1-", "If-Range: {etag}",
    "Range: bytes=7-\r\nIf-Range: {etag}", "Range: bytes=7-\r\nIf-Range: \"0\"", "Range: bytes=7-\r\nIf-Range: W/{etag}",
], ids=["none", "from", "span", "suffix", "past-end", "at-end", "two", "unit", "if-only", "if", "stale", "weak"])
def test_account_server_answers_ranges_as_nginx_does(site, headers):
    package = site.package
    with AccountServer([(ADDRESS, 0)], package=package) as srv:
        srv.set_serving(last_modified=False)
        answers = []
        for port, etag in ((site.nginx.ports["port"], site.validators()[0]), (srv.port(), srv.package_etag)):
            extra = headers.format(size=len(package), etag=etag)
            line, got, body = split_reply(exchange(port, request(PACKAGE_TARGET, extra + "\r\n" if extra else "")))
            kept = (line, got.get("Content-Range"), got.get("Accept-Ranges"))
            answers.append(kept + ((got["Content-Length"], body) if line.split(" ")[1] != "416" else ()))
    assert answers[0] == answers[1]


def test_publishing_a_new_package_changes_the_validators_at_once(own_site):
    site = own_site
    old_etag, old_date = site.validators()
    old = site.package
    port = site.nginx.ports["port"]
    # Same size, other bytes, within the same second as the package it replaces.
    (site.folder / "bin" / "core.dll").write_bytes(os.urandom(40000))
    now = time.time()
    os.utime(site.package_file, (now, now))
    old_etag, old_date = site.validators()
    publish(site.folder, site.root)
    new = site.package
    assert len(new) == len(old) and new != old
    etag, modified = site.validators()
    assert etag != old_etag and modified != old_date
    for stale in (old_etag, old_date):
        reply = exchange(port, request(PACKAGE_TARGET, "Range: bytes=4000-\r\nIf-Range: %s\r\n" % stale))
        assert reply == expected_head(site, reply, 200) + new
    reply = exchange(port, request(PACKAGE_TARGET, "Range: bytes=4000-\r\nIf-Range: %s\r\n" % etag))
    assert reply == expected_head(site, reply, 206, 4000, len(new) - 1) + new[4000:]


def read_replies(sock, count):
    """Reads count replies (each with Content-Length) from a kept-alive
    connection, then whatever comes until it closes; gives (replies, rest)."""
    data = b""
    replies = []
    while True:
        while len(replies) < count and b"\r\n\r\n" in data:
            head, _, rest = data.partition(b"\r\n\r\n")
            length = int(split_reply(head + b"\r\n\r\n")[1]["Content-Length"])
            if len(rest) < length:
                break
            replies.append(head + b"\r\n\r\n" + rest[:length])
            data = rest[length:]
        chunk = sock.recv(65536)
        if not chunk:
            return replies, data
        data += chunk


@pytest.mark.parametrize("replace", [False, True], ids=["resumed", "replaced"])
def test_transfer_cut_on_the_way_resumes_with_a_range(own_site, replace):
    """What the starter's resume asks of the host: a package reply that ends
    early, then the rest with Range and If-Range; or the whole new package
    when it was replaced in between."""
    site = own_site
    cut_after = 15000
    old = site.package
    etag = site.validators()[0]

    def republish():
        (site.folder / "bin" / "core.dll").write_bytes(os.urandom(40000))
        publish(site.folder, site.root)

    with CuttingRelay(ADDRESS, 0, (ADDRESS, site.nginx.ports["port"]), PACKAGE_PATH, cut_after,
                      on_cut=republish if replace else None) as relay:
        # The size answer and the package on one kept-alive connection, as
        # WinInet sends them.
        with socket.create_connection((ADDRESS, relay.port), timeout=30) as sock:
            size = b"GET /as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc HTTP/1.1\r\nHost: x\r\n\r\n"
            sock.sendall(size)
            sock.sendall(b"GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % PACKAGE_TARGET.encode())
            (size_reply,), rest = read_replies(sock, 1)
        assert split_reply(size_reply)[2] == b"<__ClientSize__>%d</__ClientSize__>" % len(old)
        head, _, got = rest.partition(b"\r\n\r\n")
        assert split_reply(rest)[0] == "HTTP/1.1 200 OK" and got == old[:cut_after]
        assert relay.cuts == [{"request": "GET %s HTTP/1.1" % PACKAGE_TARGET, "head": head + b"\r\n\r\n",
                               "body_passed": cut_after}]
        resume = "Range: bytes=%d-\r\nIf-Range: %s\r\n" % (len(got), split_reply(rest)[1]["ETag"])
        reply = exchange(relay.port, request(PACKAGE_TARGET, resume))
    new = site.package
    if replace:
        assert new != old and reply == expected_head(site, reply, 200) + new
    else:
        assert got + split_reply(reply)[2] == old
        assert reply == expected_head(site, reply, 206, cut_after, len(old) - 1) + old[cut_after:]
    logged = site.nginx.wait_for_requests(3)
    assert [(r.request, r.range, r.if_range, r.status) for r in logged] == [
        ("GET /as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc HTTP/1.1", "", "", 200),
        ("GET %s HTTP/1.1" % PACKAGE_TARGET, "", "", 200),
        ("GET %s HTTP/1.1" % PACKAGE_TARGET, "bytes=%d-" % cut_after, etag, 200 if replace else 206)]
