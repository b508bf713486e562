#include "srec/token_reader.hpp"

#include <algorithm>
#include <array>
#include <cstring>

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
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
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
      buffer_(readSize_ + padding, '\0') {
  buffer_[0] = ' ';
}

std::optional<std::string_view> TokenReader::next() {
  for (;;) {
    while (pos_ < end_ && isSpace(buffer_[pos_])) {
      if (buffer_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ < end_) break;
    if (!refill(end_)) return std::nullopt;
  }
  std::size_t start = pos_;
  for (;;) {
    pos_ = static_cast<std::size_t>(findSpace(buffer_.data() + pos_) - buffer_.data());
    if (pos_ < end_) break;
    // The token runs on past the data read so far: keep its start and read more behind it.
    const std::size_t kept = end_ - start;
    if (!refill(start)) {
      if (failed_) return std::nullopt;
      pos_ = end_;
      return std::string_view(buffer_.data(), kept);
    }
    start = 0;
    pos_ = kept;
  }
  return std::string_view(buffer_.data() + start, pos_ - start);
}

// Moves the bytes from `keepFrom` on to the front, then reads behind them. False at the end of
// the input or on failure; the kept bytes stay at the front either way.
bool TokenReader::refill(std::size_t keepFrom) {
  const std::size_t kept = end_ - keepFrom;
  std::memmove(buffer_.data(), buffer_.data() + keepFrom, kept);
  pos_ = 0;
  end_ = kept;
  // A long token may leave too little room for a useful read: grow, never shrink.
  const std::size_t room = buffer_.size() - padding - kept;
  if (room == 0 || room < readSize_ / 2) buffer_.resize(kept + readSize_ + padding);
  std::optional<std::size_t> got;
  if (!failed_) got = source_.read({buffer_.data() + kept, buffer_.size() - padding - kept});
  if (!got) failed_ = true;
  end_ += got.value_or(0);
  buffer_[end_] = ' ';
  return got.value_or(0) > 0;
}

} // namespace srec
