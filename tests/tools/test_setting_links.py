"""The link fixtures of the command-line table tests are what qvlink make and
the independent link helper make today, and both makers agree."""
import os

import make_setting_links


def test_fixture_matches_both_makers():
    with open(make_setting_links.FIXTURE, encoding="utf-8") as f:
        stored = [line.rstrip("\n") for line in f if not line.startswith("#")]
    assert stored == make_setting_links.lines(os.environ["QV_BIN_DIR"])
    by_case = {}
    for line in stored:
        case, _, link = line.split("\t")
        by_case.setdefault(case, set()).add(link)
    assert all(len(links) == 1 for links in by_case.values())
