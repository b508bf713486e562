// The conversion pass: every data byte of the S1/S2/S3 records of a stream as one C array.
#pragma once

#include "srec/check.hpp"
#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/record.hpp"
#include "srec/token_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hexarray {

// The array to write, and what the pass found out about it.
struct Array {
  std::string name;
  std::string include;              // a header the C file includes first, or empty
  std::optional<std::uint8_t> fill; // address-true: gaps filled with this byte
  srec::Addressing addressing = srec::Addressing::shown; // as the image shows it, else bytes
  // Set by convert: the number of elements, and with `fill` the address of the first.
  std::uint64_t size = 0;
  std::uint32_t address = 0;
};

// Writes `array` to `out`, one input record a line, with the element count in its closing
// comment. Without `fill` the array is the records' bytes one after the other, with a gap warning
// to `messages` for each data record that does not start where the previous one ended; with it,
// the bytes from the first data byte's address on, each gap filled. Until the image shows that
// it counts 16-bit words, addresses count bytes; from the record that shows it on, a record of L
// bytes ends L / 2 addresses further, and the byte k of a word is the element k after twice the
// word's distance from the first address. A data character to be copied
// that is no hex digit stops it, and so do, with `fill`, a record below the data before it, and
// with `fill` or `include`, an input without a data byte. Every record goes to `checks`, but
// for one with a bad digit among the pairs it writes, which stops it anyway.
std::optional<srec::Failure> convert(srec::TokenReader& in, srec::BufferedWriter& out, Array& array,
                                     srec::ByteSink& messages, srec::RecordChecks& checks);

// Writes ", 0x" and the two characters of each of `count` pairs to `text`, 6 * count bytes;
// false when any of those characters is no hex digit, the text then being of no use.
bool writeEntries(const char* pair, std::size_t count, char* text) noexcept;

} // namespace hexarray
