"""Makes tests/unit/data/setting_links.txt: launch links for the table tests
of the setup handler's command-line processing, each made twice, by qvlink
make and by the independent link helper.

Run with QV_BIN_DIR pointing at a build that holds qvlink.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import linkhelper  # noqa: E402

# (case name, [(name, value), ...]); the C++ table names the same cases.
CASES = [
    ("full", [
        ("account_server_ip", "127.0.0.2"), ("port", "8889"), ("meeting_password", "m&p=1"),
        ("meeting_id", "42"), ("meeting_type", "1"), ("role", "host"), ("version", "5.2.1"),
        ("publisher_name", "Pub Co"), ("publisher_url", "http://127.0.0.2/about?a=1&b=2"),
        ("name", "Ann B\u00e9"), ("email", "ann@example.test"), ("user_password", "u p+w"),
        ("pass_through", "pt"), ("client_name", "Quorumvessel"), ("oem_id", "Pallida"),
        ("oem_company_name", "OEM"), ("oem_company_url", "http://127.0.0.3/"),
        ("powered_by_field_name", "Powered"), ("main_icon", "main.ico"), ("minor_icon", "minor.ico"),
        ("login_title", "Welcome"), ("plst", "1"), ("client_hide_server_address", "Y"),
        ("recognize_manufacturer", "N"), ("my_product_type", "pt1"), ("my_product_sub_type", "st2"),
    ]),
    ("email_only", [("email", "x")]),
    ("flags_lower_case", [("client_hide_server_address", "y"), ("recognize_manufacturer", "n")]),
    ("flags_other", [("client_hide_server_address", "yes"), ("recognize_manufacturer", "")]),
    ("names_case_sensitive", [("Role", "host"), ("EMAIL", "x"), ("role", "guest")]),
    ("unknown_names_ignored", [("role", "host"), ("colour", "blue")]),
]


def quote_field(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def lines(bin_dir):
    qvlink = os.path.join(bin_dir, "qvlink")
    out = []
    for name, pairs in CASES:
        made = subprocess.run([qvlink, "make"] + ["%s=%s" % p for p in pairs], check=True,
                              capture_output=True, text=True).stdout.strip()
        out.append("%s\tqvlink\t%s" % (name, made))
        out.append("%s\thelper\t%s" % (name, linkhelper.make_link(pairs)))
    return out


FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "unit", "data", "setting_links.txt")

if __name__ == "__main__":
    with open(FIXTURE, "w", encoding="utf-8", newline="\n") as f:
        f.write("# case<TAB>maker<TAB>link, made by tests/tools/make_setting_links.py\n")
        for line in lines(os.environ["QV_BIN_DIR"]):
            f.write(line + "\n")
