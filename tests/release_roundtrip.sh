#!/usr/bin/env bash
# Version files written by tools/release against the program's own check (release_check.exe under
# Wine): one table of key, version file, pack -> verdict and the log line of a refusal.
#   tests/release_roundtrip.sh SOURCE_DIR TOOLS_DIR
set -euo pipefail
source_dir=$1
tools_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
release="$source_dir/tools/release"

"$release" keygen "$work/key" >/dev/null
"$release" keygen "$work/other" >/dev/null
head -c 300000 /dev/urandom >"$work/pack"
head -c 200000 /dev/urandom >"$work/older-pack"
cp "$work/pack" "$work/changed-pack"
printf 'x' | dd of="$work/changed-pack" bs=1 seek=150000 conv=notrunc status=none
"$release" sign --key "$work/key/release-private.pem" --version 7 "$work/pack" >"$work/signed"
"$release" sign --key "$work/other/release-private.pem" --version 7 "$work/pack" >"$work/other-signed"
head -n 3 "$work/signed" >"$work/digest-only"
printf '7\n' >"$work/old-style"
# The raw X||Y: the last 64 bytes of the key's standard encoding.
key=$(openssl pkey -pubin -in "$work/key/release-public.pem" -outform DER | tail -c 64 | od -An -tx1 -v | tr -d ' \n')

windows() { printf 'Z:%s' "${1//\//\\}"; }

# key          version file   pack          1=refused  expected log line (refusals)
cases=(
  "$key        signed         pack          0     -"
  "$key        signed         changed-pack  1     Jre check failed: sha256 "
  "$key        signed         older-pack    1     Jre check failed: size 200000, version file says 300000"
  "$key        other-signed   pack          1     Jre check failed: signature does not verify"
  "$key        old-style      pack          1     Jre check failed: no signature in version file"
  "$key        digest-only    pack          1     Jre check failed: no signature in version file"
  "none        signed         pack          0     -"
  "none        old-style      changed-pack  0     -"
  "none        digest-only    changed-pack  1     Jre check failed: sha256 "
)
arguments=()
for i in "${!cases[@]}"; do
  read -r case_key version pack _ <<<"${cases[$i]}"
  arguments+=("$case_key" "$(windows "$work/$version")" "$(windows "$work/$pack")" "$(windows "$work/check-$i.log")")
done
"$source_dir/scripts/wine-run" "$tools_dir/release_check.exe" "${arguments[@]}" >"$work/verdicts" 2>"$work/errors" ||
  { cat "$work/errors"; exit 1; }
mapfile -t verdicts < <(cut -f2 "$work/verdicts")
status=0
for i in "${!cases[@]}"; do
  read -r case_key version pack expected line <<<"${cases[$i]}"
  got=$((1 - ${verdicts[$i]:-2}))
  logged=$(cat "$work/check-$i.log" 2>/dev/null || true)
  label="${case_key:0:8} $version $pack"
  if [ "$got" != "$expected" ]; then
    echo "FAIL $label: verdict ${verdicts[$i]:-none}, expected exit $expected; log: $logged"
    status=1
  elif [ "$line" = "-" ] && [ -n "$logged" ]; then
    echo "FAIL $label: accepted but logged: $logged"
    status=1
  elif [ "$line" != "-" ] && { [ "$(printf '%s\n' "$logged" | wc -l)" != 1 ] || [[ "$logged" != *"$line"* ]]; }; then
    echo "FAIL $label: expected one line with '$line', log: $logged"
    status=1
  else
    echo "ok   $label"
  fi
done
exit $status
