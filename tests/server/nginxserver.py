"""nginx as the package host for tests: the configuration of deploy/nginx,
filled in and run as a process of the test's own, and a relay that breaks a
transfer where a test wants it.

NginxServer(folder, root, address, port=8889, http_port=80, https_port=443)
  Fills deploy/nginx/nginx.conf.in and quorumvessel.conf.in into
  <folder>/conf, makes a self-signed certificate for the address, and starts
  "nginx -p <folder>/ -c <folder>/conf/nginx.conf" (daemon off; pid, logs and
  temporary files under the folder). It is ready when every port accepts
  connections; it is stopped by its process id (the master ends its
  workers). root is the folder qvpack publish wrote. requests() reads the
  access log: one NginxRequest per request, in the order nginx finished them
  (start=N skips the first N, for a server that several tests share).

CuttingRelay(address, port, target, path, cut_after, times=1, on_cut=None)
  Listens on address:port and passes every connection on to target
  (address, port) of a plain HTTP server. The first `times` replies to a
  request for `path` are cut after `cut_after` body bytes: on_cut() runs,
  then both connections are closed, so the client sees a body that ends
  early. Connections may carry several requests one after another. cuts
  lists what each cut connection sent and received.
"""

import json
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import threading
import time
from pathlib import Path

from accountserver import make_certificate

SOURCE_DIR = Path(os.environ.get("QV_SOURCE_DIR", Path(__file__).resolve().parents[2]))
TEMPLATES = SOURCE_DIR / "deploy" / "nginx"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
START_TIMEOUT = 30
STOP_TIMEOUT = 15
RELAY_CHUNK = 65536


def nginx_available():
    return os.path.exists(NGINX)


def fill(template, values):
    """The template's text with each @NAME@ replaced; every one must be given."""
    text = Path(template).read_text()
    for name, value in values.items():
        text = text.replace("@%s@" % name, str(value))
    left = re.findall(r"@[A-Z_]+@", text)
    if left:
        raise ValueError("unfilled in %s: %s" % (template, sorted(set(left))))
    return text


class NginxRequest:
    """One access log line."""

    def __init__(self, entry):
        self.entry = entry
        self.request = entry["request"]
        self.method, _, rest = self.request.partition(" ")
        self.target = rest.rpartition(" ")[0]
        self.path = self.target.partition("?")[0]
        self.status = int(entry["status"])
        self.body_bytes_sent = int(entry["body_bytes_sent"])
        self.completed = entry["completion"] == "OK"
        self.server = entry["server"]
        self.port = int(self.server.rpartition(":")[2])
        self.scheme = entry["scheme"]
        self.range = entry["range"]
        self.if_range = entry["if_range"]
        self.content_range = entry["content_range"]
        self.etag = entry["etag"]

    def __repr__(self):
        return "<%s %d %s range=%r if_range=%r>" % (self.request, self.status, self.body_bytes_sent, self.range,
                                                    self.if_range)


def _children(pid):
    found = []
    for task in Path("/proc/%d/task" % pid).glob("*"):
        try:
            found += [int(p) for p in (task / "children").read_text().split()]
        except OSError:
            pass
    return found


class NginxServer:
    def __init__(self, folder, root, address, port=8889, http_port=80, https_port=443):
        self.folder = Path(folder)
        self.root = Path(root)
        self.address = address
        self.ports = {"port": port, "http": http_port, "https": https_port}
        for sub in ("conf", "logs", "temp"):
            (self.folder / sub).mkdir(parents=True, exist_ok=True)
        self.access_log = self.folder / "logs" / "access.log"
        self.cert, self.key = make_certificate(str(self.folder / "conf"), address)
        (self.folder / "conf" / "nginx.conf").write_text(fill(TEMPLATES / "nginx.conf.in", {
            "USER": pwd.getpwuid(os.geteuid()).pw_name}))
        (self.folder / "conf" / "quorumvessel.conf").write_text(fill(TEMPLATES / "quorumvessel.conf.in", {
            "ADDRESS": address, "PORT": port, "HTTP_PORT": http_port, "HTTPS_PORT": https_port,
            "CERT": self.cert, "KEY": self.key, "ROOT": self.root.resolve(), "ACCESS_LOG": self.access_log}))
        self.proc = None

    def start(self):
        if not nginx_available():
            raise RuntimeError("nginx is missing: scripts/bootstrap installs nginx-light")
        out = open(self.folder / "logs" / "nginx.out", "wb")
        try:
            self.proc = subprocess.Popen([NGINX, "-p", str(self.folder) + "/", "-c",
                                          str(self.folder / "conf" / "nginx.conf")],
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        finally:
            out.close()
        end = time.monotonic() + START_TIMEOUT
        waiting = set(self.ports.values())
        while waiting and time.monotonic() < end and self.proc.poll() is None:
            for port in list(waiting):
                try:
                    socket.create_connection((self.address, port), timeout=1).close()
                    waiting.discard(port)
                except OSError:
                    pass
            if waiting:
                time.sleep(0.05)
        if waiting:
            self.stop()
            raise RuntimeError("nginx did not start:\n%s\n%s" % (self._read("logs/nginx.out"),
                                                                   self._read("logs/error.log")))
        return self

    def _read(self, name):
        try:
            return (self.folder / name).read_text(errors="replace")
        except OSError:
            return ""

    def stop(self):
        if self.proc is None or self.proc.poll() is not None:
            return
        workers = _children(self.proc.pid)
        self.proc.terminate()  # a fast shutdown: the master ends its workers
        try:
            self.proc.wait(STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        for pid in workers:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def url(self, path, which="port"):
        return "%s://%s:%d%s" % ("https" if which == "https" else "http", self.address, self.ports[which], path)

    def requests(self, path=None, start=0):
        """The logged requests (for path), from the start-th line of the log on."""
        if not self.access_log.exists():
            return []
        lines = self.access_log.read_text().splitlines()[start:]
        found = [NginxRequest(json.loads(line)) for line in lines if line]
        return [r for r in found if path is None or r.path == path]

    def wait_for_requests(self, count, path=None, timeout=30.0, start=0):
        end = time.monotonic() + timeout
        while True:
            found = self.requests(path, start)
            if len(found) >= count or time.monotonic() >= end:
                return found
            time.sleep(0.05)


class _Cut(Exception):
    pass


class CuttingRelay:
    def __init__(self, address, port, target, path, cut_after, times=1, on_cut=None):
        self.target = target
        self.path = path
        self.cut_after = cut_after
        self.times = times
        self.on_cut = on_cut
        self.cuts = []
        self._lock = threading.Lock()
        self._listener = socket.create_server((address, port))
        self._listener.settimeout(0.2)
        self._stopping = threading.Event()
        self._threads = []
        self._accept = threading.Thread(target=self._serve, daemon=True)

    @property
    def port(self):
        return self._listener.getsockname()[1]

    def start(self):
        self._accept.start()
        return self

    def stop(self):
        self._stopping.set()
        self._accept.join(10)
        self._listener.close()
        for t in list(self._threads):
            t.join(10)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _serve(self):
        while not self._stopping.is_set():
            try:
                client, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            t = threading.Thread(target=self._relay, args=(client,), daemon=True)
            t.start()
            self._threads.append(t)

    def _relay(self, client):
        try:
            upstream = socket.create_connection(self.target, timeout=30)
        except OSError:
            client.close()
            return
        asked = []  # request lines not answered yet, oldest first
        sent_up = threading.Thread(target=self._client_to_server, args=(client, upstream, asked), daemon=True)
        sent_up.start()
        try:
            self._server_to_client(upstream, client, asked)
        except (_Cut, OSError):
            pass
        for sock in (client, upstream):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        sent_up.join(10)
        client.close()
        upstream.close()

    @staticmethod
    def _client_to_server(client, upstream, asked):
        pending = b""
        try:
            while True:
                data = client.recv(RELAY_CHUNK)
                if not data:
                    break
                pending += data
                # Requests without a body (GET): each ends at the blank line.
                while b"\r\n\r\n" in pending:
                    head, _, pending = pending.partition(b"\r\n\r\n")
                    asked.append(head.split(b"\r\n", 1)[0].decode("latin-1"))
                upstream.sendall(data)
        except OSError:
            pass
        try:
            upstream.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def _take_cut(self, request_line):
        target = request_line.split(" ")[1] if request_line.count(" ") >= 2 else ""
        with self._lock:
            if self.times > 0 and target.partition("?")[0] == self.path:
                self.times -= 1
                return True
        return False

    def _server_to_client(self, upstream, client, asked):
        buffer = b""
        while True:
            # A reply head.
            while b"\r\n\r\n" not in buffer:
                data = upstream.recv(RELAY_CHUNK)
                if not data:
                    if buffer:
                        client.sendall(buffer)
                    return
                buffer += data
            head, _, buffer = buffer.partition(b"\r\n\r\n")
            head += b"\r\n\r\n"
            length = None
            for line in head.decode("latin-1").split("\r\n")[1:]:
                name, _, value = line.partition(":")
                if name.strip().lower() == "content-length":
                    length = int(value.strip())
            request_line = asked.pop(0) if asked else ""
            cut = self._take_cut(request_line)
            client.sendall(head)
            left = length
            passed = 0
            while left is None or left > 0:
                if not buffer:
                    buffer = upstream.recv(RELAY_CHUNK)
                    if not buffer:
                        return
                piece = buffer if left is None else buffer[:left]
                if cut and passed + len(piece) >= self.cut_after:
                    piece = piece[:self.cut_after - passed]
                    client.sendall(piece)
                    passed += len(piece)
                    with self._lock:
                        self.cuts.append({"request": request_line, "head": head, "body_passed": passed})
                    if self.on_cut:
                        self.on_cut()
                    raise _Cut()
                client.sendall(piece)
                passed += len(piece)
                buffer = buffer[len(piece):]
                if left is not None:
                    left -= len(piece)
