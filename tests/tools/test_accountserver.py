"""The local account server: replies, exact records, fault switches, TLS, program mode."""
import json
import os
import socket
import ssl
import sys
import urllib.parse

import pytest

sys.path.insert(0, os.path.join(os.environ.get("QV_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..")),
                                "tests", "server"))
from accountserver import AccountServer, AccountServerProcess  # noqa: E402

HOST = "127.0.0.2"
PACKAGE = bytes(range(256)) * 40  # 10240 bytes


def exchange(port, raw, host=HOST, tls=False, timeout=30):
    """Sends raw bytes, reads until the server closes; returns the reply bytes."""
    sock = socket.create_connection((host, port), timeout=timeout)
    if tls:
        ctx = ssl.create_default_context()
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
        sock = ctx.wrap_socket(sock)
    with sock:
        sock.sendall(raw)
        data = b""
        while True:
            try:
                chunk = sock.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            data += chunk
    return data


def split_reply(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {l.split(":", 1)[0]: l.split(":", 1)[1].strip() for l in lines[1:]}
    return lines[0], headers, body


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
        p.set_fault(path="/as/wapi/get_client", drop_after=3)
        assert get(port, "/as/wapi/get_client")[2] == b"012"
        pkg2 = tmp_path / "pkg2.bin"
        pkg2.write_bytes(b"xy")
        p.set_package(str(pkg2))
        p.clear()
        assert get(port, "/as/wapi/get_client")[2] == b"xy"
        reqs = p.requests
        assert len(reqs) == 1 and reqs[0].raw == b"GET /as/wapi/get_client HTTP/1.0\r\nHost: x\r\n\r\n"
    lines = [json.loads(l) for l in record.read_text().splitlines()]
    assert [l["path"] for l in lines] == ["/as/wapi/get_client_size", "/as/wapi/ssi", "/as/wapi/get_client",
                                          "/as/wapi/get_client"]
    assert lines[0]["raw"].startswith("GET /as/wapi/get_client_size?xml_format=Y HTTP/1.0\r\n")
