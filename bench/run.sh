#!/usr/bin/env bash
# Benchmark: writes S3 images to /dev/shm (a tmpfs, so that disk writeback does not hide the
# tools' own cost) and times `cat IN > OUT`, recstamp, recstamp --crc32 and hexarray on each with
# hyperfine, in ROUNDS rounds of the four commands, each run starting from a removed output. The machine's
# speed drifts, so each round gives its own ratios to cat and the table shows their medians,
# with the median seconds, the input rate and the peak memory (/usr/bin/time). It checks the
# outputs against plain counts, times the sealing of an image with a gap of 3 GiB, and removes
# its files.
#   bench/run.sh [ROUNDS [BINDIR]]   (default 7 rounds; BINDIR: the Release build, made first)
# Needs hyperfine, time and python3 (Debian packages of those names).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
for tool in hyperfine /usr/bin/time python3; do
  command -v "$tool" > /dev/null || { echo "$tool is needed (Debian package ${tool##*/})" >&2; exit 1; }
done
cmake --workflow --preset release > /dev/null
bin=$(realpath "${2:-build/release/bin}")
generate=$PWD/build/release/bin/gen_srec
if [ -d /dev/shm ] && [ -w /dev/shm ]; then dir=$(mktemp -d /dev/shm/srecbench.XXXXXX); else dir=$(mktemp -d); fi
trap 'rm -rf "$dir"' EXIT

check() { [ "$1" = "$2" ] || { echo "CHECK FAILED: $3: $1, expected $2" >&2; exit 1; }; }

printf '%-26s %-9s %8s %7s %7s %9s\n' image command seconds "MB/s" "x cat" "peak KiB"
# Size in MB, data bytes a record, line end.
for shape in "168 32 crlf" "197 16 lf"; do
  read -r mb bytes ending <<< "$shape"
  in="$dir/image.s37"
  read -r totalData lines < <("$generate" "$mb" "$bytes" 3 "$ending" "$in")
  commands=("cat $in > $dir/out.cat" "$bin/recstamp V1.2 $in $dir/out.s37"
            "$bin/recstamp --crc32 V1.2 $in $dir/out.crc.s37" "$bin/hexarray $in $dir/out.c")
  for ((round = 0; round < rounds; ++round)); do
    hyperfine --style none --warmup 1 --runs 3 --prepare "rm -f $dir/out.*" \
      --export-json "$dir/round$round.json" "${commands[@]}" > /dev/null 2>&1
  done
  peaks=()
  for command in "${commands[@]}"; do
    peaks+=("$(/usr/bin/time -f %M sh -c "exec $command" 2>&1 > /dev/null | tail -1)")
  done
  python3 - "$dir" "$rounds" "${mb}MB S3 ${bytes}B/rec $ending" "$(stat -c %s "$in")" "${peaks[@]}" << 'EOF'
import json, statistics, sys
folder, rounds, image, size, peaks = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), sys.argv[5:]
medians = [[r["median"] for r in json.load(open(f"{folder}/round{i}.json"))["results"]] for i in range(rounds)]
for c, name in enumerate(["cat", "recstamp", "--crc32", "hexarray"]):
    seconds = statistics.median(m[c] for m in medians)
    ratio = statistics.median(m[c] / m[0] for m in medians)
    print(f"{image:26} {name:9} {seconds:8.3f} {size / seconds / 1e6:7.0f} {ratio:7.2f} {peaks[c]:>9}")
EOF

  # The outputs against plain counts: every input line and one version record before the last,
  # the input's records unchanged around it, and one "0x" for every data byte.
  check "$(wc -l < "$dir/out.s37")" $((lines + 1)) "recstamp output lines"
  check "$(wc -l < "$dir/out.crc.s37")" $((lines + 2)) "recstamp --crc32 output lines"
  cmp -s <(head -n -2 "$dir/out.s37"; tail -n 1 "$dir/out.s37") <(tr -d '\r' < "$in") ||
    { echo "CHECK FAILED: recstamp changed the input records" >&2; exit 1; }
  check "$(tr -cd x < "$dir/out.c" | wc -c)" "$totalData" "hexarray array entries"
  grep -q "Total Size = $totalData bytes" "$dir/out.c" || { echo "CHECK FAILED: hexarray total" >&2; exit 1; }
  rm -f "$dir"/out.* "$dir"/round*.json
done

# A gap costs no time: two records 3 GiB apart, sealed.
printf 'S3060000000001F8\nS306C00000000237\n' > "$dir/gap.s37"
hyperfine --style none --warmup 1 --runs 10 --export-json "$dir/gap.json" \
  "$bin/recstamp --crc32 V1.2 $dir/gap.s37 $dir/out.gap.s37" > /dev/null 2>&1
python3 -c 'import json, sys; print("3 GiB gap sealed in %.4f s (median)" % json.load(open(sys.argv[1]))["results"][0]["median"])' "$dir/gap.json"

# Peak memory where recstamp keeps the most of the data's ranges: 100,000 ranges apart from each
# other, and a million records each below the one before (refused: the version lies on data).
for shape in "5 16 gapped 100000" "47 16 descending 1000000"; do
  read -r mb bytes layout records <<< "$shape"
  read -r _ lines < <("$generate" "$mb" "$bytes" 3 lf "$in" "$layout")
  check $((lines >= records + 2)) 1 "$layout image of $records records"
  peak=$({ /usr/bin/time -f %M "$bin/recstamp" V1.2 "$in" "$dir/out.s37" > /dev/null || true; } 2>&1 | tail -1)
  printf '%-26s %-9s %8s %7s %7s %9s\n' "$((lines - 2)) records $layout" recstamp - - - "$peak"
done
