#!/usr/bin/env bash
# Runs every test: the unit tests (GoogleTest under Wine, through CTest), the build checks, the
# bounded fuzz runs and the end-to-end tests (pytest, the real exe under Wine and Xvfb, inside a
# private network namespace whose hosts file points the download hosts at loopback servers).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh || exit 1

cmake --preset windows >/dev/null && cmake --build build -j"$(nproc)" || exit 1

status=0
(cd build && ctest --output-on-failure --timeout 600) || status=1

if [ -x scripts/fuzz.sh ]; then
  bash scripts/fuzz.sh || status=1
fi

run_in_namespace=()
if [ -f scripts/netns.sh ]; then
  bash scripts/netns.sh || exit 1
  run_in_namespace=(ip netns exec tarvolin-e2e)
fi
"${run_in_namespace[@]}" env LAUNCHER_BUILD_DIR="$root/build" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e || status=1

exit $status
