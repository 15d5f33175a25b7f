#!/usr/bin/env bash
# The program's main job on this machine: a demo download server (loopback HTTPS inside the network
# namespace tarvolin-e2e, certificate from the test CA) serves the version file, a demo runtime pack
# and the generic launcher archive; the program runs under Wine and Xvfb in a private prefix under
# build/demo/, provisions its runtime and starts the runtime's javaw. Two runs: the first installs,
# the second finds the runtime current. Prints a screenshot of the splash, the log and what javaw
# received. The release is signed: a release key is made once in build/demo-release/, the demo
# pack's version file is signed with it (tools/release), and the demo program is built with its
# public key in build/demo/launcher-build/, so it installs only the pack the key signed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
cmake --preset windows >/dev/null && cmake --build build -j"$(nproc)" >/dev/null
bash scripts/netns.sh

# The release key: made once and kept, as an operator keeps theirs.
release_keys=$root/build/demo-release
[ -f "$release_keys/release-private.pem" ] || tools/release keygen "$release_keys"
launcher_build=$root/build/demo/launcher-build
cmake -S "$root" -B "$launcher_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF \
  -DLAUNCHER_RELEASE_PUBLIC_KEY="$release_keys/release-public.pem" >/dev/null
cmake --build "$launcher_build" -j"$(nproc)" --target DesktopLauncher >/dev/null
launcher=$launcher_build/DesktopLauncher.exe

ns=(ip netns exec tarvolin-e2e)
demo=$root/build/demo
export LAUNCHER_BUILD_DIR=$root/build
export WINEPREFIX=$demo/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export PYTHONPATH=$root/tests/e2e
mkdir -p "$WINEPREFIX"
# Wine's sockets live in the wineserver: one left from a run outside the namespace must go.
wineserver -k 2>/dev/null || true

# The server's files, laid out like the real download server's.
server_root=$demo/server
rm -rf "$server_root"
/usr/bin/python3 - "$server_root" <<'PY'
import sys
from harness import runtime, wine
root = runtime.lay_out_server(sys.argv[1], version="7", pack=runtime.pack_bytes(delay_ms=2000))
jar = root / runtime.GENERIC_ARCHIVE
jar.parent.mkdir(parents=True, exist_ok=True)
jar.write_bytes((wine.ROOT / "res" / "launcher.jar").read_bytes())
PY
/usr/bin/python3 -c "from harness import net; net.install_ca()"
# Publishing the release: the pack is in place, its signed version file goes beside it. It is staged
# to 10 % of the desktops that have a runtime; the demo desktop has none, so it installs all the same.
for folder in $(/usr/bin/python3 -c "from harness import runtime as r; print(r.PRODUCTION_JRE, r.TEST_JRE)"); do
  tools/release sign --key "$release_keys/release-private.pem" --version 7 --rollout 10 \
    --archive "$server_root/apps/zentrix/launcher/launcher.jar" \
    "$server_root/$folder/jre_pack.exe" >"$server_root/$folder/version.txt"
done
echo "== signed version file of the demo release"
cat "$server_root/$(/usr/bin/python3 -c "from harness import runtime as r; print(r.PRODUCTION_JRE)")/version.txt"

"${ns[@]}" /usr/bin/python3 -m harness.servers --root "$server_root" --seconds 900 \
  </dev/null >"$demo/server.log" 2>&1 &
server=$!
display=:$(( 120 + RANDOM % 60 ))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  kill "$server" "$xvfb" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.2; done

"${ns[@]}" env DISPLAY="$display" wineserver -p </dev/null >/dev/null 2>&1
"${ns[@]}" /usr/lib/wine/wine64 wineboot -u </dev/null >/dev/null 2>&1

local_appdata=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -1)
base=$local_appdata/tarvolin
log=$base/DesktopLauncher.log
record=$base/zentrixjre/jre/bin/javaw-record.txt
rm -rf "$base"

run_launcher() {  # $1: name of the screenshot, or empty
  "${ns[@]}" /usr/lib/wine/wine64 "$launcher" "https://get.tarvolin.example/start/app.kvnlp" \
    </dev/null >/dev/null 2>&1 &
  local pid=$! window=""
  if [ -n "$1" ]; then
    for _ in $(seq 100); do
      window=$(xdotool search --name '^Zentrix$' 2>/dev/null | head -1) && [ -n "$window" ] && break
      sleep 0.1
    done
    if [ -n "$window" ]; then
      sleep 0.5
      import -window "$window" "$demo/$1" && echo "screenshot of the splash: $demo/$1"
    fi
  fi
  local code=0
  timeout 120 tail --pid="$pid" -f /dev/null || true
  wait "$pid" || code=$?
  echo "exit code: $code"
}

echo "== first run: empty cache, the server announces version 7"
run_launcher splash.png
echo "== second run: the runtime is current"
lines_before=$(wc -l <"$log")
run_launcher ""
for _ in $(seq 50); do [ "$(grep -c '^END' "$record" 2>/dev/null || echo 0)" -ge 2 ] && break; sleep 0.2; done

echo
echo "== $log"
cat "$log"
echo
echo "== runtime cache $base/zentrixjre"
(cd "$base/zentrixjre" && find . | sort)
echo
installs=$(tail -n +"$((lines_before + 1))" "$log" | grep -c "need to dl java" || true)
echo "== installs in the second run (log lines from $((lines_before + 1)) on): $installs"
echo
echo "== what the runtime's javaw received (one block per start) from $record"
cat "$record"
