// The stamping pass: copy an S-record stream token by token, one a line, with a version record in
// front of every termination record, or once at the end when there is none.
#pragma once

#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <optional>
#include <string_view>

namespace recstamp {

// How S1 and S2 images count their addresses. Word-addressed images advance by half a record's
// byte count before S8, S9 and at the end of the input; byte-addressed ones by all of it, as S3
// images always do before S7.
enum class Addressing { word, byte };

// Runs the pass. A version record whose address does not fit its kind stops it there.
std::optional<srec::Failure> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   std::string_view versionField,
                                   Addressing addressing = Addressing::word);

} // namespace recstamp
