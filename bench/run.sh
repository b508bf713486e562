#!/usr/bin/env bash
# Benchmark: builds the Release tools, makes S-record images on /dev/shm (a tmpfs, so that disk
# writeback does not hide the tools' own cost), and times cat, recstamp, hexarray and, where
# installed, objcopy and srec_cat on the same files in one run. Prints a table of median wall
# seconds, input MB/s, the ratio to cat and peak resident memory, and checks that the tools'
# outputs hold every record and byte of the input.
#   bench/run.sh [RUNS]     (default 5 runs per command)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

cmake --workflow --preset release > /dev/null
bin=$PWD/build/release/bin

if [ -d /dev/shm ] && [ -w /dev/shm ]; then dir=$(mktemp -d /dev/shm/srecbench.XXXXXX); else dir=$(mktemp -d); fi
trap 'rm -rf "$dir"' EXIT

# Images: size in MB, data bytes a record, line end. The first is the main one, on which the
# general peers are timed too; the 16 MB one shows that memory does not grow with the input.
images=("160 32 crlf" "160 16 crlf" "160 32 lf" "16 32 crlf")

printf '%-28s %-10s %9s %9s %8s %9s\n' image command seconds "MB/s" "x cat" "peak KiB"
row() { # image command seconds kib input-bytes cat-seconds
  awk -v i="$1" -v c="$2" -v s="$3" -v k="$4" -v b="$5" -v cat="$6" 'BEGIN {
    printf "%-28s %-10s %9.3f %9.0f %8.2f %9d\n", i, c, s, b / s / 1e6, s / cat, k }'
}

check() { [ "$1" = "$2" ] || { echo "CHECK FAILED: $3: $1, expected $2" >&2; exit 1; }; }

first=1
for shape in "${images[@]}"; do
  read -r mb bytes ending <<< "$shape"
  name="${mb}MB S3 ${bytes}B/rec $ending"
  in="$dir/image.s37"
  read -r totalData lines < <("$bin/gen_srec" "$mb" "$bytes" 3 "$ending" "$in")
  size=$(stat -c %s "$in")

  read -r catSeconds catKiB < <("$bin/timeit" "$runs" --stdout "$dir/out.cat" -- cat "$in")
  row "$name" cat "$catSeconds" "$catKiB" "$size" "$catSeconds"
  read -r s k < <("$bin/timeit" "$runs" -- "$bin/recstamp" V1.2 "$in" "$dir/out.s37")
  row "$name" recstamp "$s" "$k" "$size" "$catSeconds"
  read -r s k < <("$bin/timeit" "$runs" -- "$bin/hexarray" "$in" "$dir/out.c")
  row "$name" hexarray "$s" "$k" "$size" "$catSeconds"

  # The outputs against straightforward counts: every input line plus one version record, the
  # input's records unchanged around it, and one "0x" for every data byte.
  check "$(wc -l < "$dir/out.s37")" $((lines + 1)) "recstamp output lines"
  cmp -s <(head -n -2 "$dir/out.s37"; tail -n 1 "$dir/out.s37") <(tr -d '\r' < "$in") ||
    { echo "CHECK FAILED: recstamp changed the input records" >&2; exit 1; }
  check "$(tr -cd x < "$dir/out.c" | wc -c)" "$totalData" "hexarray array entries"
  grep -q "Total Size = $totalData bytes" "$dir/out.c" || { echo "CHECK FAILED: hexarray total" >&2; exit 1; }

  if [ "$first" = 1 ]; then
    if command -v objcopy > /dev/null; then
      read -r s k < <("$bin/timeit" "$runs" -- objcopy -I srec -O srec "$in" "$dir/out.objcopy")
      row "$name" objcopy "$s" "$k" "$size" "$catSeconds"
    fi
    if command -v srec_cat > /dev/null; then
      read -r s k < <("$bin/timeit" "$runs" -- srec_cat "$in" -Motorola -o "$dir/out.srec_cat.c" -C-Array image)
      row "$name" srec_cat "$s" "$k" "$size" "$catSeconds"
    fi
    first=0
  fi
  rm -f "$dir"/out.*
done
