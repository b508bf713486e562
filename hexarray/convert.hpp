// The conversion pass: every data byte of the S1/S2/S3 records of a stream as one C array.
#pragma once

#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <optional>
#include <string_view>

namespace hexarray {

// Writes the array named `arrayName` to `out`, one input record a line, with the byte count in
// its closing comment, and a gap warning to `messages` for each data record that does not start
// where the previous one ended. A data character to be copied that is no hex digit stops it.
std::optional<srec::Failure> convert(srec::TokenReader& in, srec::BufferedWriter& out,
                                     std::string_view arrayName, srec::ByteSink& messages);

} // namespace hexarray
