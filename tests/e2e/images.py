#!/usr/bin/env python3
"""Images made by objcopy, stamped, read back by objcopy (which checks every checksum): each counts bytes, so V1.2 comes
right after its data; sealed by each CRC, once or after each of several termination records, each CRC the one Python's
zlib or a bitwise MPEG-2 model gives of the image up to it. Their C arrays, address-true with a header, compiled as C and C++ and run, hold exactly the bytes
objcopy reads with gaps filled; without options, where there are no gaps, the same text but for the header's #include.
Then what the user hears of images where the version can't simply follow the data: one record of odd length, two sections
of one record, records out of order, data after the termination record, --at on either edge of the data, a word image.
usage: images.py [--wine] BINDIR"""
import atexit, os, shutil, subprocess, sys, tempfile, zlib

wine = "--wine" in sys.argv
bindir = os.path.abspath(sys.argv[-1])


def run(*command):
    return subprocess.run(command, capture_output=True, check=True).stdout


def mpeg2(data):
    """CRC-32/MPEG-2 one bit at a time, of the data read as little-endian 32-bit words."""
    crc = 0xFFFFFFFF
    for i in range(0, len(data), 4):
        crc ^= int.from_bytes(data[i:i + 4], "little")
        for _ in range(32):
            crc = (crc << 1 ^ 0x04C11DB7 if crc >> 31 else crc << 1) & 0xFFFFFFFF
    return crc


def sealed(tool, name, records, binary):
    """What is wrong with the image sealed by each CRC option; the CRCs follow the version records."""
    failures = []
    start = min(int(line[4:6 + 2 * int(line[1])], 16) for line in records if line[1] in "123")
    for option, crc, order in [("--crc32", zlib.crc32, "little"), ("--crc32-be", zlib.crc32, "big"), ("--crc32-mpeg2", mpeg2, "little")]:
        result = subprocess.run(tool("recstamp") + [option, "V1.2", "image.srec", "sealed.srec"], capture_output=True)
        if option == "--crc32-mpeg2" and start % 4 != 0:
            if result.stdout.replace(b"\r", b"") != b"The image must start at a multiple of 4 for --crc32-mpeg2.\n" or result.returncode != 1:
                failures.append(f"{name}: {option} does not refuse a start at 0x{start:X}")
            continue
        lines = [line.strip() for line in open("sealed.srec")]
        open("data.srec", "w").write("".join(line + "\n" for line in lines if line[1] in "0123"))  # objcopy stops at S7-S9
        image = binary("data.srec", "--gap-fill", "0xFF")
        seals = [(int(line[4:6 + 2 * int(line[1])], 16), bytes.fromhex(line[6 + 2 * int(line[1]):-2]))
                 for before, line in zip(lines, lines[1:]) if before.endswith("56312E32" + before[-2:])]
        good = result.returncode == 0 and len(seals) == max(1, sum(line[1] in "789" for line in records))
        for address, data in seals:
            at = address + len(data) - 4 - start  # where the CRC stands in the image
            good &= at % 4 == (-start) % 4 and set(data[:-4]) <= {0xFF} and len(data) < 8
            good &= crc(image[:at]) == int.from_bytes(data[-4:], order) == int.from_bytes(image[at:at + 4], order)
        if not good:
            failures.append(f"{name}: {option} does not seal it")
    return failures


def main():
    if not (shutil.which("objcopy") and shutil.which("cc")):
        print("SKIP: real images: objcopy and cc are needed (Debian packages binutils, gcc)")
        return 77
    os.chdir(tempfile.mkdtemp())
    atexit.register(shutil.rmtree, os.getcwd())
    tool = lambda name: ["wine"] * wine + [os.path.join(bindir, name + ".exe" * wine)]
    binary = lambda srec, *fill: run("objcopy", "-I", "srec", "-O", "binary", *fill, srec, "image.bin") + open("image.bin", "rb").read()
    open("blob", "wb").write(bytes(i * 13 % 256 for i in range(5000)))
    open("dump.c", "w").write('#include <stdio.h>\n#include "image.h"\n#include "image.h"\n#if IMAGE_C_SIZE > 0\n'
                              "int main(void) { return sizeof image_C != IMAGE_C_SIZE || !fwrite(image_C, sizeof image_C, 1, stdout); }\n#endif\n")
    # Programs in C and C++ of every standard, by gcc and clang, with the array in either language.
    cc = {"gcc": "g++", "clang": "clang++"}
    standards = [("gcc", "c89", "c++11"), ("gcc", "c++20", "c17")] + [(c, s, s) for c in cc if shutil.which(c) for s in "c89 c99 c11 c17 c++11 c++14 c++17 c++20".split()]
    def program(compiler, *stds):
        for source, std in zip(["dump.c", "image.c"], stds):
            run(compiler, "-x", "c++" if "+" in std else "c", "-std=" + std, "-Wall", "-Wextra", "-Wpedantic", "-Werror", "-c", source)
        return run(cc[compiler], "-o", "dump", "dump.o", "image.o") + run("./dump")
    os.mkdir("plain")
    true, failures = os.path.realpath(shutil.which("true")), []
    # What objcopy makes each image of, or the data records of several put together.
    for name, parts in [("S1 at 0x100", ["-I binary --change-addresses 0x100 blob"]),
                        ("S2 at 0x20000", ["-I binary --change-addresses 0x20000 blob"]),
                        ("S1 of 2 bytes a record", ["-I binary --srec-len 2 blob"]),
                        ("S1 of 32 bytes a record", ["-I binary --srec-len 32 blob"]),
                        ("S3 of 64 bytes a record at 0x8000002", ["-I binary --srec-forceS3 --srec-len 64 --change-addresses 0x8000002 blob"]),
                        ("S2 of 3 bytes a record", ["-I binary --change-addresses 0x20000 --srec-len 3 blob"]),
                        (".rodata of true as S3 of 7 bytes a record", ["-j .rodata --srec-forceS3 --srec-len 7 " + true]),
                        ("true as S3 of 250 bytes a record", ["--srec-forceS3 --srec-len 250 " + true]),
                        (".text of true", ["-j .text " + true]),
                        ("S1 of 16 and 5 bytes a record, a gap of 1", ["-I binary --srec-len 16 blob", "-I binary --srec-len 5 --change-addresses 5001 blob"]),
                        ("S2 of 30 bytes a record and S3, gaps of 40000 and 3", ["-I binary --srec-len 30 --change-addresses 0x10000 blob",
                         "-I binary --srec-forceS3 --change-addresses 0x1AFC8 blob", "-j .data --change-section-address .data=0x1C353 " + true])]:
        records = []
        for part in parts:
            run("objcopy", "-O", "srec", *part.split(), "image.srec")
            records += [line for line in open("image.srec") if line[1] in "123" or len(parts) == 1]
        open("image.srec", "w").write("".join(records))
        run(*tool("recstamp"), "V1.2", "image.srec", "stamped.srec")
        if binary("stamped.srec") != binary("image.srec") + b"V1.2":
            failures.append(f"{name}: V1.2 is not right after the image")
        failures += sealed(tool, name, records, binary)
        if name in ("S1 at 0x100", "S2 at 0x20000", "true as S3 of 250 bytes a record"):  # a version and its CRC before each of two termination records
            open("image.srec", "w").write("".join(records + records[-1:]))
            failures += sealed(tool, name + ", two termination records", records + records[-1:], binary)
            open("image.srec", "w").write("".join(records))
        run(*tool("hexarray"), "--fill", "0xFF", "--header", "image.h", "image.srec", "image.c")
        run(*tool("hexarray"), "image.srec", "plain/image.c")
        data = [(int(line[4:6 + 2 * int(line[1])], 16), len(line.strip()) // 2 - 4 - int(line[1])) for line in records if line[1] in "123"]
        arrays = [open(f, "rb").read().replace(b"\r", b"") for f in ["image.c", "plain/image.c"]]
        for compiler, *stds in standards if name.startswith("S2 of") else [("gcc", "c99", "c99")]:
            dump = program(compiler, *stds)
            if dump != binary("image.srec", "--gap-fill", "0xFF") or f"Total Size = {len(dump)} bytes".encode() not in arrays[0]:
                failures.append(f"{name}: the array is not the image, by {compiler} as {' and '.join(stds)}")
        if f"#define IMAGE_C_ADDRESS 0x{data[0][0]:X}\n" not in open("image.h").read() or (arrays[0] == b'#include "image.h"\n' + arrays[1]) != (sum(n for _, n in data) == len(dump)):
            failures.append(f"{name}: the address is wrong, or gaps are not exactly what sets apart the plain array")
    # Images that can't take the version right after their data, as the user hears of it.
    srec = lambda part: run("objcopy", "-O", "srec", *part.split(), "part.srec") or [line for line in open("part.srec").read().splitlines() if line[1] in "123"]
    checked = lambda text, *args: open("image.srec", "w").write("\n".join(text) + "\n") and subprocess.run(
        [*tool("recstamp"), *args, "V1.2", "image.srec", "stamped.srec"], capture_output=True).stdout.decode().replace("\r", "")
    def word(line, base):  # the same record with its address counting 16-bit words from base
        count, address = int(line[2:4], 16), int(line[4:12], 16)
        body = bytes.fromhex(f"{count:02X}{base + (address - base) // 2:08X}{line[12:-2]}")
        return f"S3{body.hex().upper()}{~sum(body) & 0xFF:02X}"
    open("blob39", "wb").write(bytes(range(39)))
    low, high = srec("-I binary --srec-len 64 --change-addresses 0x100 blob"), srec("-I binary --srec-len 64 --change-addresses 0x1488 blob")
    words = [word(line, 0x100) for line in srec("-I binary --srec-forceS3 --srec-len 64 --change-addresses 0x100 blob")]
    halved = "The image does not show whether it counts bytes or 16-bit words: the version record went to 0x{:X}, as for words. Give --byte-addressed or --word-addressed.\n"
    on = "The version record at 0x{:X} would overwrite the data of the record at line {}.\n"
    for name, text, args, said in [("one record of 39 bytes", srec("-I binary --srec-len 64 blob39"), [], ""),
                                   ("two sections of one record", low[:1] + high[-1:], [], halved.format(0x280C)),
                                   ("records out of order", high + low, [], on.format(0x1488, 1)),
                                   ("data after the termination record", low + ["S9030000FC"] + high, [], on.format(0x1488, 81)),
                                   ("a version one byte before the data", low, ["--at", "0xFC"], ""), ("on its first byte", low, ["--at", "0xFD"], on.format(0xFD, 1)),
                                   ("on the last byte of a record of the run", low, ["--at", "0x1447"], on.format(0x1447, 78)), ("one byte after it", low, ["--at", "0x1488"], ""),
                                   ("a word image, one word on its data", words, ["--at", "0xAC3"], on.format(0xAC3, 79)), ("a word image", words, [], "")]:
        if checked(text, *args) != said:
            failures.append(f"{name}: not as the user should hear it")
    run(*tool("hexarray"), "--fill", "0xFF", "image.srec", "image.c")  # the word image
    if bytes.fromhex(open("image.c").read().split("{")[1].split("}")[0].replace("0x", "").translate({ord(c): None for c in ", \t\r\n"})) != open("blob", "rb").read() \
            or "S30900000AC456312E3241\n" not in open("stamped.srec").read():
        failures.append("the word image: not its bytes, or the version not right after them")
    print("".join(f"FAIL: {failure}\n" for failure in failures) + f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
