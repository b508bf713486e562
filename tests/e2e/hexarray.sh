#!/usr/bin/env bash
# End-to-end cases of hexarray: hexarray.sh PATH-TO-HEXARRAY
source "$(dirname "$0")/lib.sh"
hexarray=$(absolute "$1")

begin "contiguous records: one array line a record, the total in the footer"
input boot.s19 <<'EOF'
S00600004844521B
S107000001020304EE
S10500040506EB
S9030000FC
EOF
run "$hexarray" boot.s19 boot.c
expect_status 0
expect_stdout < /dev/null
expect_file boot.c <<'EOF'

const unsigned char boot_C[] = 
{
	  0x01, 0x02, 0x03, 0x04
	, 0x05, 0x06
	
}; /* Total Size = 6 bytes */

EOF
cp boot.c "$work/contiguous.c"

begin "a gap is reported and the array written as if there were none"
printf 'S00600004844521B\r\nS107000001020304EE\r\nS10500060506EB\r\nS9030000FC\r\n' > gap.s19
run "$hexarray" gap.s19 ./boot.c
expect_status 0
expect_stdout <<'EOF'
S-record has gaps: sAddr=0x6, lastAddr=0x0, lastLen=0x4
EOF
expect_same boot.c "$work/contiguous.c"

begin "no data record: header, nothing, footer"
printf 'S00600004844521B\nS9030000FC\n' > none.s19
run "$hexarray" none.s19 my-image.c
expect_status 0
expect_file my-image.c <<'EOF'

const unsigned char my_image_C[] = 
{
	  
}; /* Total Size = 0 bytes */

EOF

begin "an empty first record: a bare tab, then the first byte without separator"
# Records before the first written byte are exempt from the gap check.
printf 'S1030100FB\nS10700000102AbcdEE\n' > empty.s19
run "$hexarray" empty.s19 empty.c
expect_status 0
expect_stdout < /dev/null
expect_file empty.c <<'EOF'

const unsigned char empty_C[] = 
{
	  
	0x01, 0x02, 0xAb, 0xcd
	
}; /* Total Size = 4 bytes */

EOF

begin "the count announces the length the next record is tested against"
printf 'S10A0000AABB00\nS1050002CCDD00\n' > count.s19
run "$hexarray" count.s19 count.c
expect_status 0
expect_stdout <<'EOF'
S-record has gaps: sAddr=0x2, lastAddr=0x0, lastLen=0x7
EOF
expect_file count.c <<'EOF'

const unsigned char count_C[] = 
{
	  0xAA, 0xBB
	, 0xCC, 0xDD
	
}; /* Total Size = 4 bytes */

EOF

begin "S2 and S3 data, an odd data length, overlaps and descents, records in between"
# The odd record's last pair takes the checksum's first character; S0/S5/S7 change nothing.
input mixed.srec <<'EOF'
S2060100000102F6
S0030000FC
S309000101020304050AE
S5030001FB
S306000101010099
S30600000FFFFFEE
S70500000000FA
EOF
run "$hexarray" mixed.srec mixed.c
expect_status 0
expect_stdout <<'EOF'
S-record has gaps: sAddr=0x10102, lastAddr=0x10000, lastLen=0x2
S-record has gaps: sAddr=0x10101, lastAddr=0x10102, lastLen=0x4
S-record has gaps: sAddr=0xfff, lastAddr=0x10101, lastLen=0x1
EOF
expect_file mixed.c <<'EOF'

const unsigned char mixed_C[] = 
{
	  0x01, 0x02
	, 0x03, 0x04, 0x05, 0x0A
	, 0x00
	, 0xFF
	
}; /* Total Size = 8 bytes */

EOF

begin "a character that is not a hex digit is never copied into the source"
printf 'S107000001020304EE\nS0030000FC\n\nS10500040}06EB\n' > bad.s19
run "$hexarray" bad.s19 bad.c
expect_status 1
expect_stdout <<'EOF'
Bad hex digit in data record at line 4.
EOF
expect_no_file bad.c

begin "bad digits in the count and address decode as -1 and are not refused"
printf 'S1zz00000102EE\n' > addr.s19
run "$hexarray" addr.s19 addr.c
expect_status 0
expect_file addr.c <<'EOF'

const unsigned char addr_C[] = 
{
	  0x01, 0x02
	
}; /* Total Size = 2 bytes */

EOF

begin "a record of two million data bytes, a token of four megabytes"
{ printf 'S3FF00000000'; head -c 4000000 /dev/zero | tr '\0' 'e'; printf 'C0\n'; } > long.s37
run "$hexarray" long.s37 long.c
expect_status 0
[ "$(grep -o 0xee long.c | wc -l)" = 2000000 ] || fail "not 2000000 bytes in the array"
grep -q 'Total Size = 2000000 bytes' long.c || fail "wrong total"

begin "a file of NUL bytes holds no data record"
# Not nul.c: on Windows NUL names the null device, whatever the extension.
head -c 1000000 /dev/zero > zeros.srec
run "$hexarray" zeros.srec zeros.c
expect_status 0
expect_stdout < /dev/null
expect_file zeros.c <<'EOF'

const unsigned char zeros_C[] = 
{
	  
}; /* Total Size = 0 bytes */

EOF

begin "records with no line ends at all, only blanks between them"
printf 'S107000001020304EE S10500040506EB\tS9030000FC' > flat.s19
run "$hexarray" flat.s19 flat.c
expect_status 0
expect_file flat.c <<'EOF'

const unsigned char flat_C[] = 
{
	  0x01, 0x02, 0x03, 0x04
	, 0x05, 0x06
	
}; /* Total Size = 6 bytes */

EOF

for args in "" "a" "a b c"; do
  begin "usage with the arguments '$args'"
  # shellcheck disable=SC2086
  run "$hexarray" $args
  expect_status 2
  expect_stdout <<'EOF'
Usage: hexarray.exe [s-record file] [output C source file]
EOF
done

begin "-h prints the usage line and succeeds"
run "$hexarray" -h
expect_status 0
expect_stdout <<'EOF'
Usage: hexarray.exe [s-record file] [output C source file]
EOF

begin "--version"
run "$hexarray" --version
expect_status 0
grep -qxE $'hexarray [0-9]+\\.[0-9]+\\.[0-9]+\r?' "$work/stdout" || fail "no version line"

begin "a missing input: nothing is created"
run "$hexarray" missing.s19 out.c
expect_status 1
expect_stdout <<'EOF'

Can't open the source file: missing.s19.
EOF
expect_no_file out.c

begin "an output in a missing folder cannot be opened"
echo S9030000FC > in.s19
run "$hexarray" in.s19 missing/out.c
expect_status 1
expect_stdout <<'EOF'
Can't open the output file: missing/out.c.
EOF

begin "input and output the same file through a link"
echo S9030000FC > in.s19
ln -s in.s19 link.c
run "$hexarray" in.s19 link.c
expect_status 1
expect_stdout <<'EOF'
Input and output are the same file: link.c.
EOF
[ "$(cat in.s19)" = S9030000FC ] || fail "the input was changed"

if native && [ -w /dev/full ]; then
  begin "a full disk is a failure"
  echo S9030000FC > in.s19
  run "$hexarray" in.s19 /dev/full
  expect_status 1
  expect_stdout <<'EOF'
Can't write the output file: /dev/full.
EOF
fi

if native && [ -r /proc/self/mem ]; then
  begin "a read error is a failure and the output is removed"
  run "$hexarray" /proc/self/mem out.c
  expect_status 1
  expect_stdout <<'EOF'
Can't read the source file: /proc/self/mem.
EOF
  expect_no_file out.c
fi

report
