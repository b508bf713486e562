// Why a run failed. The reader, the passes and the run plumbing report a failure as this value;
// only each tool's main turns it into a message and an exit status.
#pragma once

#include <cstddef>
#include <cstdint>

namespace srec {

// What is wrong with an S-record: the first of its faults, in the order they are looked for.
struct RecordFault {
  enum class Kind : std::uint8_t {
    none,
    badDigit, // a character from the third on that is no hex digit, or no count at all
    length,   // its count disagrees with its length: it `holds` bytes, its count says `count`
    checksum, // its last byte is `found`, the complement of the sum before it `expected`
  };
  Kind kind = Kind::none;
  unsigned count = 0;
  std::size_t holds = 0;
  std::uint8_t found = 0;
  std::uint8_t expected = 0;
};

struct Failure {
  enum class Kind {
    openInput,       // the input can't be opened, or is a folder
    sameFile,        // the output names the input
    openOutput,      // the output can't be written
    read,            // a read error, which is not the end of the input
    tooLong,         // a token longer than maxTokenLength, starting on `line`
    write,           // the output could not be written whole
    writeStdout,     // a message could not be written to standard output
    badHexDigit,     // hexarray: a data character to copy is no hex digit, on `line`
    addressMisfit,   // recstamp: a version record's `address` does not fit an S`recType` record
    sameOutputs,     // the second output names the output
    outOfOrder,      // --fill, a CRC: a data record starts below the data before it, on `line`
    noData,          // hexarray: no data byte where an array must have one
    malformed,       // --strict: the record at `line` has the `fault`
    wordImage,       // recstamp: a CRC asked for an image that counts 16-bit words
    misalignedStart, // recstamp --crc32-mpeg2: the image's first data `address` is no word's
    overwrite,       // recstamp: the version record at `address` lies on the data of `line`
  };
  Kind kind;
  unsigned long line = 0;
  std::uint64_t address = 0;
  int recType = 0;
  bool second = false; // openOutput, sameFile, write: of the second output
  RecordFault fault{};
};

} // namespace srec
