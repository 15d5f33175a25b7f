import shutil

import pytest

from harness import net
from harness import runtime
from harness import servers
from harness import wine


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A test that fails keeps what the launcher left in its prefix (the log, the cache's files,
    the last start's output, the programs still running) before the next test clears it, so that
    a failure seen once can still be read afterwards."""
    outcome = yield
    report = outcome.get_result()
    prefix = item.funcargs.get("clean") or item.funcargs.get("prefix")
    if report.when == "call" and report.failed and prefix is not None:
        kept = wine.keep_failure_evidence(prefix, item.nodeid)
        report.sections.append(("launcher state kept", str(kept)))


@pytest.fixture(scope="session")
def display():
    proc, name = wine.start_xvfb()
    yield name
    proc.terminate()


@pytest.fixture(scope="session")
def prefix(display):
    """One booted prefix for the whole run; tests clear the launcher's per-user state themselves."""
    path = wine.RUN_DIR / "prefix"
    # Reports of odd exit codes speak of this run's starts only (start numbers begin at 1 again).
    shutil.rmtree(wine.ODD_EXITS, ignore_errors=True)
    shutil.rmtree(wine.FAILURES, ignore_errors=True)
    wine.boot_prefix(path, display)
    yield path
    wine.stop_prefix(path)


@pytest.fixture
def clean(prefix):
    """A prefix without the launcher's folders, log or temporary files. A javaw that an earlier
    test's launcher started may still be starting on a busy machine; it would record into this
    test's new cache (same path), so the programs of earlier runs are given time to end first."""
    wine.wait_for(lambda: not wine.prefix_processes(prefix), timeout=30)
    wine.clear_user_state(prefix)
    return prefix


@pytest.fixture
def server(clean, request):
    """The loopback HTTPS origin serving version 5, its runtime pack and the generic archive from
    the test module's SERVER_ROOT; yields (server root, origin, prefix)."""
    net.require_network()
    root = runtime.lay_out_server(request.module.SERVER_ROOT, version="5", archive=True)
    origin = servers.start_origin(root)
    yield root, origin, clean
    origin.stop()
