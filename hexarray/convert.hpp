// The conversion pass: every data byte of the S1/S2/S3 records of a stream as one C array.
#pragma once

#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <cstdint>
#include <string_view>

namespace hexarray {

struct ConvertResult {
  std::uint64_t totalSize = 0; // bytes written into the array
  // Set when a data character to be copied into the source is not a hex digit; the pass stopped
  // at that record, on input line `badDigitLine`.
  bool badHexDigit = false;
  unsigned long badDigitLine = 0;
};

// Writes the array named `arrayName` to `out`, one input record a line, and a gap warning to
// `messages` for each data record that does not start where the previous one ended.
ConvertResult convert(srec::TokenReader& in, srec::BufferedWriter& out, std::string_view arrayName,
                      srec::ByteSink& messages);

} // namespace hexarray
