#!/usr/bin/env bash
# Builds both tools and runs them on the bundled example image, printing what they write.
set -eu
cd "$(dirname "$0")/.."
cmake --workflow --preset release > /dev/null
out=build/example
mkdir -p "$out"
bin=build/release/bin

echo "$ recstamp V1.2 examples/blinky.s19 $out/blinky-v1.2.s19"
"$bin/recstamp" V1.2 examples/blinky.s19 "$out/blinky-v1.2.s19"
cat "$out/blinky-v1.2.s19"
echo
echo "$ hexarray examples/blinky.s19 $out/blinky.c"
"$bin/hexarray" examples/blinky.s19 "$out/blinky.c"
cat "$out/blinky.c"
