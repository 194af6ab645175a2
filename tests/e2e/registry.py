"""The prefix's registry as the tests see it: keys read back through
`reg export`, and the user's protocol registration made visible to Wine's
shell."""
import re


def _reg_string(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out)


def export_key(prefix, key):
    """{key: {value name ("" for the default): value}} of a key and its
    subkeys, from `reg export` (strings as text, dwords as int); None when
    the key does not exist."""
    out = prefix.drive_c / "export.reg"
    if out.exists():
        out.unlink()
    result = prefix.run("reg", ["export", key, r"C:\export.reg", "/y"])
    if result.returncode != 0 or not out.exists():
        return None
    raw = out.read_bytes()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8")
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not m:
            continue
        name = "" if m.group(1) == "@" else _reg_string(m.group(2))
        data = m.group(3)
        if data.startswith("dword:"):
            current[name] = int(data[6:], 16)
        else:
            assert data.startswith('"') and data.endswith('"'), line
            current[name] = _reg_string(data[1:-1])
    return keys



def copy_protocol_to_machine(prefix, user_key, keys):
    """Wine looks protocols up in the machine's classes only; a browser on
    Windows also sees the user's. Copies the exported user registration
    `keys` (from export_key(prefix, user_key)) under HKLM\\Software\\Classes."""
    machine = r"HKLM\Software\Classes" + "\\" + user_key.rsplit("\\", 1)[1]
    for key, values in keys.items():
        target = machine + key[len(user_key):]
        for name, value in values.items():
            args = ["add", target, "/t", "REG_SZ", "/d", value, "/f"]
            args[2:2] = ["/ve"] if name == "" else ["/v", name]
            result = prefix.run("reg", args)
            assert result.returncode == 0, result
