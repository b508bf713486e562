#!/usr/bin/env python3
"""The tools on images made by objcopy. Read back by objcopy (which checks every checksum), an S3
image stamped, or an S1 or S2 one stamped --byte-addressed, is the image with V1.2 right after
it; stamped word-addressed, it holds V1.2 within. The C array of an image, compiled and run,
holds exactly the bytes that objcopy reads from it.   usage: images.py [--wine] BINDIR PROGRAM.c
"""
import os, shutil, subprocess, sys, tempfile

wine = "--wine" in sys.argv
bindir, program = [os.path.abspath(a) for a in sys.argv[1:] if a != "--wine"]
failures = []


def tool(*args):
    command = (["wine"] if wine else []) + [os.path.join(bindir, args[0] + ".exe" * wine), *args[1:]]
    result = subprocess.run(command, capture_output=True)
    if result.returncode != 0 or result.stdout:
        failures.append(f"{' '.join(args)}: status {result.returncode}, {result.stdout!r}")


def binary(srec):
    subprocess.run(["objcopy", "-I", "srec", "-O", "binary", srec, "image.bin"], check=True)
    return open("image.bin", "rb").read()


def main():
    if not (shutil.which("objcopy") and shutil.which("cc")):
        print("SKIP: real images: objcopy and cc are needed (Debian packages binutils, gcc)")
        return 77
    os.chdir(tempfile.mkdtemp())
    open("blob", "wb").write(bytes(i * 13 % 256 for i in range(5000)))
    subprocess.run(["cc", "-O1", "-c", program, "-o", "program.o"], check=True)
    true = os.path.realpath(shutil.which("true"))
    open("dump.c", "w").write('#include <stdio.h>\n#include "image.c"\nint main(void) {\n'
                              '  return fwrite(image_C, 1, sizeof image_C, stdout) != sizeof image_C;\n}\n')
    # What objcopy makes each image of; an array only of one section, whose bytes are contiguous.
    for name, args, array in [("S1 at 0x100", ["-I", "binary", "--change-addresses", "0x100", "blob"], True),
                              ("S2 at 0x20000", ["-I", "binary", "--change-addresses", "0x20000", "blob"], True),
                              ("S1 of 1 byte a record", ["-I", "binary", "--srec-len", "1", "blob"], True),
                              (".data of an object as S3 of 7 bytes a record",
                               ["-j", ".data", "--srec-forceS3", "--srec-len", "7", "program.o"], True),
                              (true + " as S3 of 250 bytes a record", ["--srec-forceS3", "--srec-len", "250", true], False),
                              (".text of " + true, ["-j", ".text", true], True)]:
        subprocess.run(["objcopy", "-O", "srec", *args, "image.srec"], check=True)
        original = binary("image.srec")
        s3 = "\nS3" in open("image.srec").read()
        for flags in [[]] + [["--byte-addressed"]] * (not s3):
            tool("recstamp", *flags, "V1.2", "image.srec", "stamped.srec")
            stamped = binary("stamped.srec")
            if (stamped != original + b"V1.2") if s3 or flags else b"V1.2" not in stamped:
                failures.append(f"{name} {' '.join(flags)}: V1.2 is not where it belongs")
        if array:
            tool("hexarray", "image.srec", "image.c")
            subprocess.run(["cc", "-std=c99", "-Wall", "-Wextra", "-Werror", "-o", "dump", "dump.c"], check=True)
            dump = subprocess.run(["./dump"], capture_output=True, check=True).stdout
            if dump != original or f"Total Size = {len(dump)} bytes".encode() not in open("image.c", "rb").read():
                failures.append(f"{name}: the array is not the image")
    print("".join(f"FAIL: {failure}\n" for failure in failures) + f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
