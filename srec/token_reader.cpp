#include "srec/token_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace srec {
namespace {

constexpr std::size_t padding = 64;
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
      block_(allocateBlock(maxTokenLength + readSize_ + padding)) {
  block_[0] = ' ';
}

std::optional<std::string_view> TokenReader::next() {
  if (!started_) {
    started_ = true;
    while (end_ < byteOrderMark.size() && readMore()) {
    }
    if (std::string_view(block_.get(), end_).starts_with(byteOrderMark)) pos_ = 3;
  }
  for (;;) {
    for (; pos_ < end_ && isSpace(block_[pos_]); ++pos_) {
      const char c = block_[pos_];
      if (c == '\r' || (c == '\n' && !afterCR_)) ++line_;
      afterCR_ = c == '\r';
    }
    if (pos_ < end_) break;
    pos_ = end_ = 0;
    if (!readMore()) return std::nullopt;
  }
  afterCR_ = false;
  // A token that runs on to the end of the block is completed by further reads, which may move
  // it to the front of the block.
  auto length = static_cast<std::size_t>(findSpace(&block_[pos_]) - &block_[pos_]);
  while (pos_ + length == end_ && length <= maxTokenLength && readMore())
    length = static_cast<std::size_t>(findSpace(&block_[pos_ + length]) - &block_[pos_]);
  if (length > maxTokenLength && !failure_) failure_ = Failure{Failure::Kind::tooLong, line_};
  if (failure_) return std::nullopt;
  pos_ += length;
  return std::string_view(&block_[pos_ - length], length);
}

// Reads after the unscanned bytes, moving them to the front of the block when the room behind
// them is short. False at the end of the input or on failure.
bool TokenReader::readMore() {
  if (failure_) return false;
  if (end_ > maxTokenLength) {
    std::memmove(block_.get(), &block_[pos_], end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  const std::optional<std::size_t> got = source_.read({&block_[end_], readSize_});
  if (!got) failure_ = Failure{Failure::Kind::read};
  end_ += got.value_or(0);
  block_[end_] = ' ';
  return got.value_or(0) > 0;
}

} // namespace srec
