"""The Java launch on a filled runtime cache: what javaw receives, byte for byte."""
import launch_bench
import winbench

HOST = "get.tarvolin.example"
TEST_HOST = "test.tarvolin.example"


def launch(prefix, display, argument):
    record = launch_bench.place_runtime(prefix)
    assert winbench.run(prefix, display, [argument], timeout=90) == 0
    # Nothing waits for javaw, so its record may come a moment after the launcher ended.
    starts = winbench.wait_for(lambda: launch_bench.read_records(record), timeout=20)
    assert len(starts) == 1
    return starts[0]


def expected_head(prefix, argument, variant, source):
    cache = "C:\\users\\" + winbench.user_dir(prefix).name + "\\AppData\\Local\\tarvolin\\zentrixjre"
    return [cache + "\\jre\\bin\\javaw",
            "-Djava.net.useSystemProxies=true",
            "-Dde.tarvolin.launchURL=" + argument,
            "-Dde.tarvolin.appVariant=" + variant,
            "-Dde.tarvolin.jreSrcUrlPath=" + source,
            "-Dde.tarvolin.jreCacheBasePath=" + cache]


def check_argv(prefix, argv, argument, variant, source):
    assert argv[:6] == expected_head(prefix, argument, variant, source)
    assert argv[6].startswith("-Dcom.tarvolin.launch.exe=") and argv[6].endswith("DesktopLauncher.exe")
    assert argv[7:10] == ["-Dde.tarvolin.LocalLowPath=", "-Dde.tarvolin.RoamingPath=", "-jar"]
    assert len(argv) == 12


def test_each_variant_gets_its_properties(clean, display):
    cases = [("start.kvnlp", "alda", HOST + "/apps/zentrix/windows/jre/"),
             ("https://x/app.kvbnlp", "berk", HOST + "/apps/zentrix/windows/jre/"),
             ("https://x/app.jnlp", "", TEST_HOST + "/apps/zentrix/test/windows/test/jre/")]
    for argument, variant, source in cases:
        winbench.clear_user_state(clean)
        cmdline, argv = launch(clean, display, argument)
        check_argv(clean, argv, argument, variant, source)
        # Ordinary values come out in the plain quoted form.
        assert ' "-Dde.tarvolin.appVariant=%s" ' % variant in cmdline
        assert "RunLauncher: Launcher konnte nicht gestartet werden" not in winbench.read_log(clean)


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
    return winbench.Path(prefix) / "drive_c" / windows_path[3:].replace("\\", "/")


def test_javaw_gets_the_embedded_archive_and_property_file_as_new_temp_files(clean, display):
    seen = set()
    for _ in range(2):
        _, argv = launch(clean, display, "start.kvnlp")
        jar, properties = host_path(clean, argv[10]), host_path(clean, argv[11])
        assert jar.name.startswith("TPL") and properties.name.startswith("TPL")
        assert jar.read_bytes() == (winbench.ROOT / "res" / "launcher.jar").read_bytes()
        assert properties.read_bytes() == (winbench.ROOT / "res" / "launcher.properties").read_bytes()
        seen.update({jar, properties})
        winbench.clear_user_state(clean)
    assert len(seen) == 4
