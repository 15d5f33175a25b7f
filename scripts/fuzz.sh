#!/usr/bin/env bash
# Bounded fuzz runs of the code that reads outside input. Seven targets are built natively with
# clang's libFuzzer (address and undefined-behaviour checks): quoting, version text, payload record,
# proxy rules and fragment, the release lines of a version file with their verdict, the ZIP
# check of a received launcher archive, and the length headers and partial-download metadata of a
# resumed download with the bounds every download keeps. The code that needs
# Win32 (property files, version files, payload writing, the launcher command line against the
# real CommandLineToArgvW) runs as seeded random inputs inside the unit tests under Wine, at the
# same time as the native targets (Wine waits mostly on its server and the disk). Each starts
# from tests/fuzz/corpus/<target>.
#
#   bash scripts/fuzz.sh                                   # bounded: about a minute on 2 cores
#   FUZZ_SECONDS=1800 LAUNCHER_FUZZ_RUNS=2000000 bash scripts/fuzz.sh   # longer run
#
# FUZZ_RUNS caps the inputs per native target (default 1000000), FUZZ_SECONDS its time (default 10);
# LAUNCHER_FUZZ_RUNS sets the inputs of the Wine runs (default 50000). A crash leaves its input
# in build/fuzz/artifacts/; replay it with build/fuzz/<target> <file>.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=build/fuzz
mkdir -p "$out/artifacts"
runs=${FUZZ_RUNS:-1000000}
seconds=${FUZZ_SECONDS:-10}
if [ -n "${FUZZ_SECONDS:-}" ] && [ -z "${FUZZ_RUNS:-}" ]; then
  runs=-1 # a time given alone means: run for that time
fi

declare -A sources=(
  [quote]="tests/fuzz/quote_fuzz.cpp src/base/cmdline.cpp"
  [version]="tests/fuzz/version_fuzz.cpp src/provision/version_rules.cpp"
  [payload]="tests/fuzz/payload_fuzz.cpp src/provision/payload_record.cpp"
  [proxy]="tests/fuzz/proxy_fuzz.cpp src/net/proxy_rules.cpp src/log/format.cpp src/base/cmdline.cpp"
  [release]="tests/fuzz/release_fuzz.cpp src/provision/release_rules.cpp src/provision/version_rules.cpp src/log/format.cpp"
  [zip]="tests/fuzz/zip_fuzz.cpp src/worker/zip_rules.cpp"
  [resume]="tests/fuzz/resume_fuzz.cpp src/net/resume_rules.cpp src/net/transfer_rules.cpp src/log/format.cpp"
)

status=0

# The seeded runs under Wine, in the background; their outcome is read at the end.
if [ ! -f build/CMakeCache.txt ]; then
  cmake --preset windows >/dev/null || exit 1
fi
cmake --build build -j2 --target unit_tests >/dev/null || { echo "fuzz: unit tests do not build"; exit 1; }
wine_start=$(date +%s)
LAUNCHER_FUZZ_RUNS=${LAUNCHER_FUZZ_RUNS:-50000} scripts/wine-run build/tests/unit_tests.exe \
  --gtest_filter='RandomInputs.*' >"$out/wine.log" 2>&1 &
wine_job=$!

# Builds and runs one native target; its outcome goes to $out/<target>.outcome (first line
# "passed" or "failed", then what to print).
fuzz_target() {
  local target=$1 binary=$out/${1}_fuzz work start
  # shellcheck disable=SC2086
  if ! clang++ -std=c++17 -g -O1 -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined \
       -fno-sanitize-recover=all -Isrc -Itests/fuzz ${sources[$target]} -o "$binary" >"$out/$target.build.log" 2>&1; then
    printf 'failed\nfuzz: %s does not build\n%s\n' "$target" "$(tail -20 "$out/$target.build.log")" >"$out/$target.outcome"
    return
  fi
  work=$(mktemp -d)
  start=$(date +%s)
  if "$binary" -runs="$runs" -max_total_time="$seconds" -seed=1 -max_len=4096 \
       -artifact_prefix="$out/artifacts/${target}-" "$work" "tests/fuzz/corpus/$target" \
       >"$out/$target.log" 2>&1; then
    printf 'passed\nfuzz: %s passed, %s in %d s\n' "$target" "$(grep -o 'Done [0-9]* runs' "$out/$target.log" | tail -1)" \
      $(( $(date +%s) - start )) >"$out/$target.outcome"
  else
    printf 'failed\nfuzz: %s FAILED, see %s\n%s\n' "$target" "$out/$target.log" "$(tail -20 "$out/$target.log")" \
      >"$out/$target.outcome"
  fi
  rm -rf "$work"
}

# Two targets at a time: libFuzzer keeps one core busy, and the Wine runs mostly wait.
targets=(quote version payload proxy release zip resume)
fuzz_jobs=()
for target in "${targets[@]}"; do
  rm -f "$out/$target.outcome"
  while [ "$(jobs -rp | grep -cvx "$wine_job")" -ge 2 ]; do
    sleep 0.2
  done
  fuzz_target "$target" &
  fuzz_jobs+=($!)
done
wait "${fuzz_jobs[@]}"
for target in "${targets[@]}"; do
  if [ "$(head -1 "$out/$target.outcome" 2>/dev/null)" != passed ]; then
    status=1
  fi
  tail -n +2 "$out/$target.outcome" 2>/dev/null || echo "fuzz: $target left no outcome"
done

# The staged-rollout rule over a simulated fleet of 10,000 desktops (docs/benchmarks.md): the share
# that installs lies within one percentage point of P, and no desktop's answer changes.
if g++ -std=c++17 -O2 -Wall -Wextra -Werror -Isrc tests/bench/rollout_fleet.cpp src/provision/rollout_rules.cpp \
     -o "$out/rollout_fleet" && "$out/rollout_fleet" >"$out/rollout_fleet.log"; then
  sed 's/^/fuzz: rollout fleet: /' "$out/rollout_fleet.log"
else
  echo "fuzz: rollout fleet FAILED"; cat "$out/rollout_fleet.log" 2>/dev/null
  status=1
fi

if wait "$wine_job"; then
  echo "fuzz: seeded runs under Wine passed in $(( $(date +%s) - wine_start )) s:"
  grep -o 'OK \] RandomInputs.*' "$out/wine.log" | sed 's/^OK \] /  /'
else
  echo "fuzz: seeded runs under Wine FAILED, see $out/wine.log"
  tail -30 "$out/wine.log"
  status=1
fi
exit $status
