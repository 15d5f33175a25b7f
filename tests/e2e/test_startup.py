"""Start-up: folders, the first log lines, and the argument counts that show no window."""
import re

from harness import release
from harness import wine

UNSUPPORTED = "Error: Anzahl der Aufrufargumente nicht unterst\xfctzt "


def first_texts(prefix):
    return wine.log_texts(prefix)


def test_unsupported_argument_counts_log_and_end_without_window(clean, display):
    for args in ([], ["a", "b", "c"]):
        wine.clear_user_state(clean)
        assert wine.run(clean, display, args) == 0
        texts = wine.log_texts(clean)
        assert texts[-1] == UNSUPPORTED
        assert not any(t.startswith("Start ") and t != "Start wWinMain:" for t in texts)


def test_first_lines_come_in_their_order(clean, display):
    assert wine.run(clean, display, []) == 0
    texts = wine.log_texts(clean)
    # Program path and Program Files path, each with the last error code of the moment.
    assert re.fullmatch(r"Fehler -?\d+: .*DesktopLauncher\.exe", texts[0], re.I)
    assert re.fullmatch(r"Fehler -?\d+: C:\\Program Files", texts[1])
    assert re.fullmatch(r"version: 1\.2\.2 [A-Z][a-z]{2} [ \d]\d \d{4}", texts[2])
    # The build identity, the same text in both version records and in the log line after them.
    version = release.product_versions(wine.EXE)
    assert len(version) == 2 and version[0] == version[1]
    assert re.fullmatch(r"1\.2\.2\.0 build [A-Za-z0-9._+-]{1,64} keys none", version[0])
    assert texts[3:7] == ["Start wWinMain:", "pCmdLine", "Produktversion: " + version[0], "get Win IE proxies"]
    assert texts[-1] == UNSUPPORTED
    # A build with other keys tells itself apart by their fingerprints.
    keyed = release.product_versions(release.keyed_launcher())
    assert keyed == [version[0].replace("keys none", "keys %s,%s" % (
        release.fingerprint(release.KEYS), release.fingerprint(release.SECOND_KEYS)))] * 2


def test_log_lines_use_one_byte_per_umlaut_and_end_in_crlf(clean, display):
    wine.run(clean, display, [])
    raw = wine.log_path(clean).read_bytes()
    assert b"unterst\xfctzt \r\n" in raw
    assert raw.endswith(b"\r\n")
    assert all(line.endswith(b"\r") for line in raw.split(b"\n")[:-1])
    assert re.match(rb"\d{1,2}:\d\d:\d\d( [AP]M)?: ", raw)  # the locale decides any marker


def test_folders_are_created_once_and_a_second_start_logs_no_error(clean, display):
    wine.run(clean, display, [])
    assert wine.cache_dir(clean).is_dir()
    wine.log_path(clean).unlink()
    wine.run(clean, display, [])
    assert "Verzeichnis konnte nicht angelegt werden" not in wine.read_log(clean)

