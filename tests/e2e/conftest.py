import shutil

import pytest

import runtime_bench
import winbench


@pytest.fixture(scope="session")
def display():
    proc, name = winbench.start_xvfb()
    yield name
    proc.terminate()


@pytest.fixture(scope="session")
def prefix(display):
    """One booted prefix for the whole run; tests clear the launcher's per-user state themselves."""
    path = winbench.E2E_DIR / "prefix"
    winbench.boot_prefix(path, display)
    yield path
    winbench.stop_prefix(path)


@pytest.fixture
def clean(prefix):
    """A prefix without the launcher's folders, log or temporary files."""
    winbench.clear_user_state(prefix)
    return prefix


@pytest.fixture
def server(clean, request):
    """The loopback HTTPS origin serving version 5, its runtime pack and the generic archive from
    the test module's SERVER_ROOT; yields (server root, origin, prefix)."""
    runtime_bench.require_network()
    root = runtime_bench.lay_out_server(request.module.SERVER_ROOT, version="5")
    (root / runtime_bench.GENERIC_ARCHIVE).parent.mkdir(parents=True, exist_ok=True)
    (root / runtime_bench.GENERIC_ARCHIVE).write_bytes((winbench.ROOT / "res" / "launcher.jar").read_bytes())
    origin = runtime_bench.start_origin(root)
    yield root, origin, clean
    origin.stop()
