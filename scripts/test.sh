#!/usr/bin/env bash
# Runs every test: the unit tests (GoogleTest under Wine, through CTest), the build checks, the
# bounded fuzz runs (native targets and the seeded random runs under Wine) and the end-to-end tests
# (pytest, the real exe under Wine and Xvfb, inside a private network namespace whose hosts file
# points the download hosts at loopback servers). At the end it prints how long each stage took;
# the whole stays under 12 minutes on a 2-core machine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

timings=()
status=0
# Runs one stage and notes its time and outcome; a failed stage fails the run.
stage() {
  local name=$1 start=$SECONDS outcome=passed
  shift
  "$@" || { outcome=FAILED; status=1; }
  timings+=("$(printf '  %-11s %4d s  %s' "$name" $((SECONDS - start)) "$outcome")")
  [ "$outcome" = passed ]
}
print_timings() {
  echo "test.sh: time per stage"
  printf '%s\n' "${timings[@]}"
  printf '  %-11s %4d s\n' total "$SECONDS"
}
# The Wine runs of the unit and fuzz stages start their prefix's wineserver persistent (see
# scripts/wine-run); ended here, it does not outlive the run and take CPU from later ones.
stop_unit_wine() {
  WINEPREFIX="$root/build/wineprefix-unit" wineserver -k >/dev/null 2>&1 || true
}
trap 'stop_unit_wine; print_timings' EXIT

build() {
  bash scripts/install-deps.sh && cmake --preset windows >/dev/null && cmake --build build -j"$(nproc)"
}
# The seeded random runs (CTest's random_inputs) belong to the fuzz stage, which runs them once.
unit() {
  (cd build && ctest --output-on-failure --timeout 600 -E '^random_inputs$')
}
fuzz() {
  bash scripts/fuzz.sh
}
# The end-to-end tests spend most of their time waiting on Wine, the servers and time-outs, not on
# the CPU, so they run as two shards at once, each in a network namespace, prefix and X display of
# its own (a server on port 443 per namespace). The modules are dealt so that the shards take about
# as long; SHARD_B lists the second one's, every other module runs in the first.
SHARD_B="test_server_faults.py test_corporate_network.py test_environment_faults.py test_download.py
         test_soak.py test_splash.py test_proxy.py test_images.py test_runtime.py test_interrupted_install.py"
end_to_end() {
  bash scripts/netns.sh tarvolin-e2e && bash scripts/netns.sh tarvolin-e2e-b || return 1
  # What both shards share is made once before they start: certificates, the CA in the system
  # store and the release keys.
  (cd tests/e2e && LAUNCHER_BUILD_DIR="$root/build" /usr/bin/python3 -c '
from harness import net, release
net.install_ca()
for keys in (release.KEYS, release.SECOND_KEYS, release.OTHER_KEYS):
    release.key_pair(keys)') || return 1
  local a=() b=() module name
  for module in tests/e2e/test_*.py; do
    name=${module##*/}
    if [[ " $(echo $SHARD_B) " == *" $name "* ]]; then b+=("$module"); else a+=("$module"); fi
  done
  local runs="$root/build/e2e/shards"
  rm -rf "$runs" && mkdir -p "$runs/a" "$runs/b"
  shard() {  # name namespace first-display modules...
    local name=$1 ns=$2 display=$3
    shift 3
    ip netns exec "$ns" env LAUNCHER_BUILD_DIR="$root/build" LAUNCHER_E2E_RUN_DIR="$runs/$name" \
      LAUNCHER_E2E_FIRST_DISPLAY="$display" /usr/bin/python3 -m pytest -q -p no:cacheprovider "$@" \
      >"$runs/$name.txt" 2>&1
  }
  shard a tarvolin-e2e 90 "${a[@]}" & local pid_a=$!
  shard b tarvolin-e2e-b 150 "${b[@]}" & local pid_b=$!
  local outcome=0
  wait $pid_a || outcome=1
  wait $pid_b || outcome=1
  for name in a b; do
    echo "=== end-to-end shard $name"
    cat "$runs/$name.txt"
  done
  return $outcome
}

stage build build || exit 1
stage unit unit
stage fuzz fuzz
stop_unit_wine
stage end-to-end end_to_end
exit $status
