#!/usr/bin/env python3
"""The tools on real images made by objcopy. A stamped image, read back by objcopy (which checks
every checksum), is the original with V1.2 where the rule puts it; the C array of an image,
compiled and run, holds exactly the bytes that objcopy reads from the image.

usage: images.py [--wine] BINDIR PROGRAM.c
"""
import os
import shutil
import subprocess
import sys
import tempfile

wine = "--wine" in sys.argv
bindir, program = [os.path.abspath(a) for a in sys.argv[1:] if a != "--wine"]
failures = []


def tool(name, *args):
    command = (["wine"] if wine else []) + [os.path.join(bindir, name + (".exe" if wine else ""))]
    result = subprocess.run(command + list(args), capture_output=True)
    if result.returncode != 0 or result.stdout:
        failures.append(f"{name} {' '.join(args)}: status {result.returncode}, {result.stdout!r}")


def binary(srec):
    subprocess.run(["objcopy", "-I", "srec", "-O", "binary", srec, "image.bin"], check=True)
    return open("image.bin", "rb").read()


def check_stamp(case, srec, byte_addressed):
    """The rule, from the records themselves: V1.2 at the last data record's address plus its
    length, or half of it for S8, S9 and word-addressed images."""
    tool("recstamp", *(["--byte-addressed"] if byte_addressed else []), "V1.2", srec, "stamped.srec")
    records = [line.strip() for line in open(srec) if line[1] in "123"]
    digits = 2 * int(records[-1][1]) + 2
    first, last = (int(r[4 : 4 + digits], 16) for r in (records[0], records[-1]))
    length = int(records[-1][2:4], 16) - digits // 2 - 1
    whole = byte_addressed or any(line.startswith("S7") for line in open(srec))
    at = last + (length if whole else length // 2) - first
    original = binary(srec)
    want = original[:at] + b"V1.2" + original[at + 4 :]
    if binary("stamped.srec") != want:
        failures.append(f"{case}: V1.2 is not at 0x{at + first:x}")


def check_array(case, srec):
    tool("hexarray", srec, "image.c")
    with open("dump.c", "w") as dump:
        dump.write('#include <stdio.h>\n#include "image.c"\nint main(void) {\n'
                   '  return fwrite(image_C, 1, sizeof image_C, stdout) != sizeof image_C;\n}\n')
    subprocess.run(["cc", "-std=c99", "-Wall", "-Wextra", "-Werror", "-o", "dump", "dump.c"], check=True)
    array = subprocess.run(["./dump"], capture_output=True, check=True).stdout
    if array != binary(srec) or f"Total Size = {len(array)} bytes".encode() not in open("image.c", "rb").read():
        failures.append(f"{case}: the array is not the image")


def main():
    if not (shutil.which("objcopy") and shutil.which("cc")):
        print("SKIP: real images: objcopy and cc are needed (Debian packages binutils, gcc)")
        return 77
    os.chdir(tempfile.mkdtemp())
    open("blob", "wb").write(bytes(i * 13 % 256 for i in range(5000)))
    subprocess.run(["cc", "-O1", "-c", program, "-o", "program.o"], check=True)
    executable = os.path.realpath(shutil.which("true"))
    # What each image is made of, and whether it is stamped (both ways for S1 and S2) or made an
    # array; an array only of one section, whose bytes are contiguous.
    images = [("blob at 0x100 as S1", ["-I", "binary", "--change-addresses", "0x100", "blob"], "sa"),
              ("blob at 0x20000 as S2", ["-I", "binary", "--change-addresses", "0x20000", "blob"], "sa"),
              ("blob as S3", ["-I", "binary", "--srec-forceS3", "blob"], "sa"),
              ("blob as S1 of 1 byte a record", ["-I", "binary", "--srec-len", "1", "blob"], "sa"),
              ("object as S3 of 20 bytes a record", ["--srec-forceS3", "--srec-len", "20", "program.o"], "s"),
              ("object as S3 of 250 bytes a record", ["--srec-forceS3", "--srec-len", "250", "program.o"], "s"),
              (".data of the object", ["-j", ".data", "--srec-len", "7", "program.o"], "a"),
              (executable, [executable], "s"),
              (executable + " as S3", ["--srec-forceS3", "--srec-len", "64", executable], "s"),
              (".text of " + executable, ["-j", ".text", "--srec-forceS3", executable], "a"),
              (".rodata of " + executable, ["-j", ".rodata", "--srec-len", "16", executable], "a")]
    for case, args, checks in images:
        subprocess.run(["objcopy", "-O", "srec"] + args + ["image.srec"], check=True)
        if "s" in checks:
            check_stamp(case, "image.srec", False)
            if not open("image.srec").read().count("\nS3"):
                check_stamp(case + ", byte-addressed", "image.srec", True)
        if "a" in checks:
            check_array(case, "image.srec")
    for failure in failures:
        print("FAIL: " + failure)
    print(f"{len(images)} images, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
