#!/usr/bin/env bash
# Version files written by tools/release against the program's own check (release_check.exe under
# Wine): one table of key, version file, pack -> verdict and the log line of a refusal; before it,
# what the tool itself must get right: fingerprints as the build prints them, packs launchers would
# refuse, a failed sign that leaves the published file, and verify's verdicts.
#   tests/release_roundtrip.sh SOURCE_DIR TOOLS_DIR
set -euo pipefail
source_dir=$1
tools_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
release="$source_dir/tools/release"

"$release" keygen "$work/key" >/dev/null 2>"$work/keygen.err"
"$release" keygen "$work/other" >/dev/null
printf 'pass phrase\n' >"$work/passphrase"
encrypted_fingerprint=$("$release" keygen --passphrase-file "$work/passphrase" "$work/encrypted")
# Packs as launchers take them: "MZ", and "PE\0\0" at the offset stored at 0x3C.
program() { { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0'; head -c $(($2 - 68)) /dev/urandom; } >"$work/$1"; }
program pack 300000
program older-pack 200000
cp "$work/pack" "$work/changed-pack"
printf 'x' | dd of="$work/changed-pack" bs=1 seek=150000 conv=notrunc status=none
"$release" sign --key "$work/key/release-private.pem" --version 7 "$work/pack" >"$work/signed" 2>"$work/sign.err"
"$release" sign --key "$work/other/release-private.pem" --version 7 "$work/pack" >"$work/other-signed" 2>/dev/null
# Signed with an old and a new key, as while launchers change keys.
"$release" sign --key "$work/key/release-private.pem" --key "$work/other/release-private.pem" --version 7 \
  "$work/pack" >"$work/two-signed" 2>/dev/null
"$release" sign --key "$work/encrypted/release-private.pem" --passphrase-file "$work/passphrase" --version 7 \
  "$work/pack" >"$work/encrypted-signed" 2>"$work/encrypted-sign.err"
"$release" sign --key "$work/key/release-private.pem" --version 7 --expires 2020-02-29T12:00:00Z "$work/pack" \
  >"$work/expired" 2>"$work/expired.err"
"$release" sign --key "$work/key/release-private.pem" --version 7 --rollout 30 "$work/pack" >"$work/rolled" 2>/dev/null
sed 's/^rollout=30$/rollout=101/' "$work/rolled" >"$work/rolled-over"
head -n 3 "$work/signed" >"$work/digest-only"
printf '7\n' >"$work/old-style"
# The raw X||Y: the last 64 bytes of the key's standard encoding.
raw_key() { openssl pkey -pubin -in "$work/$1/release-public.pem" -outform DER | tail -c 64 | od -An -tx1 -v | tr -d ' \n'; }
key=$(raw_key key)
other_key=$(raw_key other)
encrypted_key=$(raw_key encrypted)
status=0
expect() { if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: got '$2', expected '$3'"; status=1; fi; }

# The fingerprint keygen and sign print is the one a configure run prints for the key.
mkdir "$work/configure"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(fingerprint NONE)\ninclude(%s/cmake/release_key.cmake)\nlauncher_release_key_source("%s" ${CMAKE_BINARY_DIR}/keys.cpp FALSE)\n' \
  "$source_dir" "$work/encrypted/release-public.pem" >"$work/configure/CMakeLists.txt"
configured=$(cmake -S "$work/configure" -B "$work/configure/build" -DLAUNCHER_RELEASE_PUBLIC_KEY=x 2>&1 |
  sed -n 's/^-- Release key \(SHA256:[0-9a-f]*\) .*/\1/p')
expect "fingerprint of keygen is the configure run's" "$encrypted_fingerprint" "$configured"
expect "sign prints the fingerprint of its key" "$(grep -o 'SHA256:[0-9a-f]*' "$work/encrypted-sign.err")" "$configured"

# Warnings: an unencrypted private key (keygen and sign), a signed file without expiry; no key
# file is written through a symlink.
count() { grep -c "$1" "$work/$2" || true; }
expect "unencrypted key warned of by keygen and sign only" \
  "$(count 'is not encrypted' keygen.err) $(count 'is not encrypted' sign.err) $(count 'is not encrypted' encrypted-sign.err)" "1 1 0"
expect "a file without expiry warned of by sign only" "$(count 'no --expires' sign.err) $(count 'no --expires' expired.err)" "1 0"
expect "verify says it never expires" "$("$release" verify --key "$work/key/release-public.pem" "$work/signed" "$work/pack" |
  grep -c 'never expires')" 1
mkdir "$work/linked" && ln -s "$work/planted" "$work/linked/release-public.pem"
"$release" keygen "$work/linked" >/dev/null 2>&1 && got=$? || got=$?
expect "keygen writes no key through a symlink" "$got $(ls -A "$work/linked" | wc -l) $(ls "$work/planted" 2>/dev/null | wc -l)" "1 1 0"

# Packs a launcher refuses are refused by sign too, and a failed sign leaves the published file;
# so are packs Windows starts only with administrator rights: a 32-bit one without an asInvoker
# manifest (installer detection), and one whose manifest asks for them. A signed-looking pack passes.
printf 'hello\n' >"$work/text"
: >"$work/empty"
/usr/bin/python3 - "$work" <<'PY'
import struct, sys
def pe(machine, magic, manifest=b"", signed=False):
    optional_size = 224 if magic == 0x10B else 240
    head = bytearray(b"MZ" + bytes(58) + struct.pack("<I", 0x40) + b"PE\0\0")
    head += struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, optional_size, 0x22)
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, magic)
    struct.pack_into("<II", optional, (96 if magic == 0x10B else 112) + 32, 0x400, 8 if signed else 0)
    section = b".rsrc\0\0\0" + struct.pack("<IIII", len(manifest), 0x1000, len(manifest), 0x200) + bytes(16)
    data = bytes(head + optional + section)
    return data + bytes(0x200 - len(data)) + manifest + bytes(512)
level = b'<requestedExecutionLevel level="%s" uiAccess="false"/>'
for name, data in (("installer32", pe(0x14C, 0x10B)), ("elevated", pe(0x8664, 0x20B, level % b"requireAdministrator")),
                   ("invoker32", pe(0x14C, 0x10B, level % b"asInvoker", signed=True)), ("unsigned64", pe(0x8664, 0x20B))):
    open(f"{sys.argv[1]}/{name}", "wb").write(data)
PY
for pack in invoker32 unsigned64; do
  "$release" sign --key "$work/key/release-private.pem" --version 7 "$work/$pack" >/dev/null 2>"$work/$pack.err" &&
    got=$? || got=$?
  expect "sign takes the $pack pack, warning only when unsigned" "$got $(grep -c 'no Authenticode signature' "$work/$pack.err")" \
    "0 $([ $pack = unsigned64 ] && echo 1 || echo 0)"
done
for pack in text empty installer32 elevated; do
  printf 'old\n' >"$work/published"
  "$release" sign --key "$work/key/release-private.pem" --version 8 --output "$work/published" "$work/$pack" \
    2>/dev/null && got=$? || got=$?
  expect "sign refuses the $pack pack" "$got $(cat "$work/published") $(ls -A "$work" | grep -c '^\.published')" "1 old 0"
done

# The rollout share is a signed line before the signature, which verify shows; sign takes 0 to 100 only.
expect "verify shows the rollout" "$("$release" verify --key "$work/key/release-public.pem" "$work/rolled" "$work/pack" |
  grep -o 'rollout [0-9]*%')" "rollout 30%"
"$release" sign --key "$work/key/release-private.pem" --version 7 --rollout 101 "$work/pack" >/dev/null 2>&1 && got=0 || got=$?
expect "sign refuses a rollout over 100" "$got" "1"

# verify says what a launcher with these keys does: install (0) or refuse (1).
# exit  keys        version file  pack
verify_cases=(
  "0    key         signed        pack"
  "0    other,key   signed        pack"
  "1    key         signed        changed-pack"
  "1    other       signed        pack"
  "1    key         expired       pack"
  "0    other       two-signed    pack"
  "1    encrypted   two-signed    pack"
)
for row in "${verify_cases[@]}"; do
  read -r expected keys version pack <<<"$row"
  key_files=$(for name in ${keys//,/ }; do printf '%s,' "$work/$name/release-public.pem"; done)
  "$release" verify --key "${key_files%,}" "$work/$version" "$work/$pack" >/dev/null && got=$? || got=$?
  expect "verify $keys $version $pack" "$got" "$expected"
done

signers=$("$release" verify --key "$work/key/release-public.pem" --key "$work/other/release-public.pem" \
  "$work/two-signed" "$work/pack" | grep -o 'SHA256:[0-9a-f]*' | tr '\n' ' ')
fingerprint() { printf 'SHA256:%s ' "$(openssl pkey -pubin -in "$work/$1/release-public.pem" -outform DER | sha256sum | cut -c1-64)"; }
expect "verify names each signer" "$signers" "$(fingerprint key)$(fingerprint other)"

windows() { printf 'Z:%s' "${1//\//\\}"; }

# key          version file   pack          1=refused  expected log line (refusals)
cases=(
  "$key        signed         pack          0     -"
  "$key        rolled         pack          0     -"
  "$key        rolled-over    pack          1     Jre check failed: unreadable release line"
  "$encrypted_key encrypted-signed pack     0     -"
  "$key        signed         changed-pack  1     Jre check failed: sha256 "
  "$key        signed         older-pack    1     Jre check failed: size 200000, version file says 300000"
  "$key        other-signed   pack          1     Jre check failed: signature does not verify"
  "$key        two-signed     pack          0     -"
  "$other_key  two-signed     pack          0     -"
  "$key,$other_key two-signed pack          0     -"
  "$encrypted_key two-signed  pack          1     Jre check failed: signature does not verify"
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
