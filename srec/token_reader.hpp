// Splits an S-record stream into tokens: maximal runs of bytes other than the six C-locale
// white-space bytes (blank, \t, \n, \v, \f, \r). One record line normally gives one token.
#pragma once

#include "srec/check.hpp"
#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/record.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>

namespace srec {

// The longest token accepted. A record has at most 514 characters; the limit keeps memory
// bounded whatever the input, such as an erased flash dump with no white space at all.
inline constexpr std::size_t maxTokenLength = 65536;

namespace detail {

// Bit i set where byte p[i], as a signed byte, is below '!': the white space, the other control
// characters and the bytes from 0x80.
inline std::uint64_t lowBytes(const char* p) noexcept {
  std::uint64_t others = 0; // the bytes from '!' to 0x7F
#if defined(__SSE2__)
  const __m128i blank = _mm_set1_epi8(' ');
  for (std::size_t i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const auto bits = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, blank)));
    others |= std::uint64_t{bits} << (16 * i);
  }
#else
  for (std::size_t i = 0; i < 64; ++i)
    others |= std::uint64_t{static_cast<signed char>(p[i]) > ' '} << i;
#endif
  return ~others;
}

} // namespace detail

class TokenReader {
public:
  explicit TokenReader(ByteSource& source, std::size_t readSize = blockSize);

  // The next token, valid until the next call; nullopt at the end of the input, or when reading
  // stopped early, which failure() tells.
  std::optional<std::string_view> next();

  // For a pass that writes each token on a line of its own: the whole lines ahead in the block
  // that are one token and an LF or CR LF, up to the first termination record or the first
  // record with a fault (see srec/check.hpp), as that pass would write them (a CR LF becomes LF,
  // in the block); taken as next() would take them, with the line end after the token it
  // returned last. Empty where next() must go on. `visit` is called with each line, without its
  // end, as it is taken.
  template <class Visit> std::string_view plainLines(Visit&& visit);

  // Whether the token next() returned last is a record without fault, or no record, as a check
  // of it and the lines after it, a batch at a time, finds; false also where that check can't
  // tell (the token not alone on its line), and the caller then checks it by itself.
  bool lastIsSound() {
    return (last_ >= soundBegin_ && last_ + lastLength_ <= soundEnd_) || checkAhead();
  }

  // The 1-based input line on which the last token returned starts. A line ends at LF, CR LF,
  // or a CR not followed by LF.
  [[nodiscard]] unsigned long line() const noexcept { return line_; }
  // A read error, or a token longer than maxTokenLength; nothing at the end of the input.
  [[nodiscard]] std::optional<Failure> failure() const noexcept { return failure_; }

private:
  bool readMore();
  bool checkAhead();
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
  std::size_t last_ = 0;       // the last token returned: where it starts in the block
  std::size_t lastLength_ = 0; // and its length
  // Lines from soundBegin_ up to soundEnd_ in the block were checked and are sound.
  std::size_t soundBegin_ = 0;
  std::size_t soundEnd_ = 0;
  bool afterCR_ = false;
  bool started_ = false;
  std::optional<Failure> failure_;
};

template <class Visit> std::string_view TokenReader::plainLines(Visit&& visit) {
  if (!started_ || failure_ || pos_ == end_) return {};
  soundEnd_ = 0;                    // lines may move
  char* const block = block_.get(); // a local, which the stores below are known not to change
  // The blank at end_ and the zeroed padding make each look one byte ahead safe.
  const auto endsLine = [block](std::size_t at) -> std::size_t {
    if (block[at] == '\n') return 1;
    return block[at] == '\r' && block[at + 1] == '\n' ? 2 : 0;
  };
  const std::size_t firstEnd = endsLine(pos_);
  if (firstEnd == 0) return {};
  const std::size_t first = pos_ + firstEnd;
  std::size_t start = first; // of the line being looked at
  std::size_t kept = first;  // where it goes: a line that ends in CR LF moves up to end in LF
  unsigned long lineNumber = line_ + 1;
  // Lines are found a batch at a time and checked together, before any of them moves; the
  // sound ones before the first that is not then move into place. False when one is not, which
  // then comes next.
  std::array<LineSpan, 64> batch{};
  std::uint64_t crlf = 0; // bit i: line i of the batch ends in CR LF
  std::size_t batched = 0;
  const auto takeBatch = [&] {
    const std::size_t sound = firstUnsound(block, batch.data(), batched);
    for (std::size_t i = 0; i < sound; ++i) {
      const auto [from, length] = batch[i];
      if (kept != from || ((crlf >> i) & 1) != 0) {
        std::memmove(block + kept, block + from, length);
        block[kept + length] = '\n';
      }
      visit(std::string_view(block + kept, length));
      kept += length + 1;
    }
    lineNumber += sound;
    if (sound < batched) {
      pos_ = batch[sound].start;
      line_ = lineNumber;
      return false;
    }
    batched = 0;
    crlf = 0;
    return true;
  };
  // The only bytes below '!' in a plain line are the LF, or CR LF, that end it. Such bytes are
  // found 64 at a time, in words aligned on the block, so no search waits for the one before;
  // each is then checked to end a line of the right length and kind. The blank at the end of the
  // block, and the padding after it, stop the search.
  std::size_t word = first & ~std::size_t{63};
  std::uint64_t ends = detail::lowBytes(block + word) & (~std::uint64_t{0} << (first - word));
  for (;; ends = detail::lowBytes(block + (word += 64))) {
    for (; ends != 0; ends &= ends - 1) {
      const std::size_t at = word + static_cast<std::size_t>(std::countr_zero(ends));
      if (at < start) continue; // the LF of a CR LF that ended the word before
      const std::size_t endLength = endsLine(at);
      const std::size_t length = at - start;
      // A length of 0 wraps round, so one test refuses both an empty line and a long one.
      if (endLength == 0 || length - 1 >= maxTokenLength ||
          recordKind({block + start, 2}) == RecordKind::termination) {
        if (takeBatch()) {
          pos_ = start;
          line_ = lineNumber;
        }
        return {block + first, kept - first};
      }
      crlf |= std::uint64_t{endLength == 2} << batched;
      batch[batched++] = {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)};
      if (batched == batch.size() && !takeBatch()) return {block + first, kept - first};
      start = at + endLength;
      if (endLength == 2) ends &= ends - 1; // the CR, so that the loop takes the LF after it
    }
  }
}

} // namespace srec
