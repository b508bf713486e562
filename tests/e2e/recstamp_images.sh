#!/usr/bin/env bash
# recstamp on images made by objcopy, read back by objcopy, which verifies every checksum:
# recstamp_images.sh PATH-TO-RECSTAMP
source "$(dirname "$0")/lib.sh"
recstamp=$(absolute "$1")

if ! command -v objcopy > /dev/null; then
  echo "SKIP: objcopy is not installed (Debian package binutils); real images not checked"
  exit 77
fi

# A 1000-byte image with every byte value: 62 records of 16 bytes and a last one of 8.
image="$work/image.bin"
for ((i = 0; i < 1000; i++)); do printf "\\$(printf '%03o' $((i * 7 % 256)))"; done > "$image"

# expect_stamped SREC KIND: stamps SREC with V1.2 and reads both files back with objcopy. The
# stamped image must be the original with V1.2 written where the rule puts it: after the last
# data record's address plus its length (S7), or plus half of it (S8, S9), with a version
# record of KIND.
expect_stamped() {
  local srec=$1 kind=$2
  run "$recstamp" V1.2 "$srec" stamped.srec
  expect_status 0
  grep -q "^S$kind" <(grep -B1 '^S[789]' stamped.srec | head -1) || fail "no S$kind record before the end"
  objcopy -I srec -O binary "$srec" original.bin || fail "objcopy cannot read the original"
  objcopy -I srec -O binary stamped.srec stamped.bin 2> objcopy.log ||
    fail "objcopy rejects the stamped file: $(head -1 objcopy.log)"

  # The rule, spelled out once more from the records themselves.
  local first last terminator digits count address base at
  first=$(grep -m1 '^S[123]' "$srec" | tr -d '\r')
  last=$(grep '^S[123]' "$srec" | tail -1 | tr -d '\r')
  terminator=$(grep -m1 '^S[789]' "$srec")
  digits=$((2 * (${last:1:1} + 1)))
  count=$((16#${last:2:2} - ${last:1:1} - 2))
  address=$((16#${last:4:digits}))
  base=$((16#${first:4:digits}))
  if [ "${terminator:1:1}" = 7 ]; then at=$((address + count)); else at=$((address + count / 2)); fi
  { head -c $((at - base)) original.bin; printf 'V1.2'; tail -c +$((at - base + 5)) original.bin; } > want.bin
  expect_same stamped.bin want.bin
}

begin "a binary at 0x100 as S1: the version goes before S9 at half the last length"
objcopy -I binary -O srec --change-addresses 0x100 "$image" image.srec
grep -q '^S9' image.srec || fail "objcopy did not write an S1 image"
expect_stamped image.srec 1

begin "a binary at 0x10000 as S2: the version goes before S8 at half the last length"
objcopy -I binary -O srec --change-addresses 0x10000 "$image" image.srec
grep -q '^S8' image.srec || fail "objcopy did not write an S2 image"
expect_stamped image.srec 2

begin "a binary at 0x100 as S3: the version goes before S7, right after the image"
objcopy -I binary -O srec --change-addresses 0x100 --srec-forceS3 "$image" image.srec
grep -q '^S7' image.srec || fail "objcopy did not write an S3 image"
expect_stamped image.srec 3

if command -v cc > /dev/null; then
  cc -O1 -c "$e2e_dir/program.c" -o "$work/program.o"
  for len in 1 20 64 250; do
    begin "a compiled object as S3 records of $len bytes"
    objcopy -O srec --srec-forceS3 --srec-len "$len" "$work/program.o" image.srec
    expect_stamped image.srec 3
  done
else
  echo "note: no C compiler (Debian package gcc); compiled objects not checked"
fi

# An executable of the machine's own, with its sections and the gaps between them.
executable=$(readlink -f "$(type -P true)")
if head -c 4 "$executable" | grep -q ELF; then
  for form in "" "--srec-forceS3 --srec-len 64"; do
    begin "the machine's $executable ${form:-as objcopy writes it}"
    # shellcheck disable=SC2086
    objcopy -O srec $form "$executable" image.srec
    kind=$(grep -m1 '^S[789]' image.srec | cut -c2)
    expect_stamped image.srec $((10 - kind))
  done
fi

report
