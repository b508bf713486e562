#!/usr/bin/env python3
"""Images made by objcopy, stamped, read back by objcopy (which checks every checksum): each counts
bytes, so V1.2 comes right after its data. Their C arrays, compiled and run, hold exactly the
bytes objcopy reads.   usage: images.py [--wine] BINDIR"""
import os, shutil, subprocess, sys, tempfile

wine = "--wine" in sys.argv
bindir = os.path.abspath(sys.argv[-1])


def run(*command):
    return subprocess.run(command, capture_output=True, check=True).stdout


def main():
    if not (shutil.which("objcopy") and shutil.which("cc")):
        print("SKIP: real images: objcopy and cc are needed (Debian packages binutils, gcc)")
        return 77
    os.chdir(tempfile.mkdtemp())
    tool = lambda name: ["wine"] * wine + [os.path.join(bindir, name + ".exe" * wine)]
    binary = lambda srec: run("objcopy", "-I", "srec", "-O", "binary", srec, "image.bin") + open("image.bin", "rb").read()
    open("blob", "wb").write(bytes(i * 13 % 256 for i in range(5000)))
    open("dump.c", "w").write('#include <stdio.h>\n#include "image.c"\n'
                              "int main(void) { return !fwrite(image_C, sizeof image_C, 1, stdout); }\n")
    true, failures = os.path.realpath(shutil.which("true")), []
    # What objcopy makes each image of; an array only of one section, whose bytes are contiguous.
    for name, args, array in [("S1 at 0x100", ["-I", "binary", "--change-addresses", "0x100", "blob"], True),
                              ("S2 at 0x20000", ["-I", "binary", "--change-addresses", "0x20000", "blob"], True),
                              ("S1 of 2 bytes a record", ["-I", "binary", "--srec-len", "2", "blob"], True),
                              ("S2 of 3 bytes a record", ["-I", "binary", "--change-addresses", "0x20000", "--srec-len", "3", "blob"], False),
                              (".rodata of " + true + " as S3 of 7 bytes a record",
                               ["-j", ".rodata", "--srec-forceS3", "--srec-len", "7", true], True),
                              (true + " as S3 of 250 bytes a record", ["--srec-forceS3", "--srec-len", "250", true], False),
                              (".text of " + true, ["-j", ".text", true], True)]:
        run("objcopy", "-O", "srec", *args, "image.srec")
        original = binary("image.srec")
        run(*tool("recstamp"), "V1.2", "image.srec", "stamped.srec")
        if binary("stamped.srec") != original + b"V1.2":
            failures.append(f"{name}: V1.2 is not right after the image")
        if array:
            run(*tool("hexarray"), "image.srec", "image.c")
            run("cc", "-std=c99", "-Wall", "-Wextra", "-Werror", "-o", "dump", "dump.c")
            dump = run("./dump")
            if dump != original or f"Total Size = {len(dump)} bytes".encode() not in open("image.c", "rb").read():
                failures.append(f"{name}: the array is not the image")
    print("".join(f"FAIL: {failure}\n" for failure in failures) + f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
