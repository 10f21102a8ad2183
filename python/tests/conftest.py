import gc
import time

import pytest
from hypothesis import settings

import axiswarp

# No example database in the build tree; a failure prints its example.
settings.register_profile("axiswarp", database=None)
settings.load_profile("axiswarp")


def pytest_addoption(parser):
    parser.addoption("--axiswarp-tool", default=None, help="the built axiswarp command-line tool")


@pytest.fixture(scope="session")
def tool(request):
    path = request.config.getoption("--axiswarp-tool")
    if not path:
        pytest.skip("needs --axiswarp-tool")
    return path


@pytest.fixture(autouse=True)
def host_counts_return():
    """Every test leaves the host's live arrays, blocks and handed-over data where it found them."""
    gc.collect()
    before = axiswarp.live_counts()
    yield
    # A Dask compute that raised may leave its other tasks still running on
    # the scheduler's threads; their outputs are released once they finish.
    # So the counts get a few seconds to return, and must return.
    deadline = time.monotonic() + 10.0
    while True:
        gc.collect()
        after = axiswarp.live_counts()
        if after == before or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    assert after == before, "the host's live counts did not return"
