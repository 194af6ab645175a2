import os
import subprocess

import pytest

import harness


@pytest.fixture
def make_prefix(request):
    """Factory of private prefixes for a test: make_prefix("suffix").
    Their Wine servers are ended when the test ends."""
    made = []
    base = f"{request.module.__name__}.{request.node.name}"

    def make(suffix=""):
        prefix = harness.WinePrefix(base + (f".{suffix}" if suffix else "")).create()
        made.append(prefix)
        return prefix

    yield make
    for prefix in made:
        prefix.stop()


@pytest.fixture
def wine_prefix(make_prefix):
    """One private prefix for the test."""
    return make_prefix()


def start_xvfb():
    """A new Xvfb server; gives (process, display name)."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as f:
        number = f.readline().strip()
    return xvfb, ":" + number


def stop_xvfb(xvfb):
    xvfb.terminate()
    xvfb.wait(timeout=10)


@pytest.fixture(scope="module")
def display():
    """An X display for tests that show the starter's window: the one given
    (scripts/test starts one), else a private Xvfb for the module."""
    if os.environ.get("DISPLAY"):
        yield
        return
    xvfb, name = start_xvfb()
    os.environ["DISPLAY"] = name
    try:
        yield
    finally:
        del os.environ["DISPLAY"]
        stop_xvfb(xvfb)


@pytest.fixture
def private_display():
    """A display of the test's own, where no other test's window shows;
    gives its name."""
    xvfb, name = start_xvfb()
    try:
        yield name
    finally:
        stop_xvfb(xvfb)
