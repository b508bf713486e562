// Splits an S-record stream into tokens: maximal runs of bytes other than the six C-locale
// white-space bytes (blank, \t, \n, \v, \f, \r). One record line normally gives one token.
#pragma once

#include "srec/io.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace srec {

class TokenReader {
public:
  explicit TokenReader(ByteSource& source, std::size_t readSize = blockSize);

  // The next token, valid until the next call; nullopt at the end of the input or after a read
  // failure, which failed() tells apart. Tokens of any length are accepted.
  std::optional<std::string_view> next();

  // The 1-based input line on which the last token returned starts.
  [[nodiscard]] unsigned long line() const noexcept { return line_; }
  [[nodiscard]] bool failed() const noexcept { return failed_; }

private:
  bool refill();

  ByteSource& source_;
  std::size_t readSize_;
  // Each read fills the block from its start; a blank always stands at end_ so that a token scan
  // stops by itself, and zeroed padding follows so that the scan may load whole 16-byte groups.
  Block block_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  // A token that runs on past the end of a block is gathered here.
  std::string spill_;
  unsigned long line_ = 1;
  bool failed_ = false;
};

} // namespace srec
