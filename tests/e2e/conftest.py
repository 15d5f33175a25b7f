import shutil

import pytest

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
