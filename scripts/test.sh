#!/usr/bin/env bash
# Runs every test: the unit tests (GoogleTest under Wine, through CTest), the build checks, the
# bounded fuzz runs (native targets and the seeded random runs under Wine) and the end-to-end tests
# (pytest, the real exe under Wine and Xvfb, inside a private network namespace whose hosts file
# points the download hosts at loopback servers). At the end it prints how long each stage took;
# the whole stays under 10 minutes on a 2-core machine.
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
end_to_end() {
  local run_in_namespace=()
  if [ -f scripts/netns.sh ]; then
    bash scripts/netns.sh || return 1
    run_in_namespace=(ip netns exec tarvolin-e2e)
  fi
  "${run_in_namespace[@]}" env LAUNCHER_BUILD_DIR="$root/build" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e
}

stage build build || exit 1
stage unit unit
stage fuzz fuzz
stop_unit_wine
stage end-to-end end_to_end
exit $status
