#!/usr/bin/env bash
# Time of the release check (SHA-256 of the pack and the signature) for a pack of N MB under Wine,
# with the program's own code (build/tools/release_check.exe), RUNS times in one process:
#   bash tests/e2e/bench/release_check_bench.sh [MEGABYTES=50] [RUNS=5]
# Prints the runs' seconds, sorted, and the median.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
megabytes=${1:-50}
runs=${2:-5}
work=$(mktemp -d "$root/build/release-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$root/tools/release" keygen "$work/key" >/dev/null
head -c $((megabytes * 1024 * 1024)) /dev/urandom >"$work/pack"
"$root/tools/release" sign --key "$work/key/release-private.pem" --version 7 "$work/pack" >"$work/version.txt"
key=$(openssl pkey -pubin -in "$work/key/release-public.pem" -outform DER | tail -c 64 | od -An -tx1 -v | tr -d ' \n')
windows() { printf 'Z:%s' "${1//\//\\}"; }
arguments=()
for _ in $(seq "$runs"); do
  arguments+=("$key" "$(windows "$work/version.txt")" "$(windows "$work/pack")" "$(windows "$work/check.log")")
done
"$root/scripts/wine-run" "$root/build/tools/release_check.exe" "${arguments[@]}" >"$work/times"
if grep -qv "^ACCEPTED	1	" "$work/times"; then
  echo "release_check_bench: the check refused the pack:"; cat "$work/times" "$work/check.log" 2>/dev/null
  exit 1
fi
cut -f4 "$work/times" | sort -n | awk -v mb="$megabytes" '
  { t[NR] = $1; line = line sprintf(" %.3f", $1) }
  END { m = t[int((NR + 1) / 2)]; printf "runs (s, sorted):%s\nmedian %.3f s for %d MB = %.0f MB/s\n", line, m, mb, mb / m }'
