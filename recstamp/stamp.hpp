// The stamping pass: copy an S-record stream token by token, one a line, with a version record in
// front of every termination record, or once at the end when there is none.
#pragma once

#include "recstamp/seal.hpp"
#include "srec/check.hpp"
#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/record.hpp"
#include "srec/token_reader.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

namespace recstamp {

// How a run stamps. Before S8, S9 and at the end of the input a byte-addressed image advances by
// a record's whole byte count, as every image does before S7; a word-addressed one, whose
// addresses count 16-bit words, by half of it; one that has not shown which, as a word-addressed
// one.
struct Stamping {
  std::string_view versionField;
  srec::Addressing addressing = srec::Addressing::shown;
  std::optional<std::uint32_t> at; // every version record at this address
  // Each version record followed by the CRC record that seals the image up to it; the image must
  // then count bytes, and one that has not shown how it counts is taken as counting bytes.
  std::optional<CrcVariant> crc;
};

// Runs the pass. A version record whose address is beyond even an S3 record stops it there; one
// that would cover an address of the input's data fails it once the input is read. `halvedAt`
// gets the address of the first version record placed by half a length in an image that never
// showed how it counts, which the user should hear of. Every record read goes to `checks`.
std::optional<srec::Failure> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   const Stamping& stamping, srec::RecordChecks& checks,
                                   std::optional<std::uint64_t>& halvedAt);

} // namespace recstamp
