#!/usr/bin/env bash
# Signs a built program with the operator's code-signing certificate (Authenticode, SHA-256):
#   scripts/sign-launcher.sh EXE PFX PASSWORD_FILE [TIMESTAMP_URL]
# The program carries its payloads in its own sections and resources, so the signature covers
# them; nothing may be appended to the file after signing. The file is replaced only when signing
# succeeded. A timestamp URL keeps the signature valid after the certificate expires.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: sign-launcher.sh EXE PFX PASSWORD_FILE [TIMESTAMP_URL]" >&2
  exit 2
fi
exe=$1
pfx=$2
password_file=$3
timestamp=${4:-}
signed="$exe.signing"
trap 'rm -f "$signed"' EXIT
args=(sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 -n "tarvolin Launcher" -in "$exe" -out "$signed")
if [ -n "$timestamp" ]; then
  args+=(-t "$timestamp")
fi
osslsigncode "${args[@]}" >/dev/null
mv "$signed" "$exe"
echo "signed $exe"
