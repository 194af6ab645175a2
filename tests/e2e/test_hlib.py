"""The HTTP client under Wine against the local account server and tinyproxy:
the socket download's exact request, the order of the page request's layers,
chunked reading, learned server access settings, the proxy script engine and
the configuration cache file."""

import os
import re
import time

import pytest

import harness
import hlibclient as hc
from hlibclient import AccountServer

# Each test has loopback addresses of its own (see the design notes: 127.0.0.1
# is skipped by one layer on purpose).
ADDR_DOWNLOAD = "127.51.0.1"
ADDR_LAYERS = "127.51.0.2"
ADDR_CHUNKS = "127.51.0.3"
ADDR_PROXY = "127.51.0.4"
ADDR_PROXY_SERVER = "127.51.0.5"
ADDR_SCRIPT = "127.51.0.6"
ADDR_SCRIPT_PROXY = "127.51.0.7"
ADDR_TLS = "127.51.0.8"
TIMEOUT_MS = "4000"

ACCEPT = ("Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
          "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, */*\r\n")
AGENT = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; .NET CLR 1.0.3705; .NET CLR 1.1.4322)\r\n"


def socket_request(target, host_line):
    return ("GET %s HTTP/1.0\r\n%sAccept-Language: en-us\r\nPragma: no-cache\r\n%sHost: %s\r\n"
            "Connection: Keep-Alive\r\n\r\n" % (target, ACCEPT, AGENT, host_line)).encode()


def getpage(host, port, url, maxlen=2048, key="", expected=0, chunked=False):
    return ["getpage", host, str(port), url, str(maxlen), key, str(expected), "1" if chunked else "0"]


def getpage_with_cache(prefix, cache, host, url):
    """One page request of the driver, with its time-out and the given cache file."""
    return hc.run_driver(prefix, [["timeout", TIMEOUT_MS], ["cache", prefix.to_windows(cache)],
                                  getpage(host, 8889, url)])


def one(requests, text):
    found = [r for r in requests if text in r.target]
    assert len(found) == 1, (text, [r.request_line for r in requests])
    return found[0]


# ---------------------------------------------------------------------------
# The socket download

def test_socket_download_request_and_replies(wine_prefix):
    A = ADDR_DOWNLOAD
    with AccountServer([(A, 8889), (A, 80)], package=b"0123456789") as srv:
        srv.set_fault(path="/r/five", raw="HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello")
        srv.set_fault(path="/r/more", raw="HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef")
        srv.set_fault(path="/r/zero", raw="HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")
        srv.set_fault(path="/r/nolength", omit_length=True, body="no length here")
        srv.set_fault(path="/r/nohead", raw="HTTP/1.0 200 OK\r\nX-Head: unfinished\r\n")
        srv.set_fault(path="/r/short", content_length=10, body="abc")
        srv.set_fault(path="/r/stall", stall=60)
        cases = [
            # URL, expected size, small reads
            ("http://%s:8889/as/wapi/ssi?sid=S1&x=y" % A, 0, 0),
            ("https://%s/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc" % A, 0, 0),
            ("%s:8889" % A, 0, 0),
            ("http://%s/r/five" % A, 0, 0),
            ("http://%s/r/five" % A, 4, 1),
            ("http://%s/r/more" % A, 0, 0),
            ("http://%s/r/zero" % A, 0, 0),
            ("http://%s/r/nolength" % A, 0, 0),
            ("http://%s/r/nohead" % A, 0, 0),
            ("http://%s/r/short" % A, 0, 0),
            ("http://%s/r/stall" % A, 0, 0),
            ("http://%s:1/refused" % A, 0, 0),
        ]
        cmds = [["timeout", TIMEOUT_MS]]
        cmds += [["download", url, str(size), str(small)] for url, size, small in cases]
        cmds += [["resolve", h] for h in ("127.x.y.z", "127.0.0", "localhost")]
        run = hc.run_driver(wine_prefix, cmds)
        reqs = srv.requests

    res = {url + "#%d" % size: r for (url, size, _), r in zip(cases, run.results)}

    # Exact request bytes: with port and query, https to port 80, bare host:port.
    assert one(reqs, "sid=S1").raw == socket_request("/as/wapi/ssi?sid=S1&x=y", "%s:8889" % A)
    size_req = one(reqs, "get_client_size")
    assert size_req.listener == "%s:80" % A
    assert size_req.raw == socket_request("/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc", "%s:80" % A)
    root = [r for r in reqs if r.target == "/"]
    assert len(root) == 1 and root[0].raw == socket_request("/", "%s:8889" % A)

    r = res["http://%s:8889/as/wapi/ssi?sid=S1&x=y#0" % A]
    assert (r.ok, r.size, r.data, r.received) == (True, 2, b"OK", 2)
    r = res["https://%s/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc#0" % A]
    assert r.ok and r.data == b"<__ClientSize__>10</__ClientSize__>"
    r = res["%s:8889#0" % A]
    assert r.ok and r.data == b"not found"  # the 404 body: the socket download does not judge status
    r = res["http://%s/r/five#0" % A]
    assert (r.ok, r.size, r.data) == (True, 5, b"hello")
    r = res["http://%s/r/five#4" % A]
    assert (r.ok, r.size, r.data) == (True, 4, b"hell")
    r = res["http://%s/r/more#0" % A]
    assert (r.ok, r.size, r.data) == (True, 3, b"abc")
    r = res["http://%s/r/zero#0" % A]
    assert (r.ok, r.size, r.has_data) == (True, 0, False)
    r = res["http://%s/r/nolength#0" % A]
    assert (r.ok, r.data) == (True, b"no length here")
    r = res["http://%s/r/nohead#0" % A]
    assert (r.ok, r.data) == (True, b"HTTP/1.0 200 OK\r\nX-Head: unfinished\r\n")
    r = res["http://%s/r/short#0" % A]
    assert (r.ok, r.has_data, r.size) == (False, False, 0)
    r = res["http://%s/r/stall#0" % A]
    assert (r.ok, r.has_data) == (False, False)
    r = res["http://%s:1/refused#0" % A]
    assert not r.ok

    msgs = run.messages
    assert run.has("no new download", "Utility::URLDownload")
    assert msgs.count("missing Content-Length") == 2
    assert run.has("connection closed after 3 of 10 body bytes", "Utility::URLDownload", 3)
    timeouts = run.starting("recv() iReturn == -1, error code: 10060, error: ")
    assert len(timeouts) == 1
    assert run.starting("connect() failed, host: %s, error code: 10061, error: " % A)
    assert all(l.source == "code/utility/utility" for l in run.logs)

    # Four dot-separated parts are taken as an address without a lookup;
    # three parts go to the resolver.
    resolved = run.results[len(cases):]
    assert resolved == [["resolve", "1", "127.x.y.z"], ["resolve", "1", "127.0.0.0"],
                        ["resolve", "1", "127.0.0.1"]]


# ---------------------------------------------------------------------------
# The page request's layers

RANDOM = r"myrand11262017=[A-Za-z0-9]+"


def test_page_request_layers(wine_prefix):
    A = ADDR_LAYERS
    local = hc.free_port("127.0.0.1")
    size_url = "/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc"
    with AccountServer([(A, 8889), (A, 80), ("127.0.0.1", local)], package=b"x" * 1234) as srv, \
            AccountServer([(ADDR_TLS, 443, True)], package=b"s" * 99) as tls:
        # The WinInet layers (HTTP/1.1) get an error page without the keyword;
        # the socket download (HTTP/1.0) gets the real answer.
        srv.set_fault(path="/as/wapi/get_client_size", match="HTTP/1.1", status=500, body="nope")
        srv.set_fault(path="/as/wapi/ssi", status=404, body="<__UserInput__>k</__UserInput__>")
        cmds = [["timeout", TIMEOUT_MS],
                getpage("127.0.0.1", local, "/as/wapi/get_client?case=local"),
                getpage(A, 8889, "/as/wapi/get_client?case=direct&client=pc"),
                getpage(A, 8889, "/as/wapi/get_client"),
                getpage(A, 443, "/as/wapi/get_client?case=secure"),
                getpage(ADDR_TLS, 443, "/as/wapi/get_client?case=https"),
                getpage(A, 8889, size_url + "&case=keyword", key="<__ClientSize__>"),
                getpage(A, 8889, "/as/wapi/ssi?case=404", key="UserInput"),
                getpage("", 8889, "/as/x?case=empty")]
        run = hc.run_driver(wine_prefix, cmds)
        reqs = srv.requests
        tls_reqs = tls.requests
    local_r, direct, noquery, secure, https, keyword, notfound, empty = run.results

    # 127.0.0.1: the first layer is skipped, the plain second layer answers.
    assert run.has("Skip 127.0.0.1", "HR::DoRequest")
    assert local_r.ok and local_r.port == local and local_r.text == b"x" * 1234
    lr = one(reqs, "case=local")
    assert lr.header("User-Agent") == "Internet Explorer"
    assert lr.header("Content-Type") == "application/x-www-form-urlencoded"
    assert re.fullmatch(r"/as/wapi/get_client\?case=local&" + RANDOM, lr.target)

    # Another loopback address: the first layer, with both request parameters.
    assert direct.ok and direct.port == 8889 and direct.text == b"x" * 1234
    assert re.fullmatch(r"/as/wapi/get_client\?case=direct&client=pc&" + RANDOM, direct.url)
    dr = one(reqs, "case=direct")
    assert dr.header("User-Agent") == "Microsoft Internet Explorer"
    assert re.fullmatch(re.escape(direct.url) + r"&rdm=\d+", dr.target)
    assert abs(int(dr.params["rdm"]) - int(time.time())) < 600
    # A path without a query gets "?" for the first parameter, "&" for the next.
    assert re.fullmatch(r"/as/wapi/get_client\?" + RANDOM, noquery.url)
    nr = [r for r in reqs if r.target.startswith(noquery.url)]
    assert len(nr) == 1 and re.fullmatch(re.escape(noquery.url) + r"&rdm=\d+", nr[0].target)
    assert direct.url.split("myrand11262017=")[1] != noquery.url.split("myrand11262017=")[1]
    assert run.has("sIP = %s, iPort = 8889, URL = /as/wapi/get_client, m_iExpectedReceiveSize = 0" % A)

    # 443 with nothing listening there: both WinInet layers fail, the socket
    # download asks port 80 and the caller learns that port.
    assert secure.ok and secure.port == 80 and secure.text == b"x" * 1234
    sr = one(reqs, "case=secure")
    assert sr.listener == "%s:80" % A
    assert sr.raw == socket_request(secure.url, "%s:80" % A)
    assert run.has("HTTP fialed. Now try TCP for URL = /as/wapi/get_client")

    # 443 with a server there: HTTPS in the first layer (self-signed certificate).
    assert https.ok and https.port == 443 and https.text == b"s" * 99
    assert [(r.tls, r.header("User-Agent")) for r in tls_reqs] == [(True, "Microsoft Internet Explorer")]

    # 8889 whose WinInet replies lack the keyword: retried by socket on 8889.
    assert keyword.ok and keyword.port == 8889
    assert keyword.text == b"<__ClientSize__>1234</__ClientSize__>"
    kr = [r for r in reqs if "case=keyword" in r.target]
    assert [r.request_line.split()[-1] for r in kr][-1] == "HTTP/1.0"
    assert kr[-1].listener == "%s:8889" % A and kr[-1].raw == socket_request(keyword.url, "%s:8889" % A)
    assert run.has("Invalid page returned: nope", "HR::DoRequest", 3)
    assert run.starting("No keyword, error code: ")

    # A 404 whose body holds the keyword is an answer: one request only.
    assert notfound.ok and notfound.text == b"<__UserInput__>k</__UserInput__>"
    assert len([r for r in reqs if "case=404" in r.target]) == 1

    # An empty host: false at once, the buffer untouched, the port reported.
    assert not empty.ok and empty.port == 8889
    assert empty.buffer == b"\x5a" * 2048 and empty.url == "/as/x?case=empty"
    assert run.has("Empty IP, iPort = 8889, URL = /as/x?case=empty, m_iExpectedReceiveSize = 0", "HLib::GetPage")
    assert not [r for r in reqs if "case=empty" in r.target]
    assert all(r.guard_ok for r in run.results)


# ---------------------------------------------------------------------------
# Chunked reading

def test_chunked_reading_fills_the_buffer_with_growing_count(wine_prefix):
    A = ADDR_CHUNKS
    package = os.urandom(700 * 1024)
    n = len(package)
    with AccountServer([(A, 8889)], package=package) as srv:
        # Slow enough that the watcher sees the count grow.
        srv.set_fault(path="/as/wapi/get_client", match="case=wininet", rate=700 * 1024)
        srv.set_fault(path="/as/wapi/get_client", match="HTTP/1.1", require_proxy=True)
        srv.set_fault(path="/as/wapi/get_client", match="case=socket", rate=700 * 1024)
        srv.set_fault(path="/as/wapi/get_size", content_length=n + 5, body=package)
        cmds = [["timeout", TIMEOUT_MS],
                getpage(A, 8889, "/as/wapi/get_client?case=wininet", maxlen=n, expected=n, chunked=True),
                getpage(A, 8889, "/as/wapi/get_client?case=socket", maxlen=n, expected=n, chunked=True),
                getpage(A, 8889, "/as/wapi/get_client?case=whole", maxlen=n, expected=n) + ["digest"],
                getpage(A, 8889, "/as/wapi/get_size?case=short", maxlen=n + 5, expected=n + 5, chunked=True),
                getpage(A, 8889, "/as/wapi/get_client?case=toolarge", maxlen=n - 1, expected=n, chunked=True)]
        run = hc.run_driver(wine_prefix, cmds)
        reqs = srv.requests
    wininet, socket_r, whole, short, toolarge = run.results
    assert all(r.guard_ok for r in run.results)
    for r in (wininet, socket_r):
        assert r.ok and r.buffer == package and r.received == n
        seen = [v for v in r.samples if v > 0]
        assert seen == sorted(seen) and len(set(seen)) >= 4 and seen[-1] <= n, r.samples
    assert socket_r.port == 8889
    # A known size read without chunks fills the whole buffer too (no terminator taken from it).
    assert whole.ok and whole.digest == hc.fnv1a(package)
    # A body that ends before its announced length fails in every layer.
    assert not short.ok
    assert run.starting("IRE() error code: ")
    assert run.has("connection closed after %d of %d body bytes" % (n, n + 5))
    # A size larger than the buffer is refused before any request.
    assert not toolarge.ok
    assert run.has("m_iExpectedReceiveSize = %d does not fit the buffer of %d bytes" % (n, n - 1), "HLib::GetPage", 3)
    assert not [r for r in reqs if "case=toolarge" in r.target]


# ---------------------------------------------------------------------------
# Server access settings through a real proxy

def test_system_proxy_is_learned_reused_and_dropped(make_prefix):
    A = ADDR_PROXY
    prefix = make_prefix()
    cache = prefix.root / "QVStarterCache.txt"
    url = "/as/wapi/ssi?sid=S9"
    with AccountServer([(A, 8889)]) as srv:
        srv.set_fault(path="/as/", require_proxy=True)
        proxy = hc.TinyProxy(prefix.root / "proxy", ADDR_PROXY_SERVER)
        try:
            # A proxy in the system settings that is not switched on: the
            # system configuration goes direct and fails, the proxy works.
            hc.set_internet_settings(prefix, ProxyEnable=0, ProxyServer=proxy.address)
            first = getpage_with_cache(prefix, cache, A, url)
            line = "%s\t8889\tN\tP\t\t%s" % (A, proxy.address)
            assert first.results[-1].ok and first.results[-1].text == b"OK"
            assert [m for m in first.messages if m.startswith("Begin HR::DoRequest()")] == [
                "Begin HR::DoRequest(), sIP = %s, iPort = 8889, cPType=%s, sByPass=, sPAddress=%s, "
                "URL=/as/wapi/ssi" % (A, t, a) for t, a in (("D", ""), ("L", ""), ("P", proxy.address))]
            assert hc.store_value(cache) == line
            assert cache.read_bytes() == ("<__CACHE__>\r\n<__SERVER_ACCESS_SETTING1__>%s"
                                          "</__SERVER_ACCESS_SETTING1__>\r\n</__CACHE__>" % line).encode()
            assert first.has("HR::SendRequest succeeded! m_sServerAccessSetting = " + line)
            assert [r.via_proxy for r in srv.requests] == [False, False, True]

            # The next run tries the stored line first, and only that.
            srv.clear()
            srv.set_fault(path="/as/", require_proxy=True)
            second = getpage_with_cache(prefix, cache, A, url)
            assert second.results[-1].ok
            assert second.has("Using aServerAccessSetting[0] = " + line)
            assert second.has("OK with aServerAccessSetting[i] = %s, URL = /as/wapi/ssi" % line)
            assert [r.via_proxy for r in srv.requests] == [True]
            assert hc.store_value(cache) == line
        finally:
            proxy.stop()

        # Without the proxy the stored line fails and is removed from the file.
        srv.clear()
        srv.set_fault(path="/as/", require_proxy=True)
        third = getpage_with_cache(prefix, cache, A, url)
        assert not third.results[-1].ok
        assert third.has("Failed with aServerAccessSetting[i] = %s, URL = /as/wapi/ssi" % line)
        assert third.has("No valid/matched aServerAccessSetting")
        assert hc.store_value(cache) == ""


def test_enabled_system_proxy_is_used_through_the_system_configuration(wine_prefix):
    A = ADDR_PROXY
    cache = wine_prefix.root / "QVStarterCache.txt"
    with AccountServer([(A, 8889)]) as srv:
        srv.set_fault(path="/as/", require_proxy=True)
        proxy = hc.TinyProxy(wine_prefix.root / "proxy", ADDR_PROXY_SERVER)
        try:
            hc.set_internet_settings(wine_prefix, ProxyEnable=1, ProxyServer=proxy.address)
            run = getpage_with_cache(wine_prefix, cache, A, "/as/wapi/ssi?sid=1")
        finally:
            proxy.stop()
        assert run.results[-1].ok and run.results[-1].text == b"OK"
        assert hc.store_value(cache) == "%s\t8889\tN\tL\t\t" % A
        assert [r.via_proxy for r in srv.requests] == [False, True]


def test_proxy_script_is_evaluated_and_tried_in_order(wine_prefix):
    A = ADDR_SCRIPT
    cache = wine_prefix.root / "QVStarterCache.txt"
    dead = "%s:%d" % (ADDR_SCRIPT_PROXY, hc.free_port(ADDR_SCRIPT_PROXY))
    pac_url = "http://%s:8889/proxy.pac" % A
    with AccountServer([(A, 8889)]) as srv:
        srv.set_pac('function FindProxyForURL(url, host) {\n'
                    '  if (url.indexOf("%s:8889/as/") >= 0) return "PROXY %s; DIRECT";\n'
                    '  return "DIRECT";\n}\n' % (A, dead))
        run = hc.run_driver(wine_prefix, [
            ["timeout", TIMEOUT_MS], ["cache", wine_prefix.to_windows(cache)],
            ["detect", "/as/wapi/ssi?sid=1", A, "8889", pac_url],
            ["setoptiona", "/as/wapi/ssi?sid=1", A, "8889", "0", "PROXY %s; DIRECT" % dead],
        ])
    detect, tried = run.results[1:]
    assert detect == ["detect", "PROXY %s; DIRECT" % dead, pac_url]
    assert run.has("host=http://%s:8889; url=http://%s:8889/as/wapi/ssi?sid=1, WPADLocation = %s" % (A, A, pac_url))
    assert run.has("666 PROXY %s; DIRECT" % dead, "HR::Detect")
    assert [m for m in run.starting("The script: ")][0].startswith("The script: function FindProxyForURL")
    assert tried == ["setoptiona", "1"]
    begins = run.starting("Begin HR::DoRequest()")
    assert [re.search(r"cPType=(.)", b).group(1) for b in begins] == ["P", "D"]
    assert "sPAddress=%s," % dead in begins[0]
    assert hc.store_value(cache) == "%s\t8889\tN\tD\t\t" % A


def test_auto_config_location_of_the_system_settings(wine_prefix):
    """Wine keeps no auto-config location in the per-connection options, so
    the script step is not reached from the system settings; the request
    logs that and falls back to the other layers."""
    A = ADDR_SCRIPT
    with AccountServer([(A, 8889)]) as srv:
        hc.set_internet_settings(wine_prefix, AutoConfigURL="http://%s:8889/proxy.pac" % A)
        srv.set_fault(path="/as/", match="HTTP/1.1", require_proxy=True)
        run = hc.run_driver(wine_prefix, [["timeout", TIMEOUT_MS], getpage(A, 8889, "/as/wapi/ssi?sid=1")])
    assert run.results[-1].ok and run.results[-1].port == 8889
    assert run.has("After SetOptionR() bConnectionSucceeded = N")
    auto = [m for m in run.messages if "after auto URL" in m or m.startswith("WPADLocation = ")]
    assert auto == ["WPADLocation = , bConnectionSucceeded = N"]


# ---------------------------------------------------------------------------
# The configuration cache file

def test_configuration_cache_file(wine_prefix):
    folder = wine_prefix.root / "cache"
    folder.mkdir()
    marked = folder / "marked.txt"
    marked.write_bytes(b"<__CACHE__>\r\n<__Other__>keep</__Other__>\r\n<__SERVER_ACCESS_SETTING1__>old"
                       b"</__SERVER_ACCESS_SETTING1__>\r\n</__CACHE__>left over\r\n</__CACHE__>more")
    missing = folder / "missing.txt"
    missing_bytes = b"<__CACHE__>\r\n<__Other__>1</__Other__>\r\n</__CACHE__>"
    missing.write_bytes(missing_bytes)
    fresh = folder / "new" / "sub" / "fresh.txt"
    S, E = hc.STORE_START, hc.STORE_END
    run = hc.run_driver(wine_prefix, [
        ["cache"],
        ["cache", wine_prefix.to_windows(marked)], ["cwrite", S, E, "h\t80\tN\tD\t\t"], ["cread", S, E],
        ["cache", wine_prefix.to_windows(missing)], ["cwrite", S, E, "v"], ["cread", S, E],
        ["cache", wine_prefix.to_windows(fresh)], ["cread", S, E],
    ])
    default, _, wrote, read, _, wrote_missing, read_missing, made, read_fresh = run.results
    # Start-up's file is per user and is made when missing.
    expected_default = wine_prefix.local_appdata_dir / "Quorumvessel" / "QVStarterCache.txt"
    assert default == ["cache", "1", wine_prefix.to_windows(expected_default)]
    assert expected_default.read_bytes() == (b"<__CACHE__>\r\n<__SERVER_ACCESS_SETTING1__>"
                                             b"</__SERVER_ACCESS_SETTING1__>\r\n</__CACHE__>")
    # Text after the end marker is dropped on write.
    assert wrote == ["cwrite", "1"] and read == ["cread", "1", "h\t80\tN\tD\t\t"]
    assert marked.read_bytes() == (b"<__CACHE__>\r\n<__Other__>keep</__Other__>\r\n<__SERVER_ACCESS_SETTING1__>"
                                   b"h\t80\tN\tD\t\t</__SERVER_ACCESS_SETTING1__>\r\n</__CACHE__>")
    # A missing element is not added and the file stays as it was.
    assert wrote_missing == ["cwrite", "0"] and read_missing == ["cread", "0", ""]
    assert missing.read_bytes() == missing_bytes
    assert made[:2] == ["cache", "1"] and read_fresh == ["cread", "1", ""]
    assert fresh.exists()
    assert not list(folder.glob("**/*.tmp"))


def test_two_processes_writing_the_cache_at_once(wine_prefix):
    cache = wine_prefix.root / "shared.txt"
    cache.write_bytes(b"<__CACHE__>\r\n<__Other__>keep</__Other__>\r\n"
                      b"<__SERVER_ACCESS_SETTING1__></__SERVER_ACCESS_SETTING1__>\r\n</__CACHE__>")
    S, E = hc.STORE_START, hc.STORE_END
    procs = []
    for name in ("one", "two"):
        procs.append(hc.start_driver(wine_prefix, [["cache", wine_prefix.to_windows(cache)],
                                                   ["cwriteloop", "150", S, E, name + "-value-"]], name))
    try:
        for proc, _, _ in procs:
            proc.wait(timeout=240)
    finally:
        for proc, _, log in procs:
            if proc.poll() is None:
                proc.kill()
            log.close()
    for _, out, _ in procs:
        lines = out.read_text(encoding="utf-8").splitlines()
        assert "result\tcwriteloop\t150" in lines, lines[-5:]
        assert not [l for l in lines if l.startswith("log")], lines
    text = cache.read_bytes()
    value = hc.store_value(cache)
    assert value in ("one-value-149", "two-value-149")
    assert text == (b"<__CACHE__>\r\n<__Other__>keep</__Other__>\r\n<__SERVER_ACCESS_SETTING1__>" + value.encode()
                    + b"</__SERVER_ACCESS_SETTING1__>\r\n</__CACHE__>")
