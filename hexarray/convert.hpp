// The conversion pass: every data byte of the S1/S2/S3 records of a stream as one C array.
#pragma once

#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

namespace hexarray {

// Writes the array named `arrayName` to `out`, one input record a line, with the byte count in
// its closing comment, and a gap warning to `messages` for each data record that does not start
// where the previous one ended. A data character to be copied that is no hex digit stops it.
std::optional<srec::Failure> convert(srec::TokenReader& in, srec::BufferedWriter& out,
                                     std::string_view arrayName, srec::ByteSink& messages);

// Writes ", 0x" and the two characters of each of `count` pairs to `text`, 6 * count bytes;
// false when any of those characters is no hex digit, the text then being of no use.
bool writeEntries(const char* pair, std::size_t count, char* text) noexcept;

} // namespace hexarray
