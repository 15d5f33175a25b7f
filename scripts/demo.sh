#!/usr/bin/env bash
# The program's main job on this machine: builds it, starts it under Wine and Xvfb in a private
# prefix under build/demo/ with a launch argument, and prints its log.
set -euo pipefail
export USER=${USER:-$(id -un)}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
cmake --preset windows >/dev/null && cmake --build build -j"$(nproc)" >/dev/null

export WINEPREFIX=$root/build/demo/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
display=:$(( 120 + RANDOM % 60 ))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
export DISPLAY=$display
wineserver -p </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 wineboot -u </dev/null >/dev/null 2>&1

log=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local 2>/dev/null | grep -v /Public/ | head -1)/tarvolin/DesktopLauncher.log
rm -f "$log"
timeout 60 /usr/lib/wine/wine64 build/DesktopLauncher.exe "https://get.tarvolin.example/start/app.kvnlp" \
  </dev/null >/dev/null 2>&1 || echo "exit code: $?"
echo "== $log"
cat "$log"
