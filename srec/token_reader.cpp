#include "srec/token_reader.hpp"

#include "srec/record.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace srec {
namespace {

constexpr std::size_t padding = 64;
// Reads land at this offset of the block, a whole number of pages; a token that a read cut off
// is first moved just before it. Aligned reads make the kernel's copy measurably faster.
constexpr std::size_t readArea = maxTokenLength;
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

constexpr std::array<bool, 256> spaceTable = [] {
  std::array<bool, 256> table{};
  for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
    table[c] = true;
  return table;
}();

bool isSpace(char c) noexcept {
  return spaceTable[static_cast<unsigned char>(c)];
}

// The first white-space byte at or after `p`; the caller guarantees one before the padding ends.
const char* findSpace(const char* p) noexcept {
#if defined(__SSE2__)
  // 16 bytes at a time: a blank, or a byte in \t..\r, which is (byte - 9) <= 4 unsigned.
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i four = _mm_set1_epi8(4);
  for (;; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i offset = _mm_sub_epi8(bytes, tab);
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(offset, four), offset);
    const int mask = _mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, blank)));
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
  }
#else
  while (!isSpace(*p))
    ++p;
  return p;
#endif
}

} // namespace

TokenReader::TokenReader(ByteSource& source, std::size_t readSize)
    : source_(source), readSize_(std::max<std::size_t>(readSize, 1)),
      room_(std::max(readSize_, readArea)), block_(allocateBlock(readArea + room_ + padding)),
      pos_(readArea), end_(readArea) {
  markEnd();
}

void TokenReader::markEnd() noexcept {
  block_[end_] = ' ';
  std::fill_n(&block_[end_ + 1], padding - 1, '\0');
}

std::optional<std::string_view> TokenReader::next() {
  if (!started_) [[unlikely]] {
    started_ = true;
    while (end_ - pos_ < byteOrderMark.size() && readMore()) {
    }
    if (std::string_view(&block_[pos_], end_ - pos_).starts_with(byteOrderMark)) pos_ += 3;
  }
  for (;;) {
    // Locals, since the compiler must assume that any char store changes the members.
    const char* p = &block_[pos_];
    const char* const end = &block_[end_];
    unsigned long lineNumber = line_;
    bool afterCR = afterCR_;
    for (; p != end; ++p) {
      if (*p == '\n') {
        lineNumber += static_cast<unsigned long>(!afterCR);
        afterCR = false;
      } else if (*p == '\r') {
        ++lineNumber;
        afterCR = true;
      } else if (isSpace(*p)) {
        afterCR = false;
      } else {
        break;
      }
    }
    line_ = lineNumber;
    afterCR_ = false;
    pos_ = static_cast<std::size_t>(p - block_.get());
    if (p != end) {
      // The usual case: the token ends in the block.
      const char* space = findSpace(p);
      if (space != end && space - p <= static_cast<std::ptrdiff_t>(maxTokenLength)) {
        pos_ = static_cast<std::size_t>(space - block_.get());
        last_ = static_cast<std::size_t>(p - block_.get());
        lastLength_ = static_cast<std::size_t>(space - p);
        return std::string_view(p, lastLength_);
      }
      break;
    }
    afterCR_ = afterCR;
    pos_ = end_ = readArea;
    if (!readMore()) return std::nullopt;
  }
  // A token that runs on to the end of the block is completed by further reads, which may move
  // it to the front of the block.
  auto length = static_cast<std::size_t>(findSpace(&block_[pos_]) - &block_[pos_]);
  while (pos_ + length == end_ && length <= maxTokenLength && readMore())
    length = static_cast<std::size_t>(findSpace(&block_[pos_ + length]) - &block_[pos_]);
  if (length > maxTokenLength && !failure_) failure_ = Failure{Failure::Kind::tooLong, line_};
  if (failure_) return std::nullopt;
  pos_ += length;
  last_ = pos_ - length;
  lastLength_ = length;
  return std::string_view(&block_[last_], length);
}

bool TokenReader::checkAhead() {
  // The lines from the token on, found as plainLines() finds them, up to a batch.
  const char* const block = block_.get();
  std::array<LineSpan, 64> batch{};
  std::size_t count = 0;
  std::size_t start = last_;
  std::size_t word = start & ~std::size_t{63};
  std::uint64_t ends = detail::lowBytes(block + word) & (~std::uint64_t{0} << (start - word));
  while (count < batch.size()) {
    if (ends == 0) {
      ends = detail::lowBytes(block + (word += 64));
      continue;
    }
    const std::size_t lineEnd = word + static_cast<std::size_t>(std::countr_zero(ends));
    ends &= ends - 1;
    if (lineEnd < start) continue; // the LF of a CR LF
    std::size_t endLength = 0;
    if (block[lineEnd] == '\n') endLength = 1;
    if (block[lineEnd] == '\r' && block[lineEnd + 1] == '\n') endLength = 2;
    const std::size_t length = lineEnd - start;
    if (endLength == 0 || length - 1 >= maxTokenLength) break;
    batch[count++] = {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)};
    start = lineEnd + endLength;
  }
  const std::size_t sound = firstUnsound(block, batch.data(), count);
  soundBegin_ = last_;
  soundEnd_ = sound == 0 ? last_ : batch[sound - 1].start + batch[sound - 1].length;
  return sound > 0;
}

// Reads after the unscanned bytes, first moving them to just before the read area when the
// room behind them is short: with small reads, only once in a while. False at the end of the input
// or on failure.
bool TokenReader::readMore() {
  if (failure_) return false;
  soundEnd_ = 0; // the block's bytes may move
  if (end_ + readSize_ > readArea + room_) {
    const std::size_t kept = end_ - pos_; // at most maxTokenLength
    std::memmove(&block_[readArea - kept], &block_[pos_], kept);
    pos_ = readArea - kept;
    end_ = readArea;
  }
  const std::optional<std::size_t> got = source_.read({&block_[end_], readSize_});
  if (!got) failure_ = Failure{Failure::Kind::read};
  end_ += got.value_or(0);
  markEnd();
  return got.value_or(0) > 0;
}

} // namespace srec
