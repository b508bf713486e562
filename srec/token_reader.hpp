// Splits an S-record stream into tokens: maximal runs of bytes other than the six C-locale
// white-space bytes (blank, \t, \n, \v, \f, \r). One record line normally gives one token.
#pragma once

#include "srec/failure.hpp"
#include "srec/io.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace srec {

// The longest token accepted. A record has at most 514 characters; the limit keeps memory
// bounded whatever the input, such as an erased flash dump with no white space at all.
inline constexpr std::size_t maxTokenLength = 65536;

class TokenReader {
public:
  explicit TokenReader(ByteSource& source, std::size_t readSize = blockSize);

  // The next token, valid until the next call; nullopt at the end of the input, or when reading
  // stopped early, which failure() tells.
  std::optional<std::string_view> next();

  // For a pass that writes each token on a line of its own: the whole lines ahead in the block
  // that are one token and an LF or CR LF, up to the first termination record, as that pass
  // would write them (a CR LF becomes LF, in the block); taken as next() would take them, with
  // the line end after the token it returned last. Empty where next() must go on. Where each
  // line ends, the offset of its LF in the result, goes to `ends`, and `count` tells how many
  // lines there are: no more than `ends` has room for.
  std::string_view plainLines(std::span<std::uint32_t> ends, std::size_t& count);

  // The 1-based input line on which the last token returned starts. A line ends at LF, CR LF,
  // or a CR not followed by LF.
  [[nodiscard]] unsigned long line() const noexcept { return line_; }
  // A read error, or a token longer than maxTokenLength; nothing at the end of the input.
  [[nodiscard]] std::optional<Failure> failure() const noexcept { return failure_; }

private:
  bool readMore();
  void markEnd() noexcept;

  ByteSource& source_;
  std::size_t readSize_;
  std::size_t room_; // of the read area, at least readSize_
  // Reads land after the bytes still unscanned, so a token is always whole in the block. A blank
  // stands at end_ so that a scan stops by itself, and zeroed padding follows it so that the scan
  // may load whole groups of bytes.
  Block block_;
  std::size_t pos_;
  std::size_t end_;
  unsigned long line_ = 1;
  bool afterCR_ = false;
  bool started_ = false;
  std::optional<Failure> failure_;
};

} // namespace srec
