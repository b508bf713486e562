#!/usr/bin/env bash
# Builds both tools (unless given the folder of installed ones) and runs them on the bundled
# example image, printing what they write (the files stay in build/example):
#   examples/run.sh [BINDIR]
set -eu
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then
  bin=$1
else
  echo "Building the tools: cmake --workflow --preset release (a minute the first time)..."
  cmake --workflow --preset release > build-example.log 2>&1 || { cat build-example.log; exit 1; }
  rm -f build-example.log
  bin=build/release/bin
fi
out=build/example
mkdir -p "$out"

# blinky.s19 counts its addresses in bytes, as its records show: the version goes right after it.
echo "$ recstamp V1.2 examples/blinky.s19 blinky-v1.2.s19"
"$bin/recstamp" V1.2 examples/blinky.s19 "$out/blinky-v1.2.s19"
cat "$out/blinky-v1.2.s19"
echo
echo "$ hexarray blinky-v1.2.s19 blinky.c"
"$bin/hexarray" "$out/blinky-v1.2.s19" "$out/blinky.c"
cat "$out/blinky.c"
