#include "srec/hex.hpp"

#include <cctype>
#include <charconv>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace srec {

bool allHexDigits(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
#if defined(__SSE2__)
  // 16 bytes at a time: a digit is (byte - '0') <= 9 unsigned; a letter of either case is
  // ((byte | 0x20) - 'a') <= 5 unsigned.
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i lowerCase = _mm_set1_epi8(0x20);
  const __m128i letterA = _mm_set1_epi8('a');
  const __m128i five = _mm_set1_epi8(5);
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i digit = _mm_sub_epi8(bytes, zero);
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(bytes, lowerCase), letterA);
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digit, nine), digit);
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(letter, five), letter);
    if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF) return false;
  }
#endif
  int all = 0;
  for (; p != end; ++p)
    all |= hexDigit(*p);
  return all >= 0;
}

std::string toHex(std::uint64_t value, bool upperCase) {
  std::string digits(16, '0');
  auto* const end = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16).ptr;
  digits.resize(static_cast<std::size_t>(end - digits.data()));
  if (upperCase)
    for (char& c : digits)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return digits;
}

} // namespace srec
