#!/usr/bin/env python3
"""Local account server for the starter's tests and the demo.

Python 3 standard library only. It answers what the starter asks of the
account server and the error server, on loopback addresses, and records
every request exactly as it arrived.

Requests answered
  GET  /as/wapi/get_client_size   size of the package: "<__ClientSize__>N</__ClientSize__>"
                                   with xml_format=Y, else the bare decimal N (0 without a package)
  GET  /as/wapi/get_client        the package bytes (404 without a package), with ETag,
                                   Last-Modified and (in a 200) Accept-Ranges: bytes; a single
                                   "Range: bytes=N-" (or N-M, -K) is answered 206 with
                                   Content-Range, or 416 past the end; "If-Range" with the
                                   current ETag or Last-Modified text keeps the range, any
                                   other value gets 200 and the whole package
  GET  /as/wapi/ssi               installation report: "<__UserInput__>v</__UserInput__>" when a
                                   user input is set, else "OK"
  POST /aspx/web_conference/common/GWErrorServer.aspx
                                   error report; the decoded form field "error" is kept in
                                   error_reports
  GET  any path ending ".pac"     the proxy auto-config script (set_pac), served as
                                   application/x-ns-proxy-autoconfig
  anything else                   404 "not found"
Every reply carries "Connection: close" and the connection ends after it.

Listeners
  One server may listen on several (address, port, tls) triples that share
  package, faults and records: for example 127.0.0.2:8889, 127.0.0.2:80 and
  127.0.0.2:443 with TLS. TLS uses a self-signed certificate made with the
  openssl command when the server starts (kept in a temporary folder).

Package validators
  The ETag is a hash of the package bytes (so it changes exactly when the
  bytes do); Last-Modified is the time the package was set, moved at least one
  second past the previous one when the bytes change, so neither validator
  can survive a replacement. set_serving(ranges=False) answers every request
  with 200 and the whole package and sends no Accept-Ranges;
  set_serving(etag=False) or (last_modified=False) leaves that validator out.

Records (one per request, in arrival order)
  seq, listener ("addr:port"), tls, client ("addr:port"), raw (the request
  exactly as received: head and body bytes), request_line, headers (list of
  [name, value] in order), body (bytes), method, target, path, query,
  params (decoded query, dict of first values), via_proxy (a Via header or an
  absolute-form request target); once the reply is out also reply_head (the
  status line and headers exactly as sent, bytes) and body_sent (body bytes
  that went out); a --record file is written on arrival, without these two.

Fault switches (set per test; the first matching fault applies)
  set_fault(path=None, port=None, match=None, times=None, status=None, body=None,
            raw=None, drop_after=None, stall=None, rate=None, omit_length=False,
            content_length=None, require_proxy=False, replace_with=None)
    path            applies only to this request path, or to every path under it
                    when it ends with "/" (so get_client never covers get_client_size)
    port            applies only to this listening port
    match           applies only to requests whose request line contains this text
                    (for example "HTTP/1.0" for the socket download only)
    times           applies to this many requests, then is removed
    status          reply status code (the normal body is kept unless body is given)
    body            reply body (text or bytes) instead of the normal one
    raw             send exactly these bytes (text or bytes) as the whole reply
    drop_after      send the head and this many body bytes (of this reply: for a 206
                    counted from the range's start), then close the connection
    stall           wait this many seconds (or until the server stops) without
                    answering, then close without a reply
    rate            send the reply at most this many bytes per second
    omit_length     leave Content-Length out (the body ends when the connection closes)
    content_length  announce this Content-Length instead of the true one
    require_proxy   requests that did not come through a proxy are answered with a
                    connection reset
    replace_with    once this reply is out (or cut), serve these package bytes (in
                    program mode: the path of a file) instead: the package changes
                    between two requests exactly

Use from pytest (in the test's own process)
    sys.path.insert(0, os.path.join(os.environ["QV_SOURCE_DIR"], "tests", "server"))
    from accountserver import AccountServer
    with AccountServer([("127.0.0.2", 8889), ("127.0.0.2", 443, True)],
                       package=b"...") as srv:
        srv.set_fault(path="/as/wapi/get_client", drop_after=100, times=1)
        ... run the program ...
        reqs = srv.requests_for("/as/wapi/get_client_size")
        assert reqs[0].raw == b"GET /as/... HTTP/1.0\\r\\n..."
  srv.port(i) gives the bound port of listener i (port 0 binds a free one).

Use as a program (the demo and the Windows end-to-end tests)
    python3 accountserver.py --listen 127.0.0.2:8889 --listen 127.0.0.2:443:tls \\
        [--package FILE] [--user-input TEXT] [--pac-file FILE] [--record FILE]
  It prints one line "READY <json list of [addr, port, tls]>" to standard output
  when every listener is bound, and runs until SIGTERM/SIGINT. --record appends
  each request as one JSON line (raw and body as latin-1 text, byte for byte).
  Control requests, served on every listener and never recorded or faulted:
    POST /__qv__/fault      JSON object with the set_fault arguments
    POST /__qv__/clear      drop faults and records
    POST /__qv__/package    body: a file path to serve as the package
    POST /__qv__/serving    JSON object with the set_serving arguments
    POST /__qv__/pac        body: the auto-config script text
    POST /__qv__/userinput  body: the user input of the ssi reply
    GET  /__qv__/requests   JSON list of the records (raw/body as latin-1 text)
    GET  /__qv__/errors     JSON list of the decoded error reports
  AccountServerProcess in this file starts the program and wraps these.
"""

import argparse
import email.utils
import hashlib
import http
import json
import os
import re
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

ERROR_SERVER_PATH = "/aspx/web_conference/common/GWErrorServer.aspx"
CONTROL_PREFIX = "/__qv__/"
MAX_HEAD = 65536
MAX_BODY = 64 * 1024 * 1024
SOCKET_TIMEOUT = 60.0
DEFAULT_PAC = 'function FindProxyForURL(url, host) { return "DIRECT"; }\n'
PACKAGE_TYPE = "application/octet-stream"
SERVING_KEYS = ("ranges", "etag", "last_modified")
_RANGE_NUMBER = re.compile(r"[0-9]*")
UNSATISFIABLE = "unsatisfiable"


class Request:
    """One request as it arrived."""

    def __init__(self, seq, listener, tls, client, head, body):
        self.seq = seq
        self.listener = listener
        self.tls = tls
        self.client = client
        self.raw = head + body
        self.body = body
        text = head.decode("latin-1")
        lines = text.split("\r\n")
        self.request_line = lines[0]
        self.headers = []
        for line in lines[1:]:
            if not line:
                continue
            name, _, value = line.partition(":")
            self.headers.append([name, value.strip()])
        parts = self.request_line.split(" ")
        self.method = parts[0] if parts else ""
        self.target = parts[1] if len(parts) > 1 else ""
        target = self.target
        self.via_proxy = self.header("Via") is not None
        if "://" in target:
            # Absolute form, as a client talking to a proxy sends it.
            self.via_proxy = True
            target = "/" + target.split("://", 1)[1].partition("/")[2]
        self.path, _, self.query = target.partition("?")
        self.params = {k: v[0] for k, v in urllib.parse.parse_qs(
            self.query, keep_blank_values=True).items()}
        self.reply_head = None
        self.body_sent = 0

    def header(self, name):
        for n, v in self.headers:
            if n.lower() == name.lower():
                return v
        return None

    def to_json(self):
        return {
            "seq": self.seq, "listener": self.listener, "tls": self.tls,
            "client": self.client, "raw": self.raw.decode("latin-1"),
            "request_line": self.request_line, "headers": self.headers,
            "body": self.body.decode("latin-1"), "method": self.method,
            "target": self.target, "path": self.path, "query": self.query,
            "params": self.params, "via_proxy": self.via_proxy,
            "reply_head": None if self.reply_head is None else self.reply_head.decode("latin-1"),
            "body_sent": self.body_sent,
        }


class _Record(Request):
    """A record read back from JSON (process mode)."""

    def __init__(self, d):  # pylint: disable=super-init-not-called
        self.__dict__.update(d)
        self.raw = d["raw"].encode("latin-1")
        self.body = d["body"].encode("latin-1")
        if d.get("reply_head") is not None:
            self.reply_head = d["reply_head"].encode("latin-1")


FAULT_KEYS = ("path", "port", "match", "raw", "times", "status", "body", "drop_after", "stall",
              "rate", "omit_length", "content_length", "require_proxy", "replace_with")


class _State:
    def __init__(self, package, pac, user_input, record_file):
        self.lock = threading.Lock()
        self.cond = threading.Condition(self.lock)
        self.package = None
        self.etag = None
        self.modified = 0
        self.serving = {key: True for key in SERVING_KEYS}
        self.replace_package(package)
        self.pac = pac
        self.user_input = user_input
        self.faults = []
        self.requests = []
        self.error_reports = []
        self.record_file = record_file
        self.stopping = threading.Event()

    def record(self, listener, tls, client, head, body):
        with self.lock:
            req = Request(len(self.requests) + 1, listener, tls, client, head, body)
            self.requests.append(req)
            if self.record_file:
                with open(self.record_file, "a", encoding="utf-8") as f:
                    f.write(json.dumps(req.to_json()) + "\n")
            self.cond.notify_all()
            return req

    def replace_package(self, data):
        """Serves new package bytes (None: no package). The validators move on
        only when the bytes change; the caller holds the lock (or no listener
        runs yet)."""
        if data is not None and data == self.package:
            return
        self.package = data
        if data is not None:
            self.etag = '"%s"' % hashlib.sha256(data).hexdigest()[:32]
            # Dates have whole seconds: a replacement within the same second
            # still gets a later Last-Modified than the package it replaces.
            self.modified = max(int(time.time()), self.modified + 1)

    def take_fault(self, req, port):
        with self.lock:
            for fault in self.faults:
                if fault.get("path") and not _path_matches(req.path, fault["path"]):
                    continue
                if fault.get("port") and fault["port"] != port:
                    continue
                if fault.get("match") and fault["match"] not in req.request_line:
                    continue
                if fault.get("times") is not None:
                    fault["times"] -= 1
                    if fault["times"] <= 0:
                        self.faults.remove(fault)
                return dict(fault)
        return {}


def _read_request(conn):
    """Reads head and body; returns (head, body) or None when nothing came."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return (data, b"") if data else None
        data += chunk
        if len(data) > MAX_HEAD and b"\r\n\r\n" not in data[:MAX_HEAD]:
            return data, b""
    end = data.index(b"\r\n\r\n") + 4
    head, body = data[:end], data[end:]
    length = 0
    for line in head.decode("latin-1").split("\r\n")[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "content-length":
            try:
                length = min(int(value.strip()), MAX_BODY)
            except ValueError:
                length = 0
    while len(body) < length:
        chunk = conn.recv(min(65536, length - len(body)))
        if not chunk:
            break
        body += chunk
    return head, body


def parse_range(text, size):
    """The one byte range a Range header asks of size bytes: (first, last),
    UNSATISFIABLE, or None for a header that is ignored (another unit,
    several ranges, bad syntax), which gets the whole body."""
    unit, _, spec = text.partition("=")
    if unit.strip().lower() != "bytes" or "," in spec:
        return None
    start, dash, end = spec.strip().partition("-")
    start, end = start.strip(), end.strip()
    if not dash or not _RANGE_NUMBER.fullmatch(start) or not _RANGE_NUMBER.fullmatch(end) or not (start or end):
        return None
    if not start:  # the last <end> bytes
        count = int(end)
        if count == 0 or size == 0:
            return UNSATISFIABLE
        return max(0, size - count), size - 1
    first = int(start)
    if end and int(end) < first:
        return None
    if first >= size:
        return UNSATISFIABLE
    return first, min(int(end), size - 1) if end else size - 1


def _package_reply(state, req):
    """(status, content type, body, extra headers) for a package request."""
    with state.lock:
        data, etag, modified = state.package, state.etag, state.modified
        serving = dict(state.serving)
    if data is None:
        return 404, "text/html", b"no package", []
    last_modified = email.utils.formatdate(modified, usegmt=True)
    headers = []
    if serving["etag"]:
        headers.append(("ETag", etag))
    if serving["last_modified"]:
        headers.append(("Last-Modified", last_modified))
    if not serving["ranges"]:
        return 200, PACKAGE_TYPE, data, headers
    # As nginx does: only a whole reply says that ranges may be asked for.
    whole = headers + [("Accept-Ranges", "bytes")]
    wanted = req.header("Range")
    if wanted is None:
        return 200, PACKAGE_TYPE, data, whole
    condition = req.header("If-Range")
    if condition is not None and not ((serving["etag"] and condition == etag) or
                                      (serving["last_modified"] and condition == last_modified)):
        return 200, PACKAGE_TYPE, data, whole  # the package changed: all of it
    span = parse_range(wanted, len(data))
    if span is None:
        return 200, PACKAGE_TYPE, data, whole
    if span == UNSATISFIABLE:
        return 416, "text/html", b"", [("Content-Range", "bytes */%d" % len(data))] + headers
    first, last = span
    return (206, PACKAGE_TYPE, data[first:last + 1],
            [("Content-Range", "bytes %d-%d/%d" % (first, last, len(data)))] + headers)


def _path_matches(path, pattern):
    if pattern.endswith("/"):
        return path.startswith(pattern)
    return path == pattern


def _reset(conn):
    """Ends the connection with a reset, as a blocking firewall would."""
    try:
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        srv = self.server
        state = srv.qv_state
        conn = self.request
        conn.settimeout(SOCKET_TIMEOUT)
        try:
            if srv.qv_tls:
                conn.do_handshake()
            got = _read_request(conn)
        except (OSError, ssl.SSLError):
            return
        if got is None:
            return
        head, body = got
        first = head.split(b"\r\n", 1)[0].decode("latin-1")
        target = first.split(" ")[1] if first.count(" ") >= 1 else ""
        if target.startswith(CONTROL_PREFIX):
            self._control(state, target, body)
            return
        client = "%s:%d" % self.client_address[:2]
        req = state.record(srv.qv_listener, srv.qv_tls, client, head, body)
        fault = state.take_fault(req, srv.server_address[1])
        if fault.get("require_proxy") and not req.via_proxy:
            _reset(conn)
            return
        if fault.get("stall"):
            state.stopping.wait(float(fault["stall"]))
            return
        if fault.get("raw") is not None:
            raw = fault["raw"]
            try:
                conn.sendall(raw.encode("latin-1") if isinstance(raw, str) else raw)
            except (OSError, ssl.SSLError):
                pass
            return
        status, ctype, payload, headers = self._answer(state, req)
        if fault.get("status") is not None:
            status = int(fault["status"])
        if fault.get("body") is not None:
            payload = fault["body"]
            if isinstance(payload, str):
                payload = payload.encode("latin-1")
        self._send(status, ctype, payload, fault, headers, req)
        replacement = fault.get("replace_with")
        if replacement is not None:
            if isinstance(replacement, str):
                with open(replacement, "rb") as f:
                    replacement = f.read()
            with state.lock:
                state.replace_package(replacement)

    @staticmethod
    def _answer(state, req):
        if req.path == "/as/wapi/get_client":
            return _package_reply(state, req)
        return _Handler._answer_text(state, req) + ([],)

    @staticmethod
    def _answer_text(state, req):
        text = "text/html"
        if req.path == "/as/wapi/get_client_size":
            size = len(state.package) if state.package is not None else 0
            if req.params.get("xml_format") == "Y":
                return 200, text, b"<__ClientSize__>%d</__ClientSize__>" % size
            return 200, text, b"%d" % size
        if req.path == "/as/wapi/ssi":
            if state.user_input is not None:
                return 200, text, ("<__UserInput__>%s</__UserInput__>" % state.user_input).encode("utf-8")
            return 200, text, b"OK"
        if req.path == ERROR_SERVER_PATH and req.method == "POST":
            form = urllib.parse.parse_qs(req.body.decode("latin-1"), keep_blank_values=True,
                                         encoding="latin-1")
            if "error" in form:
                with state.lock:
                    state.error_reports.append(form["error"][0])
            return 200, text, b"OK"
        if req.path.endswith(".pac"):
            return 200, "application/x-ns-proxy-autoconfig", state.pac.encode("utf-8")
        return 404, text, b"not found"

    def _send(self, status, ctype, payload, fault, headers=(), req=None):
        conn = self.request
        try:
            reason = http.HTTPStatus(status).phrase
        except ValueError:
            reason = "Status"
        head = "HTTP/1.1 %d %s\r\nContent-Type: %s\r\n" % (status, reason, ctype)
        if not fault.get("omit_length"):
            length = fault.get("content_length")
            head += "Content-Length: %d\r\n" % (len(payload) if length is None else int(length))
        for name, value in headers:
            head += "%s: %s\r\n" % (name, value)
        head += "Connection: close\r\n\r\n"
        head = head.encode("latin-1")
        if fault.get("drop_after") is not None:
            payload = payload[:int(fault["drop_after"])]
        rate = fault.get("rate")
        step = max(1, int(rate) // 10) if rate else max(1, len(payload))
        try:
            conn.sendall(head)
            if req is not None:
                req.reply_head = head
            for i in range(0, len(payload), step):
                if rate and self.server.qv_state.stopping.is_set():
                    return
                conn.sendall(payload[i:i + step])
                if req is not None:
                    req.body_sent += len(payload[i:i + step])
                if rate:
                    time.sleep(step / float(rate))
        except (OSError, ssl.SSLError):
            pass

    def _control(self, state, target, body):
        path = target[len(CONTROL_PREFIX):]
        reply = {"ok": True}
        text = body.decode("utf-8")
        if path == "fault":
            args = json.loads(text)
            state_fault(state, **args)
        elif path == "clear":
            with state.lock:
                state.faults.clear()
                state.requests.clear()
                state.error_reports.clear()
        elif path == "package":
            with open(text, "rb") as f:
                data = f.read()
            with state.lock:
                state.replace_package(data)
        elif path == "serving":
            state_serving(state, **json.loads(text))
        elif path == "pac":
            state.pac = text
        elif path == "userinput":
            state.user_input = text
        elif path == "requests":
            with state.lock:
                reply = [r.to_json() for r in state.requests]
        elif path == "errors":
            with state.lock:
                reply = list(state.error_reports)
        else:
            reply = {"ok": False}
        data = json.dumps(reply).encode("utf-8")
        self._send(200, "application/json", data, {})


def state_fault(state, **kwargs):
    unknown = set(kwargs) - set(FAULT_KEYS)
    if unknown:
        raise ValueError("unknown fault switch: %s" % ", ".join(sorted(unknown)))
    with state.lock:
        state.faults.append(dict(kwargs))


def state_serving(state, **kwargs):
    unknown = set(kwargs) - set(SERVING_KEYS)
    if unknown:
        raise ValueError("unknown serving switch: %s" % ", ".join(sorted(unknown)))
    with state.lock:
        state.serving.update({key: bool(value) for key, value in kwargs.items()})


class _TCPServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


class _TLSServer(_TCPServer):
    def get_request(self):
        # The handshake runs on the request's own thread, so a silent client
        # cannot hold up the accept loop.
        sock, addr = super().get_request()
        return self.qv_context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), addr


def make_certificate(folder, common_name="127.0.0.2"):
    """Makes a self-signed certificate with openssl; returns (cert, key)."""
    cert = os.path.join(folder, "server.crt")
    key = os.path.join(folder, "server.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "3", "-subj", "/CN=" + common_name],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class AccountServer:
    """The server in the caller's process; listeners run on daemon threads."""

    def __init__(self, listen=(("127.0.0.2", 8889),), package=None, pac=DEFAULT_PAC,
                 user_input=None, record_file=None):
        if isinstance(package, str):
            with open(package, "rb") as f:
                package = f.read()
        self.state = _State(package, pac, user_input, record_file)
        self._listen = [tuple(l) + ((False,) if len(l) == 2 else ()) for l in listen]
        self._servers = []
        self._threads = []
        self._tmp = None

    # -- life ------------------------------------------------------------
    def start(self):
        context = None
        try:
            for addr, port, tls in self._listen:
                if tls:
                    if context is None:
                        self._tmp = tempfile.mkdtemp(prefix="qv-accountserver-")
                        cert, key = make_certificate(self._tmp, addr)
                        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                        context.load_cert_chain(cert, key)
                    srv = _TLSServer((addr, port), _Handler)
                    srv.qv_context = context
                else:
                    srv = _TCPServer((addr, port), _Handler)
                srv.qv_state = self.state
                srv.qv_tls = tls
                srv.qv_listener = "%s:%d" % srv.server_address[:2]
                self._servers.append(srv)
        except Exception:
            self.stop()
            raise
        for srv in self._servers:
            t = threading.Thread(target=srv.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
            t.start()
            self._threads.append(t)
        return self

    def stop(self):
        self.state.stopping.set()
        for srv in self._servers:
            srv.shutdown()
            srv.server_close()
        for t in self._threads:
            t.join(10)
        self._servers, self._threads = [], []
        if self._tmp:
            shutil.rmtree(self._tmp, ignore_errors=True)
            self._tmp = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def listeners(self):
        return [(s.server_address[0], s.server_address[1], s.qv_tls) for s in self._servers]

    def port(self, index=0):
        return self._servers[index].server_address[1]

    # -- control ---------------------------------------------------------
    def set_fault(self, **kwargs):
        state_fault(self.state, **kwargs)

    def clear(self):
        with self.state.lock:
            self.state.faults.clear()
            self.state.requests.clear()
            self.state.error_reports.clear()

    def set_package(self, data):
        if isinstance(data, str):
            with open(data, "rb") as f:
                data = f.read()
        with self.state.lock:
            self.state.replace_package(data)

    def set_serving(self, ranges=None, etag=None, last_modified=None):
        """Range support and which validators the package replies carry
        (all on at the start); an argument left None is not changed."""
        state_serving(self.state, **{k: v for k, v in (("ranges", ranges), ("etag", etag),
                                                       ("last_modified", last_modified)) if v is not None})

    @property
    def package_etag(self):
        with self.state.lock:
            return self.state.etag

    @property
    def package_last_modified(self):
        with self.state.lock:
            return email.utils.formatdate(self.state.modified, usegmt=True)

    def set_pac(self, text):
        self.state.pac = text

    def set_user_input(self, text):
        self.state.user_input = text

    @property
    def requests(self):
        with self.state.lock:
            return list(self.state.requests)

    @property
    def error_reports(self):
        with self.state.lock:
            return list(self.state.error_reports)

    def requests_for(self, path):
        return [r for r in self.requests if r.path == path]

    def wait_for_requests(self, count, timeout=60.0, path=None):
        """Waits until at least count requests (for path) arrived; returns them."""
        end = time.monotonic() + timeout
        with self.state.cond:
            while True:
                got = [r for r in self.state.requests if path is None or r.path == path]
                left = end - time.monotonic()
                if len(got) >= count or left <= 0:
                    return got
                self.state.cond.wait(min(left, 0.5))


class AccountServerProcess:
    """Starts this file as a program and controls it over its control requests."""

    def __init__(self, listen, package=None, pac_file=None, user_input=None, record_file=None,
                 log_file=None):
        args = [sys.executable, os.path.abspath(__file__)]
        for addr, port, *rest in listen:
            args += ["--listen", "%s:%d%s" % (addr, port, ":tls" if rest and rest[0] else "")]
        if package:
            args += ["--package", package]
        if pac_file:
            args += ["--pac-file", pac_file]
        if user_input is not None:
            args += ["--user-input", user_input]
        if record_file:
            args += ["--record", record_file]
        self._log = open(log_file, "ab") if log_file else subprocess.DEVNULL
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self._log,
                                     stdin=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode("utf-8")
        if not line.startswith("READY "):
            self.stop()
            raise RuntimeError("account server did not start: %r" % line)
        self.listeners = json.loads(line[6:])
        plain = [l for l in self.listeners if not l[2]]
        self._control = "http://%s:%d%s" % (plain[0][0], plain[0][1], CONTROL_PREFIX) if plain else None

    def _call(self, name, data=None):
        body = None if data is None else (data if isinstance(data, bytes) else data.encode("utf-8"))
        with urllib.request.urlopen(
                urllib.request.Request(self._control + name, data=body,
                                       method="POST" if body is not None else "GET"),
                timeout=30) as f:
            return json.loads(f.read().decode("utf-8"))

    def set_fault(self, **kwargs):
        self._call("fault", json.dumps(kwargs))

    def clear(self):
        self._call("clear", b"")

    def set_package(self, path):
        self._call("package", path)

    def set_serving(self, **kwargs):
        self._call("serving", json.dumps(kwargs))

    def set_pac(self, text):
        self._call("pac", text)

    def set_user_input(self, text):
        self._call("userinput", text)

    @property
    def requests(self):
        return [_Record(d) for d in self._call("requests")]

    @property
    def error_reports(self):
        return self._call("errors")

    def requests_for(self, path):
        return [r for r in self.requests if r.path == path]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self._log is not subprocess.DEVNULL:
            self._log.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def _parse_listen(text):
    parts = text.split(":")
    if len(parts) not in (2, 3) or (len(parts) == 3 and parts[2] != "tls"):
        raise argparse.ArgumentTypeError("expected ADDR:PORT or ADDR:PORT:tls")
    return parts[0], int(parts[1]), len(parts) == 3


def main(argv=None):
    ap = argparse.ArgumentParser(description="Local account server for tests and the demo")
    ap.add_argument("--listen", type=_parse_listen, action="append",
                    help="ADDR:PORT or ADDR:PORT:tls (repeatable; default 127.0.0.2:8889)")
    ap.add_argument("--package", help="file served as the client package")
    ap.add_argument("--pac-file", help="file served as the proxy auto-config script")
    ap.add_argument("--user-input", help="value of <__UserInput__> in the ssi reply")
    ap.add_argument("--record", help="append each request as a JSON line to this file")
    args = ap.parse_args(argv)
    pac = DEFAULT_PAC
    if args.pac_file:
        with open(args.pac_file, encoding="utf-8") as f:
            pac = f.read()
    srv = AccountServer(args.listen or [("127.0.0.2", 8889, False)], package=args.package,
                        pac=pac, user_input=args.user_input, record_file=args.record)
    srv.start()
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: done.set())
    signal.signal(signal.SIGINT, lambda *a: done.set())
    sys.stdout.write("READY %s\n" % json.dumps(srv.listeners()))
    sys.stdout.flush()
    while not done.wait(0.5):
        pass
    srv.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
