#!/usr/bin/env bash
# hexarray's C source compiled and run: its array must hold exactly the bytes that objcopy reads
# from the same image. hexarray_compile.sh PATH-TO-HEXARRAY
source "$(dirname "$0")/lib.sh"
hexarray=$(absolute "$1")

for tool in objcopy cc; do
  if ! command -v "$tool" > /dev/null; then
    echo "SKIP: $tool is not installed (Debian packages binutils, gcc); generated C not checked"
    exit 77
  fi
done

# A 5000-byte image with every byte value.
image="$work/image.bin"
for ((i = 0; i < 5000; i++)); do printf "\\$(printf '%03o' $((i * 13 % 256)))"; done > "$image"

# expect_array NAME: hexarray's array of image.srec, compiled and run, holds exactly the bytes
# that objcopy reads from image.srec, and its footer counts them.
expect_array() {
  objcopy -I srec -O binary image.srec reference.bin || fail "objcopy could not read back"
  run "$hexarray" image.srec image.c
  expect_status 0
  expect_stdout < /dev/null
  cat > dump.c <<'EOF'
#include <stdio.h>
#include "image.c"
int main(void) {
  fprintf(stderr, "%u\n", (unsigned)sizeof image_C);
  return fwrite(image_C, 1, sizeof image_C, stdout) != sizeof image_C;
}
EOF
  cc -std=c99 -Wall -Wextra -Werror -o dump dump.c 2> cc.log || fail "$1: does not compile: $(head -3 cc.log)"
  ./dump > array.bin 2> size.txt || fail "$1: the program failed"
  expect_same array.bin reference.bin
  grep -q "Total Size = $(cat size.txt) bytes" image.c || fail "$1: the total is not the array's size"
}

for form in "S1 --change-addresses 0x100" "S2 --change-addresses 0x20000" \
  "S3 --srec-forceS3 --srec-len 64" "S1-short --srec-len 1"; do
  set -- $form
  begin "the array of a binary as $1 compiles and holds the image's bytes"
  name=$1
  shift
  objcopy -I binary -O srec "$@" "$image" image.srec || fail "objcopy could not convert"
  expect_array "$name"
done

# Sections of ELF files, each one contiguous: a compiled object's and the machine's own.
cc -O1 -c "$e2e_dir/program.c" -o "$work/program.o"
executable=$(readlink -f "$(type -P true)")
for form in "$work/program.o .text 7" "$work/program.o .data 250" "$executable .text 32" \
  "$executable .rodata 16"; do
  set -- $form
  begin "the array of the $2 section of $(basename "$1"), records of $3 bytes"
  objcopy -O srec --srec-forceS3 --srec-len "$3" -j "$2" "$1" image.srec || fail "objcopy could not convert"
  expect_array "$2"
done

report
