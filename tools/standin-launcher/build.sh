#!/bin/sh
# Builds res/launcher.jar (Java 8 bytecode) from the stand-in launcher's source.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../res/launcher.jar}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac --release 8 -d "$work/classes" "$here"/src/standin/*.java
printf 'Main-Class: standin.StandinLauncher\n' > "$work/manifest.txt"
jar --create --file "$out" --manifest "$work/manifest.txt" -C "$work/classes" .
echo "built $out"
