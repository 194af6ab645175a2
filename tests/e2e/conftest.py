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
