#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing for those already there.
set -euo pipefail
packages=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64 xvfb xdotool
          x11-apps imagemagick python3-pytest iproute2 openssl ca-certificates curl clang
          libclang-rt-14-dev default-jdk-headless tinyproxy procps python3-cryptography osslsigncode)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
