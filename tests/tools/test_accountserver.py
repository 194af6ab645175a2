"""The local account server: replies, exact records, fault switches, package
ranges and validators, TLS, program mode."""
import email.utils
import json
import os
import sys
import urllib.parse

import pytest

import rawhttp
from rawhttp import split_reply

sys.path.insert(0, os.path.join(os.environ.get("QV_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..")),
                                "tests", "server"))
from accountserver import AccountServer, AccountServerProcess  # noqa: E402

HOST = "127.0.0.2"
PACKAGE = bytes(range(256)) * 40  # 10240 bytes


def exchange(port, raw, **kw):
    return rawhttp.exchange(port, raw, host=HOST, **kw)


def get(port, target, extra=b"", **kw):
    return split_reply(exchange(port, b"GET " + target.encode() + b" HTTP/1.0\r\nHost: x\r\n" + extra + b"\r\n", **kw))


@pytest.fixture
def srv():
    with AccountServer([(HOST, 0)], package=PACKAGE) as s:
        yield s


def test_records_the_request_byte_for_byte(srv):
    raw = (b"GET /as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc&myrand11262017=abc HTTP/1.0\r\n"
           b"Accept: */*\r\nHost: 127.0.0.2:80\r\nConnection: Keep-Alive\r\n\r\n")
    exchange(srv.port(), raw)
    post = b"POST /x HTTP/1.1\r\nContent-Length: 5\r\nX-A:  b \r\n\r\nhello"
    exchange(srv.port(), post)
    first, second = srv.requests
    assert first.raw == raw
    assert first.request_line == raw.split(b"\r\n")[0].decode()
    assert first.headers == [["Accept", "*/*"], ["Host", "127.0.0.2:80"], ["Connection", "Keep-Alive"]]
    assert first.path == "/as/wapi/get_client_size"
    assert first.params == {"client_type": "0", "xml_format": "Y", "client": "pc", "myrand11262017": "abc"}
    assert not first.via_proxy and not first.tls
    assert second.raw == post and second.body == b"hello" and second.method == "POST"
    assert (first.seq, second.seq) == (1, 2)


@pytest.mark.parametrize("target,status,body", [
    ("/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc", "200", b"<__ClientSize__>10240</__ClientSize__>"),
    ("/as/wapi/get_client_size?client_type=0&client=pc", "200", b"10240"),
    ("/as/wapi/get_client?client_type=0&client=pc&rdm=1", "200", PACKAGE),
    ("/as/wapi/ssi?sid=S1", "200", b"OK"),
    ("/nothing", "404", b"not found"),
])
def test_answers(srv, target, status, body):
    line, headers, got = get(srv.port(), target)
    assert line.split(" ")[1] == status
    assert got == body
    assert headers["Content-Length"] == str(len(body))
    assert headers["Connection"] == "close"


def test_user_input_pac_and_missing_package(srv):
    srv.set_user_input("abc")
    assert get(srv.port(), "/as/wapi/ssi?sid=1")[2] == b"<__UserInput__>abc</__UserInput__>"
    srv.set_pac('function FindProxyForURL(u, h) { return "PROXY 127.0.0.3:8888; DIRECT"; }')
    line, headers, body = get(srv.port(), "/proxy.pac")
    assert headers["Content-Type"] == "application/x-ns-proxy-autoconfig"
    assert b"PROXY 127.0.0.3:8888; DIRECT" in body
    srv.set_package(None)
    assert get(srv.port(), "/as/wapi/get_client_size?xml_format=Y")[2] == b"<__ClientSize__>0</__ClientSize__>"
    assert get(srv.port(), "/as/wapi/get_client")[0].split(" ")[1] == "404"


def test_error_report_form_is_decoded(srv):
    report = "Quorumvessel sCurrentFile = a b\n<___LOGFILE___>x+y/=</___LOGFILE___>&&xyz\n"
    body = ("error=" + urllib.parse.quote_plus(report)).encode()
    raw = (b"POST /aspx/web_conference/common/GWErrorServer.aspx HTTP/1.1\r\n"
           b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n" % len(body)) + body
    line, _, reply = split_reply(exchange(srv.port(), raw))
    assert line.startswith("HTTP/1.1 200")
    assert srv.error_reports == [report]
    assert srv.requests[0].body == body


@pytest.mark.parametrize("fault,status,length,body", [
    (dict(status=500, body="<__ClientSize__>7</__ClientSize__>"), "500", "34", b"<__ClientSize__>7</__ClientSize__>"),
    (dict(status=404), "404", "10240", PACKAGE),
    (dict(drop_after=100), "200", "10240", PACKAGE[:100]),
    (dict(omit_length=True), "200", None, PACKAGE),
    (dict(content_length=20000), "200", "20000", PACKAGE),
    (dict(rate=200000), "200", "10240", PACKAGE),
])
def test_fault_switches_shape_the_reply(srv, fault, status, length, body):
    srv.set_fault(path="/as/wapi/get_client", **fault)
    line, headers, got = get(srv.port(), "/as/wapi/get_client?client=pc")
    assert line.split(" ")[1] == status
    assert headers.get("Content-Length") == length
    assert got == body


def test_fault_scope_times_path_port_and_match(srv):
    srv.set_fault(path="/as/wapi/ssi", status=503, times=2)
    srv.set_fault(port=srv.port() + 1, status=418)  # another port: never applies here
    codes = [get(srv.port(), "/as/wapi/ssi")[0].split(" ")[1] for _ in range(3)]
    assert codes == ["503", "503", "200"]
    assert get(srv.port(), "/as/wapi/get_client_size")[0].split(" ")[1] == "200"
    # A path covers only itself, or everything under it when it ends with "/".
    srv.set_fault(path="/as/wapi/get_client", status=500)
    assert get(srv.port(), "/as/wapi/get_client_size?client=pc")[0].split(" ")[1] == "200"
    srv.set_fault(path="/as/wapi/", status=502, times=1)
    assert get(srv.port(), "/as/wapi/get_client_size?client=pc")[0].split(" ")[1] == "502"
    srv.clear()
    srv.set_fault(match="HTTP/1.1", raw="HTTP/1.0 200 OK\r\nX: y\r\n")
    assert exchange(srv.port(), b"GET /a HTTP/1.1\r\n\r\n") == b"HTTP/1.0 200 OK\r\nX: y\r\n"
    assert get(srv.port(), "/as/wapi/ssi")[2] == b"OK"  # HTTP/1.0: not matched


def test_stall_and_require_proxy_close_without_reply(srv):
    srv.set_fault(stall=0.5, times=1)
    assert exchange(srv.port(), b"GET /as/wapi/ssi HTTP/1.0\r\n\r\n") == b""
    srv.set_fault(require_proxy=True)
    assert exchange(srv.port(), b"GET /as/wapi/ssi HTTP/1.0\r\n\r\n") == b""
    line, _, body = get(srv.port(), "/as/wapi/ssi", extra=b"Via: 1.1 proxy\r\n")
    assert line.startswith("HTTP/1.1 200") and body == b"OK"
    line, _, body = split_reply(exchange(srv.port(), b"GET http://127.0.0.2:80/as/wapi/ssi?sid=1 HTTP/1.0\r\n\r\n"))
    assert body == b"OK"
    reqs = srv.requests
    assert [r.via_proxy for r in reqs] == [False, False, True, True]
    assert reqs[-1].path == "/as/wapi/ssi" and reqs[-1].params == {"sid": "1"}


def test_https_listener_shares_state():
    with AccountServer([(HOST, 0), (HOST, 0, True)], package=b"abc") as s:
        line, _, body = get(s.port(1), "/as/wapi/get_client", tls=True)
        assert line.startswith("HTTP/1.1 200") and body == b"abc"
        s.set_fault(status=500)
        assert get(s.port(0), "/as/wapi/get_client")[0].split(" ")[1] == "500"
        assert [r.tls for r in s.requests] == [True, False]
        assert s.requests[0].listener == "%s:%d" % (HOST, s.port(1))


def test_program_mode(tmp_path):
    pkg = tmp_path / "pkg.bin"
    pkg.write_bytes(b"0123456789")
    record = tmp_path / "rec.jsonl"
    with AccountServerProcess([(HOST, 0)], package=str(pkg), record_file=str(record),
                              user_input="u1") as p:
        port = p.listeners[0][1]
        assert get(port, "/as/wapi/get_client_size?xml_format=Y")[2] == b"<__ClientSize__>10</__ClientSize__>"
        assert get(port, "/as/wapi/ssi?sid=1")[2] == b"<__UserInput__>u1</__UserInput__>"
        pkg3 = tmp_path / "pkg3.bin"
        pkg3.write_bytes(b"abc")
        p.set_fault(path="/as/wapi/get_client", drop_after=3, times=1, replace_with=str(pkg3))
        assert get(port, "/as/wapi/get_client")[2] == b"012"
        assert get(port, "/as/wapi/get_client")[2] == b"abc"
        pkg2 = tmp_path / "pkg2.bin"
        pkg2.write_bytes(b"xy")
        p.set_package(str(pkg2))
        p.clear()
        assert get(port, "/as/wapi/get_client")[2] == b"xy"
        reqs = p.requests
        assert len(reqs) == 1 and reqs[0].raw == b"GET /as/wapi/get_client HTTP/1.0\r\nHost: x\r\n\r\n"
        assert reqs[0].reply_head.startswith(b"HTTP/1.1 200 OK\r\n") and reqs[0].body_sent == 2
        assert get(port, "/as/wapi/get_client", extra=b"Range: bytes=1-\r\n")[2] == b"y"
        p.set_serving(ranges=False)
        line, headers, body = get(port, "/as/wapi/get_client", extra=b"Range: bytes=1-\r\n")
        assert line == "HTTP/1.1 200 OK" and body == b"xy" and "Accept-Ranges" not in headers
    lines = [json.loads(l) for l in record.read_text().splitlines()]
    assert [l["path"] for l in lines] == ["/as/wapi/get_client_size", "/as/wapi/ssi"] + ["/as/wapi/get_client"] * 5
    assert lines[0]["raw"].startswith("GET /as/wapi/get_client_size?xml_format=Y HTTP/1.0\r\n")


# -- the package: validators, ranges, replacement ------------------------

def package_reply(srv, status, first=None, last=None, ranges=True, etag=True, last_modified=True, package=PACKAGE):
    """The exact reply bytes the server owes for a package request."""
    reasons = {200: "OK", 206: "Partial Content", 416: "Requested Range Not Satisfiable"}
    if status == 206:
        body = package[first:last + 1]
    elif status == 416:
        body = b""
    else:
        body = package
    head = "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n" % (
        status, reasons[status], "text/html" if status == 416 else "application/octet-stream", len(body))
    if status == 206:
        head += "Content-Range: bytes %d-%d/%d\r\n" % (first, last, len(package))
    if status == 416:
        head += "Content-Range: bytes */%d\r\n" % len(package)
    if etag:
        head += "ETag: %s\r\n" % srv.package_etag
    if last_modified:
        head += "Last-Modified: %s\r\n" % srv.package_last_modified
    if ranges and status == 200:
        head += "Accept-Ranges: bytes\r\n"
    return head.encode() + b"Connection: close\r\n\r\n" + body


def ask_package(srv, extra, port=None):
    raw = b"GET /as/wapi/get_client?client_type=0&client=pc&myrand11262017=a1 HTTP/1.1\r\nHost: x\r\n" + extra + b"\r\n"
    return raw, exchange(port or srv.port(), raw)


@pytest.mark.parametrize("headers, status, first, last", [
    ("", 200, None, None),
    ("Range: bytes=4000-", 206, 4000, 10239),
    ("Range: bytes=0-", 206, 0, 10239),
    ("Range: bytes=10239-", 206, 10239, 10239),
    ("Range: bytes=100-199", 206, 100, 199),
    ("Range: bytes=9000-20000", 206, 9000, 10239),
    ("Range: bytes=-40", 206, 10200, 10239),
    ("Range: bytes=10240-", 416, None, None),
    ("Range: bytes=-0", 416, None, None),
    # Ignored: the whole package.
    ("Range: bytes=0-1,5-6", 200, None, None),
    ("Range: pages=1-", 200, None, None),
    ("Range: bytes=5-2", 200, None, None),
    ("Range: bytes=x-", 200, None, None),
    # If-Range keeps the range only for the current validator, compared exactly.
    ("Range: bytes=4000-\r\nIf-Range: {etag}", 206, 4000, 10239),
    ("Range: bytes=4000-\r\nIf-Range: {date}", 206, 4000, 10239),
    ("Range: bytes=4000-\r\nIf-Range: \"0123\"", 200, None, None),
    ("Range: bytes=4000-\r\nIf-Range: W/{etag}", 200, None, None),
    ("Range: bytes=4000-\r\nIf-Range: Thu, 01 Jan 1970 00:00:00 GMT", 200, None, None),
    ("If-Range: {etag}", 200, None, None),
], ids=lambda v: v if isinstance(v, str) else None)
def test_package_ranges_and_validators(srv, headers, status, first, last):
    extra = headers.format(etag=srv.package_etag, date=srv.package_last_modified).encode()
    raw, reply = ask_package(srv, extra + b"\r\n" if extra else b"")
    assert reply == package_reply(srv, status, first, last)
    record, = srv.requests
    assert record.raw == raw
    assert record.reply_head == reply[:reply.index(b"\r\n\r\n") + 4]
    assert record.body_sent == len(reply) - len(record.reply_head)


def test_validators_change_exactly_when_the_package_does(srv):
    etag, date = srv.package_etag, srv.package_last_modified
    assert etag.startswith('"') and etag.endswith('"') and len(etag) == 34
    srv.set_package(bytes(PACKAGE))  # the same bytes again: nothing changes
    assert (srv.package_etag, srv.package_last_modified) == (etag, date)
    replaced = PACKAGE[::-1]
    srv.set_package(replaced)
    # A different hash, and a date at least a second later even within the same second.
    assert srv.package_etag != etag
    assert (email.utils.parsedate_to_datetime(srv.package_last_modified) -
            email.utils.parsedate_to_datetime(date)).total_seconds() >= 1
    for old in (etag, date):
        _, reply = ask_package(srv, b"Range: bytes=4000-\r\nIf-Range: " + old.encode() + b"\r\n")
        assert reply == package_reply(srv, 200, package=replaced)
    _, reply = ask_package(srv, b"Range: bytes=4000-\r\nIf-Range: " + srv.package_etag.encode() + b"\r\n")
    assert reply == package_reply(srv, 206, 4000, 10239, package=replaced)


@pytest.mark.parametrize("serving", [dict(ranges=False), dict(etag=False), dict(last_modified=False),
                                     dict(etag=False, last_modified=False)],
                         ids=["no-ranges", "no-etag", "no-date", "no-validator"])
def test_serving_switches(srv, serving):
    srv.set_serving(**serving)
    flags = dict(dict(ranges=True, etag=True, last_modified=True), **serving)
    _, reply = ask_package(srv, b"")
    assert reply == package_reply(srv, 200, **flags)
    # A validator that is not sent does not keep a range either.
    for validator, sent in ((srv.package_etag, flags["etag"]), (srv.package_last_modified, flags["last_modified"])):
        _, reply = ask_package(srv, b"Range: bytes=10-\r\nIf-Range: " + validator.encode() + b"\r\n")
        if flags["ranges"] and sent:
            assert reply == package_reply(srv, 206, 10, 10239, **flags)
        else:
            assert reply == package_reply(srv, 200, **flags)
    srv.set_serving(ranges=True, etag=True, last_modified=True)
    assert ask_package(srv, b"Range: bytes=10-\r\n")[1] == package_reply(srv, 206, 10, 10239)


def test_dropped_transfer_resumes_with_a_range(srv):
    srv.set_fault(path="/as/wapi/get_client", drop_after=3000, times=1)
    _, first = ask_package(srv, b"")
    assert first == package_reply(srv, 200)[:-len(PACKAGE) + 3000]
    head, _, got = first.partition(b"\r\n\r\n")
    etag = split_reply(first)[1]["ETag"]
    raw, second = ask_package(srv, b"Range: bytes=%d-\r\nIf-Range: %s\r\n" % (len(got), etag.encode()))
    assert second == package_reply(srv, 206, 3000, 10239)
    assert got + split_reply(second)[2] == PACKAGE
    # drop_after counts the bytes of the reply it cuts, also for a range.
    srv.set_fault(path="/as/wapi/get_client", drop_after=100, times=1)
    _, third = ask_package(srv, b"Range: bytes=9000-\r\n")
    assert third == package_reply(srv, 206, 9000, 10239)[:-1240 + 100]
    assert [r.body_sent for r in srv.requests] == [3000, 7240, 100]
    assert srv.requests[1].raw == raw


def test_package_replaced_right_after_a_cut_reply(srv):
    replaced = PACKAGE[::-1]
    srv.set_fault(path="/as/wapi/get_client", drop_after=3000, times=1, replace_with=replaced)
    old_etag = srv.package_etag
    _, first = ask_package(srv, b"")
    assert split_reply(first)[1]["ETag"] == old_etag and split_reply(first)[2] == PACKAGE[:3000]
    assert srv.package_etag != old_etag
    _, second = ask_package(srv, b"Range: bytes=3000-\r\nIf-Range: %s\r\n" % old_etag.encode())
    assert second == package_reply(srv, 200, package=replaced)
