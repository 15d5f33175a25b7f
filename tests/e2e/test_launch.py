"""The Java launch on a filled runtime cache: what javaw receives, byte for byte."""
import re
import shutil
import subprocess

from harness import dialog
from harness import runtime
from harness import screen
from harness import wine

HOST = "get.tarvolin.example"
TEST_HOST = "test.tarvolin.example"


def launch(prefix, display, argument):
    record = runtime.place_runtime(prefix)
    assert wine.run(prefix, display, [argument], timeout=90) == 0
    # Nothing waits for javaw, so its record may come a moment after the launcher ended.
    starts = runtime.recorded_starts(record)
    assert len(starts) == 1
    return starts[0]


def expected_head(prefix, argument, variant, source):
    cache = "C:\\users\\" + wine.user_dir(prefix).name + "\\AppData\\Local\\tarvolin\\zentrixjre"
    return [cache + "\\jre\\bin\\javaw",
            "-Djava.net.useSystemProxies=true",
            "-Dde.tarvolin.launchURL=" + argument,
            "-Dde.tarvolin.appVariant=" + variant,
            "-Dde.tarvolin.jreSrcUrlPath=" + source,
            "-Dde.tarvolin.jreCacheBasePath=" + cache]


def check_argv(prefix, argv, argument, variant, source):
    assert argv[:6] == expected_head(prefix, argument, variant, source)
    # Wine shows the Unix file system as drive Z:.
    assert argv[6] == "-Dcom.tarvolin.launch.exe=Z:" + str(wine.EXE).replace("/", "\\")
    assert argv[7:10] == ["-Dde.tarvolin.LocalLowPath=", "-Dde.tarvolin.RoamingPath=", "-jar"]
    assert len(argv) == 12


def test_each_variant_gets_its_properties(clean, display):
    cases = [("start.kvnlp", "alda", HOST + "/apps/zentrix/windows/jre/"),
             ("https://x/app.kvbnlp", "berk", HOST + "/apps/zentrix/windows/jre/"),
             ("https://x/app.jnlp", "", TEST_HOST + "/apps/zentrix/test/windows/test/jre/")]
    for argument, variant, source in cases:
        wine.clear_user_state(clean)
        cmdline, argv = launch(clean, display, argument)
        check_argv(clean, argv, argument, variant, source)
        # Ordinary values come out in the plain quoted form.
        assert ' "-Dde.tarvolin.appVariant=%s" ' % variant in cmdline
        assert "RunLauncher: Launcher konnte nicht gestartet werden" not in wine.read_log(clean)


def test_quotes_and_backslashes_in_the_argument_cannot_inject_options(clean, display):
    argument = 'x.kvnlp" -javaagent:C:\\evil.jar -XX:OnOutOfMemoryError=calc "\\'
    _, argv = launch(clean, display, argument)
    check_argv(clean, argv, argument, "alda", HOST + "/apps/zentrix/windows/jre/")
    assert not any(a.startswith("-javaagent") or a.startswith("-XX") for a in argv)


def test_long_argument_is_cut_to_a_255_character_property(clean, display):
    argument = "alda" + "u" * 300
    _, argv = launch(clean, display, argument)
    assert argv[2] == "-Dde.tarvolin.launchURL=" + argument[:231]
    assert len(argv[2]) == 255


def host_path(prefix, windows_path):
    assert windows_path.lower().startswith("c:\\")
    return wine.Path(prefix) / "drive_c" / windows_path[3:].replace("\\", "/")


def test_javaw_gets_the_embedded_archive_and_property_file_as_new_temp_files(clean, display):
    seen = set()
    for _ in range(2):
        _, argv = launch(clean, display, "start.kvnlp")
        jar, properties = host_path(clean, argv[10]), host_path(clean, argv[11])
        assert jar.name.startswith("TPL") and properties.name.startswith("TPL")
        assert jar.read_bytes() == runtime.launcher_archive()
        assert properties.read_bytes() == (wine.ROOT / "res" / "launcher.properties").read_bytes()
        seen.update({jar, properties})
        wine.clear_user_state(clean)
    assert len(seen) == 4


def regedit(prefix, display, text, name):
    reg = wine.Path(prefix) / name
    reg.write_bytes(text)
    return subprocess.run([wine.WINE, "regedit", "/S", str(reg)], env=wine.wine_env(prefix, display),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=60).returncode


def test_launch_file_opened_by_the_shell_runs_the_registered_launcher_with_the_file(clean, display, tmp_path):
    machine = (wine.BUILD / "register-launch-files-machine.reg").read_bytes()
    per_user = (wine.BUILD / "register-launch-files.reg").read_bytes()
    assert per_user.decode("utf-16") == machine.decode("utf-16").replace("[HKEY_LOCAL_MACHINE\\",
                                                                         "[HKEY_CURRENT_USER\\")
    # The default install path, which the shell must expand from the user's profile.
    installed = wine.local_appdata(clean) / "Programs" / "tarvolin" / "DesktopLauncher.exe"
    installed.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(wine.EXE, installed)
    record = runtime.place_runtime(clean)
    launch_file = tmp_path / "Mein Start.kvnlp"
    launch_file.write_text("launch file\n")
    keys = re.findall(r"^\[(.*)\]\r$", machine.decode("utf-16"), re.M)
    try:
        assert regedit(clean, display, machine, "register.reg") == 0
        # Wine's start.exe hands the file to the shell, which looks up its class (/wait: and returns
        # the exit code of the program the class names).
        opened = subprocess.run([wine.WINE, "start", "/wait", "/unix", str(launch_file)], timeout=60,
                                env=wine.wine_env(clean, display), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert opened.returncode == 0
        starts = runtime.recorded_starts(record)
        assert len(starts) == 1
        argv = starts[0][1]
        assert argv[2].lower() == ("-Dde.tarvolin.launchURL=" + wine.windows_path(launch_file, clean)).lower()
        assert argv[3] == "-Dde.tarvolin.appVariant=alda"
        assert argv[6].lower() == ("-Dcom.tarvolin.launch.exe=" + wine.windows_path(installed, clean)).lower()
    finally:
        removal = "REGEDIT4\r\n\r\n" + "".join("[-%s]\r\n" % key for key in reversed(keys))
        regedit(clean, display, removal.encode("ascii"), "unregister.reg")
        shutil.rmtree(installed.parent, ignore_errors=True)


QUESTION_CAPTION = "RunLauncher: Launcher konnte nicht gestartet werden"
QUESTION = "RunLauncher Fehler: 2. Tempor\xe4re Dateien l\xf6schen und erneut versuchen?"


def test_failed_start_asks_and_no_ends_the_program(clean, display):
    cache = runtime.place_runtime_without_javaw(clean)
    with wine.running(clean, display, ["start.kvnlp"]) as proc:
        assert dialog.answer(clean, display, QUESTION_CAPTION, "no") == (QUESTION_CAPTION, QUESTION)
        assert proc.wait(timeout=30) == 0
    texts = wine.log_texts(clean)
    # The command line is logged before the start, then the error and the question with the same code.
    line = [i for i, t in enumerate(texts) if t.startswith('"') and "-jar" in t]
    assert line and texts.index("Fehler 2: " + QUESTION_CAPTION) > line[-1]
    assert texts.index(QUESTION) > texts.index("Fehler 2: " + QUESTION_CAPTION)
    assert (cache / "version.txt").exists()
    assert texts.count("Start wWinMain:") == 1


def test_failed_start_answered_yes_deletes_the_cache_and_starts_again(clean, display):
    cache = runtime.place_runtime_without_javaw(clean)
    (cache / "leftover.txt").write_text("old")
    with wine.running(clean, display, ["start.kvnlp"]) as proc:
        assert dialog.answer(clean, display, QUESTION_CAPTION, "yes") == (QUESTION_CAPTION, QUESTION)
        assert proc.wait(timeout=30) == 0
    assert not (cache / "leftover.txt").exists()
    # The new instance finds no runtime and no server: no version file arrives, nothing is
    # installed, javaw is still missing, and it asks again.
    assert dialog.answer(clean, display, QUESTION_CAPTION, "no") == (QUESTION_CAPTION, QUESTION)
    texts = wine.wait_for(lambda: [t for t in wine.log_texts(clean) if t == QUESTION][1:] and
                              wine.log_texts(clean), timeout=30)
    assert texts.count("Start wWinMain:") == 2
    assert texts.count(QUESTION) == 2
    assert screen.wait_until_no_window(display)
