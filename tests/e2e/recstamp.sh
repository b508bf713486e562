#!/usr/bin/env bash
# End-to-end cases of recstamp: recstamp.sh PATH-TO-RECSTAMP
source "$(dirname "$0")/lib.sh"
recstamp=$(absolute "$1")

begin "S3 image: the record goes before S7, at the last address plus the whole length"
# CR LF line ends, a blank line and a record split by a blank: tokens, not lines, are copied.
printf 'S00600004844521B\r\nS30D0000800001020304050607084E\r\n\r\nS70500008000 7A\r\n' > in.s37
run "$recstamp" R7 in.s37 out.s37
expect_status 0
expect_stdout < /dev/null
expect_file out.s37 <<'EOF'
S00600004844521B
S30D0000800001020304050607084E
S309000080085237464659
S70500008000
7A
EOF

begin "S1 image: the record before S9 is an S1 record at half the last length"
input in.s19 <<'EOF'
S00600004844521B
S1130100000102030405060708090A0B0C0D0E0F73
S9030000FC
EOF
run "$recstamp" R7 in.s19 out.s19
expect_status 0
expect_file out.s19 <<'EOF'
S00600004844521B
S1130100000102030405060708090A0B0C0D0E0F73
S107010852374646DA
S9030000FC
EOF

begin "S2 image without a termination record gets the record appended"
echo S214010000000102030405060708090A0B0C0D0E0F72 > in.s28
run "$recstamp" R7 in.s28 out.s28
expect_status 0
expect_file out.s28 <<'EOF'
S214010000000102030405060708090A0B0C0D0E0F72
S20801000852374646D9
EOF

begin "two S7 records: the second record follows the first one's count"
printf 'S31500001000000102030405060708090A0B0C0D0E0F62\nS70500000000FA\nS70500000000FA\n' > in.s37
run "$recstamp" V1.2 in.s37 out.s37
expect_status 0
expect_file out.s37 <<'EOF'
S31500001000000102030405060708090A0B0C0D0E0F62
S3090000101056312E32EF
S70500000000FA
S3090000101956312E32E6
S70500000000FA
EOF

begin "an odd length is halved downwards"
printf 'S1120000000102030405060708090A0B0C0D0E84\nS9030000FC\n' > in.s19
run "$recstamp" R7 in.s19 out.s19
expect_file out.s19 <<'EOF'
S1120000000102030405060708090A0B0C0D0E84
S107000752374646DC
S9030000FC
EOF

begin "the kind follows the termination record: S8 after S1 data gives an S2 record"
printf 'S107020000010203F0\nS804000000FB\n' > in.srec
run "$recstamp" R7 in.srec out.srec
expect_file out.srec <<'EOF'
S107020000010203F0
S20800020252374646DE
S804000000FB
EOF

begin "S1 data without a termination record gets an S2 record at the end"
echo S1090300000102030405E4 > in.s19
run "$recstamp" R7 in.s19 out.s19
expect_file out.s19 <<'EOF'
S1090300000102030405E4
S20800030352374646DC
EOF

begin "a termination record before any data puts the record at address 0"
printf 'S00600004844521B\nS70500000000FA\n' > in.s37
run "$recstamp" R7 in.s37 out.s37
expect_file out.s37 <<'EOF'
S00600004844521B
S3090000000052374646E1
S70500000000FA
EOF

begin "data after the termination record: nothing is appended; an empty version"
printf 'S70500000000FA\nS307000000400001B7\n' > in.s37
run "$recstamp" '' in.s37 out.s37
expect_file out.s37 <<'EOF'
S30500000000FA
S70500000000FA
S307000000400001B7
EOF

# A lone byte above 0x7F is no valid text on Windows' command line: this runs natively only.
if native; then
  begin "a byte above 0x7F in the version enters the record and its checksum unsigned"
  printf 'S30800000020000102D4\nS70500000000FA\n' > in.s37
  run "$recstamp" $'\xe9' in.s37 out.s37
  expect_file out.s37 <<'EOF'
S30800000020000102D4
S30900000023E946464618
S70500000000FA
EOF
fi

begin "a version of six characters is padded to eight"
printf 'S307000000400001B7\nS70500000000FA\n' > in.s37
run "$recstamp" V1.2.3 in.s37 out.s37
expect_file out.s37 <<'EOF'
S307000000400001B7
S30D0000004256312E322E334646DC
S70500000000FA
EOF

begin "no data and no termination record: copied a token a line, no record added"
printf 'S00600004844521B S5030001FB\n\n  junk\tS6\r\n' > in.srec
run "$recstamp" R7 in.srec out.srec
expect_file out.srec <<'EOF'
S00600004844521B
S5030001FB
junk
S6
EOF

begin "an empty input gives an empty output"
: > in.srec
run "$recstamp" R7 in.srec out.srec
expect_status 0
expect_file out.srec < /dev/null

begin "NUL bytes, bytes above 0x7F and a 300000-character token are copied as they stand"
{ printf 'S0\000\377\200x\r\n'; head -c 300000 /dev/zero | tr '\0' 'A'; printf '\n'; } > in.srec
{ printf 'S0\000\377\200x\n'; head -c 300000 /dev/zero | tr '\0' 'A'; printf '\n'; } | expected > want.srec
run "$recstamp" R7 in.srec out.srec
expect_status 0
expect_same out.srec want.srec

begin "a token of five megabytes is copied whole"
head -c 5000000 /dev/zero | tr '\0' 'A' > in.srec
{ head -c 5000000 /dev/zero | tr '\0' 'A'; echo; } | expected > want.srec
run "$recstamp" R7 in.srec out.srec
expect_status 0
expect_same out.srec want.srec

begin "a file of NUL bytes is one token, copied as it stands"
head -c 1000000 /dev/zero > in.srec
{ head -c 1000000 /dev/zero; echo; } | expected > want.srec
run "$recstamp" R7 in.srec out.srec
expect_status 0
expect_same out.srec want.srec

begin "records with no line ends at all, only blanks between them"
printf 'S00600004844521B S30D0000800001020304050607084E S70500008000FF' > in.s37
run "$recstamp" R7 in.s37 out.s37
expect_status 0
expect_file out.s37 <<'EOF'
S00600004844521B
S30D0000800001020304050607084E
S309000080085237464659
S70500008000FF
EOF

begin "a version of 248 characters is accepted"
printf 'S70500000000FA\n' > in.s37
run "$recstamp" "$(printf '%0248d' 0)" in.s37 out.s37
expect_status 0
[ "$(head -c 4 out.s37)" = S3FD ] || fail "count of the longest record is not FD"

begin "a version of 249 characters is refused before any file is touched"
echo old > out.s37
run "$recstamp" "$(printf '%0249d' 0)" missing.s37 out.s37
expect_status 1
expect_stdout <<'EOF'
Version string too long: 249 characters, at most 248.
EOF
[ "$(cat out.s37)" = old ] || fail "the output was touched"

begin "an S1 record address above 0xFFFF is refused and the output removed"
printf 'S31500010000000102030405060708090A0B0C0D0E0F71\nS9030000FC\n' > in.srec
run "$recstamp" R7 in.srec out.srec
expect_status 1
expect_stdout <<'EOF'
Version record address 0x10008 does not fit an S1 record.
EOF
expect_no_file out.srec

begin "an S2 record address above 0xFFFFFF at the end of the file is refused"
# Address digits that are not hex decode as -1 each: ZZZZ is -0x1111, plus half of 2.
echo S105ZZZZ00FA > in.srec
run "$recstamp" R7 in.srec out.srec
expect_status 1
expect_stdout <<'EOF'
Version record address 0xFFFFEEF0 does not fit an S2 record.
EOF
expect_no_file out.srec

for args in "" "a" "a b" "a b c d"; do
  begin "usage with the arguments '$args'"
  # shellcheck disable=SC2086
  run "$recstamp" $args
  expect_status 2
  expect_stdout <<'EOF'
Usage: recstamp [version string] [s-record file] [output s-record file]
EOF
done

begin "--help prints the usage line and succeeds"
run "$recstamp" --help
expect_status 0
expect_stdout <<'EOF'
Usage: recstamp [version string] [s-record file] [output s-record file]
EOF

begin "--version"
run "$recstamp" --version
expect_status 0
grep -qxE $'recstamp [0-9]+\\.[0-9]+\\.[0-9]+\r?' "$work/stdout" || fail "no version line"

begin "a missing input: nothing is created"
run "$recstamp" R7 missing.s19 out.s19
expect_status 1
expect_stdout <<'EOF'

Can't open the source file: missing.s19.
EOF
expect_no_file out.s19

begin "an input that is a folder cannot be opened"
mkdir folder
run "$recstamp" R7 folder out.s19
expect_status 1
expect_stdout <<'EOF'

Can't open the source file: folder.
EOF
expect_no_file out.s19

begin "an output in a missing folder cannot be opened"
echo S9030000FC > in.s19
run "$recstamp" R7 in.s19 missing/out.s19
expect_status 1
expect_stdout <<'EOF'
Can't open the output file: missing/out.s19.
EOF

for spelling in in.s19 ./in.s19 ../case/in.s19 link.s19; do
  begin "input and output the same file, spelled $spelling"
  echo S9030000FC > in.s19
  ln -s in.s19 link.s19
  run "$recstamp" R7 in.s19 "$spelling"
  expect_status 1
  expect_stdout <<EOF
Input and output are the same file: $spelling.
EOF
  [ "$(cat in.s19)" = S9030000FC ] || fail "the input was changed"
done

if native && [ -w /dev/full ]; then
  begin "a full disk is a failure"
  echo S9030000FC > in.s19
  run "$recstamp" R7 in.s19 /dev/full
  expect_status 1
  expect_stdout <<'EOF'
Can't write the output file: /dev/full.
EOF
fi

if native && [ -r /proc/self/mem ]; then
  begin "a read error is a failure, not the end of the input, and the output is removed"
  run "$recstamp" R7 /proc/self/mem out.s19
  expect_status 1
  expect_stdout <<'EOF'
Can't read the source file: /proc/self/mem.
EOF
  expect_no_file out.s19
fi

report
