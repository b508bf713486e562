// The stamping pass: copy an S-record stream token by token, one a line, with a version record in
// front of every termination record, or once at the end when there is none.
#pragma once

#include "recstamp/seal.hpp"
#include "srec/check.hpp"
#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <optional>
#include <string_view>

namespace recstamp {

// How an image counts its addresses. Before S8, S9 and at the end of the input a byte-addressed
// image advances by a record's whole byte count, as every image does before S7; a word-addressed
// one, whose addresses count 16-bit words, by half of it. `shown`: as the image shows it, and as
// a word-addressed one while it has not.
enum class Addressing { shown, word, byte };

// Runs the pass. A version record whose address is beyond even an S3 record stops it there.
// Every record read goes to `checks`. With `crc`, each version record is followed by the CRC
// record that seals the image up to it.
std::optional<srec::Failure> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   std::string_view versionField, Addressing addressing,
                                   srec::RecordChecks& checks,
                                   std::optional<CrcVariant> crc = std::nullopt);

} // namespace recstamp
