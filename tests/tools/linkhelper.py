"""Independent maker and reader of protected launch links, for tests.

Written from the link rules alone (not from the starter's code): the plain
query is masked with the key of kind "M", base64-coded (sp) and checked by the
base64 text of its SHA-1 digest (chk); one byte in every key length + 1, and
the last byte, stay clear.
"""
import base64
import hashlib
import urllib.parse

KEYS = {"A": b"#%&lomiduva*#", "M": b"$71#@!K458qq6", "L": b"$kk#@!mno7pp4"}
OTHER_KEY = b"Hq42cvNPaZ7ek3TrWbxodLs5Uj9061gM"


def mask(data: bytes, kind: str = "M") -> bytes:
    key = KEYS.get(kind, OTHER_KEY)
    out = bytearray(data)
    p = 0
    while p < len(out) - 1:
        for k in key:
            if p < len(out) - 1:
                out[p] ^= k
                p += 1
        p += 1
    return bytes(out)


def checksum(plain: bytes) -> str:
    return base64.b64encode(hashlib.sha1(plain).digest()).decode()


def form_encode(text: str) -> str:
    # Letters, digits and "-_." kept, space as "+", everything else %XX.
    return urllib.parse.quote_plus(text, safe="-_.")


def make_link(pairs, scheme="Quorumvessel"):
    query = "&".join(form_encode(n) + "=" + form_encode(v) for n, v in pairs)
    return make_link_from_query(query, scheme)


def make_link_from_query(query: str, scheme="Quorumvessel"):
    plain = query.encode()
    sp = base64.b64encode(mask(plain)).decode()
    return "%s:sp=%s&chk=%s" % (scheme, form_encode(sp), form_encode(checksum(plain)))


def read_link(link: str):
    """Pairs of a link made with URL-encoded sp and chk, or None if refused."""
    _, _, query = link.partition(":")
    outer = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
    plain = mask(base64.b64decode(outer["sp"]))
    if checksum(plain) != outer["chk"]:
        return None
    return urllib.parse.parse_qsl(plain.decode(), keep_blank_values=True)
