#include "srec/token_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace srec {
namespace {

constexpr std::size_t padding = 64;

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
      block_(allocateBlock(readSize_ + padding)) {
  block_[0] = ' ';
}

std::optional<std::string_view> TokenReader::next() {
  for (;;) {
    while (pos_ < end_ && isSpace(block_[pos_])) {
      if (block_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ < end_) break;
    if (!refill()) return std::nullopt;
  }
  const std::size_t start = pos_;
  pos_ = static_cast<std::size_t>(findSpace(&block_[pos_]) - block_.get());
  if (pos_ < end_) return std::string_view(&block_[start], pos_ - start);

  spill_.assign(&block_[start], end_ - start);
  for (;;) {
    if (!refill()) {
      if (failed_) return std::nullopt;
      return spill_;
    }
    pos_ = static_cast<std::size_t>(findSpace(block_.get()) - block_.get());
    spill_.append(block_.get(), pos_);
    if (pos_ < end_) return spill_;
  }
}

// Reads the next block. False at the end of the input or on failure.
bool TokenReader::refill() {
  std::optional<std::size_t> got;
  if (!failed_) got = source_.read({block_.get(), readSize_});
  failed_ = !got;
  pos_ = 0;
  end_ = got.value_or(0);
  block_[end_] = ' ';
  return end_ > 0;
}

} // namespace srec
