"""Raw HTTP exchanges for the server tests: exact request bytes out, exact reply bytes back."""
import socket
import ssl


def exchange(port, raw, host="127.0.0.2", tls=False, timeout=30):
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
    """(status line, {name: value}, body) of one reply."""
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {l.split(":", 1)[0]: l.split(":", 1)[1].strip() for l in lines[1:]}
    return lines[0], headers, body
