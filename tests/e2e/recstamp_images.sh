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

# stamped NAME OBJCOPY-ARGS...: converts the image, stamps it with V1.2 and reads it back.
stamped() {
  local name=$1
  shift
  objcopy -I binary -O srec "$@" "$image" "$name.srec" || fail "objcopy could not convert"
  run "$recstamp" V1.2 "$name.srec" "$name.stamped"
  expect_status 0
  objcopy -I srec -O binary "$name.stamped" "$name.bin" 2> objcopy.log ||
    fail "objcopy rejects the stamped file: $(head -1 objcopy.log)"
}

# expect_version_at OFFSET BIN: BIN is the image with V1.2 written over it at OFFSET.
expect_version_at() {
  { head -c "$1" "$image"; printf 'V1.2'; tail -c +$(($1 + 5)) "$image"; } > want.bin
  expect_same "$2" want.bin
}

begin "S1 image at 0x100: the version goes before S9, at offset 0x3E0 + 8 / 2"
stamped s1 --change-addresses 0x100
grep -q '^S9' s1.srec || fail "objcopy did not write an S1 image"
grep -q '^S107' s1.stamped || fail "no S1 version record"
expect_version_at $((0x3E4)) s1.bin

begin "S2 image at 0x10000: the version goes before S8, at offset 0x3E0 + 8 / 2"
stamped s2 --change-addresses 0x10000
grep -q '^S8' s2.srec || fail "objcopy did not write an S2 image"
grep -q '^S208' s2.stamped || fail "no S2 version record"
expect_version_at $((0x3E4)) s2.bin

begin "S3 image at 0x100: the version goes before S7, at offset 0x3E0 + 8, right after the image"
stamped s3 --change-addresses 0x100 --srec-forceS3
grep -q '^S7' s3.srec || fail "objcopy did not write an S3 image"
expect_version_at 1000 s3.bin

report
