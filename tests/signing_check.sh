#!/usr/bin/env bash
# Signs a copy of the built program with a throwaway certificate through the build's signing step
# and checks the signature: tests/signing_check.sh SOURCE_DIR EXE JAR
# JAR is the embedded launcher archive: it must lie inside the image's sections, which the
# signature covers, not in bytes appended to the file.
set -euo pipefail
source_dir=$1
exe=$2
jar=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'test-password\n' >"$work/password"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=tarvolin test signing" -days 2 \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout "file:$work/password" \
    -out "$work/test.pfx"
cp "$exe" "$work/DesktopLauncher.exe"
bash "$source_dir/scripts/sign-launcher.sh" "$work/DesktopLauncher.exe" "$work/test.pfx" "$work/password"
if ! osslsigncode verify -CAfile "$work/cert.pem" -in "$work/DesktopLauncher.exe" >"$work/verify.txt" 2>&1; then
  cat "$work/verify.txt"
  exit 1
fi
grep -E "^(Signature verification|Succeeded)" "$work/verify.txt"
/usr/bin/python3 - "$work/DesktopLauncher.exe" "$jar" <<'PY'
import struct, sys
image = open(sys.argv[1], "rb").read()
jar = open(sys.argv[2], "rb").read()
header = struct.unpack_from("<I", image, 0x3C)[0]
sections = struct.unpack_from("<H", image, header + 6)[0]
table = header + 24 + struct.unpack_from("<H", image, header + 20)[0]
spans = [(struct.unpack_from("<I", image, table + 40 * i + 20)[0], struct.unpack_from("<I", image, table + 40 * i + 16)[0])
         for i in range(sections)]
at = image.find(jar)
if at < 0 or not any(start <= at and at + len(jar) <= start + size for start, size in spans):
    sys.exit(f"the embedded launcher archive is not inside a section of the signed image (offset {at})")
print(f"embedded launcher archive inside the image at offset {at}")
PY
