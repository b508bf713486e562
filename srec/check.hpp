// The check of every S-record read: its hex digits, its count against its length, its checksum;
// and the messages a run gives for the records that fail it.
#pragma once

#include "srec/failure.hpp"
#include "srec/io.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace srec {

// An S-record is a token whose second character is a digit; no other token is checked.
constexpr bool isRecord(std::string_view token) noexcept {
  return token.size() > 1 && token[1] >= '0' && token[1] <= '9';
}

// The first fault of `token`, or none. A record of C bytes has 4 + 2 * C characters, all of them
// hex digits from the third on, and its last byte is the complement of the sum of those before.
RecordFault checkRecord(std::string_view token) noexcept;

// The same question for many lines, answered fast and without the details: the index of the
// first line that is an S-record with a fault, or `count`. At least 32 bytes after each line
// must be readable, as they are in the reader's block, whose padding follows its last line.
struct LineSpan {
  std::uint32_t start;  // in the block
  std::uint32_t length; // without its line end
};
std::size_t firstUnsound(const char* block, const LineSpan* lines, std::size_t count) noexcept;

// For a token of the reader, which its block's padding follows.
inline bool isSound(std::string_view token) noexcept {
  const LineSpan span{0, static_cast<std::uint32_t>(token.size())};
  return firstUnsound(token.data(), &span, 1) == 1;
}

// The last message of a successful run with more malformed records than it told, else empty.
std::string malformedSummary(unsigned long malformed);

// The bytes of `pairs` pairs of hex digits at `text`, as a sound record holds them, to `out`.
void decodeSoundPairs(const char* text, std::size_t pairs, std::uint8_t* out) noexcept;

namespace detail {
using DecodePairs = void (*)(const char*, std::size_t, std::uint8_t*) noexcept;
std::vector<DecodePairs> decoders();
// Every variant of firstUnsound that this processor runs, widest first, for the tests.
using FirstUnsound = std::size_t (*)(const char*, const LineSpan*, std::size_t) noexcept;
std::vector<FirstUnsound> soundChecks();
} // namespace detail

// The message of a record's fault, without a line end.
std::string describe(const RecordFault& fault, unsigned long line);

// The records of one run that fail the check: the first ten told on the message stream, the run
// going on; or, strict, the first one a failure that ends it.
class RecordChecks {
public:
  static constexpr unsigned long messageLimit = 10;

  RecordChecks(ByteSink& messages, bool strict) noexcept : messages_(messages), strict_(strict) {}

  // Checks a token read on `line`.
  std::optional<Failure> check(std::string_view token, unsigned long line) {
    return isSound(token) ? std::nullopt : report(checkRecord(token), line);
  }
  // Counts and tells a record's fault, if it has one; a failure when strict, or when the message
  // can't be written.
  std::optional<Failure> report(const RecordFault& fault, unsigned long line) {
    if (fault.kind == RecordFault::Kind::none) return std::nullopt;
    return tell(fault, line);
  }
  [[nodiscard]] unsigned long malformed() const noexcept { return malformed_; }

private:
  std::optional<Failure> tell(const RecordFault& fault, unsigned long line);

  ByteSink& messages_;
  bool strict_;
  unsigned long malformed_ = 0;
};

} // namespace srec
