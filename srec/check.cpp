#include "srec/check.hpp"

#include "srec/hex.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace srec {
namespace {

// The byte whose two digits start at `at`; -1 or less when either is no hex digit.
int byteAt(std::string_view token, std::size_t at) noexcept {
  return hexDigit(token[at]) * 16 + hexDigit(token[at + 1]);
}

// Whether a record of `length` characters starting with these two count digits has the length
// its count says.
bool countFits(const char* line, std::size_t length) noexcept {
  const int count = hexDigit(line[2]) * 16 + hexDigit(line[3]);
  return count >= 0 && length == 4 + 2 * static_cast<std::size_t>(count);
}

// The checks below look at the characters from the count on in whole vectors: each is either a
// decimal digit ((c - '0') <= 9 unsigned) or a letter a-f of either case (((c | 0x20) - 'a') <= 5),
// and each pair of them, weighted 16 and 1 and summed, gives the sum of the record's bytes, which
// is 0xFF modulo 256 when the checksum is right. A record's length is then even, so its pairs
// start on even places from the count on.

inline bool isSoundScalar(const char* line, std::size_t length) noexcept {
  return checkRecord({line, length}).kind == RecordFault::Kind::none;
}

#if defined(__SSE2__)
inline bool isSoundSse2(const char* line, std::size_t length) noexcept {
  if (length < 4 || !countFits(line, length)) return false;
  alignas(16) static constexpr char keepBytes[32] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                     -1, -1, -1, -1, -1, -1, -1, -1};
  const __m128i zeroDigit = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i lowerCase = _mm_set1_epi8(0x20);
  const __m128i letterA = _mm_set1_epi8('a');
  const __m128i five = _mm_set1_epi8(5);
  const __m128i ten = _mm_set1_epi8(10);
  __m128i bad = _mm_setzero_si128();
  __m128i all = _mm_setzero_si128();  // the digits' values, summed
  __m128i high = _mm_setzero_si128(); // those of the first digit of each pair
  const char* p = line + 2;
  for (std::size_t left = length - 2;; p += 16, left -= 16) {
    const __m128i keep = _mm_loadu_si128(
        reinterpret_cast<const __m128i*>(keepBytes + 16 - std::min<std::size_t>(left, 16)));
    const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i digit = _mm_sub_epi8(chars, zeroDigit);
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digit, nine), digit);
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(chars, lowerCase), letterA);
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(letter, five), letter);
    const __m128i value =
        _mm_and_si128(_mm_or_si128(_mm_and_si128(digit, isDigit),
                                   _mm_and_si128(_mm_add_epi8(letter, ten), isLetter)),
                      keep);
    bad = _mm_or_si128(bad, _mm_andnot_si128(_mm_or_si128(isDigit, isLetter), keep));
    all = _mm_add_epi64(all, _mm_sad_epu8(value, _mm_setzero_si128()));
    high = _mm_add_epi64(
        high, _mm_sad_epu8(_mm_and_si128(value, _mm_set1_epi16(0xFF)), _mm_setzero_si128()));
    if (left <= 16) break;
  }
  // The sum of the bytes is 16 * high + (all - high).
  const __m128i sum = _mm_add_epi64(all, _mm_mullo_epi16(high, _mm_set1_epi16(15)));
  const auto total = static_cast<unsigned>(_mm_cvtsi128_si32(sum) +
                                           _mm_cvtsi128_si32(_mm_unpackhi_epi64(sum, sum)));
  return _mm_movemask_epi8(bad) == 0 && (total & 0xFF) == 0xFF;
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) inline bool isSoundAvx2(const char* line,
                                                        std::size_t length) noexcept {
  if (length < 4 || !countFits(line, length)) return false;
  alignas(32) static constexpr char keepBytes[64] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                     -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                     -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  const __m256i zeroDigit = _mm256_set1_epi8('0');
  const __m256i nine = _mm256_set1_epi8(9);
  const __m256i lowerCase = _mm256_set1_epi8(0x20);
  const __m256i letterA = _mm256_set1_epi8('a');
  const __m256i five = _mm256_set1_epi8(5);
  const __m256i ten = _mm256_set1_epi8(10);
  const __m256i weights = _mm256_set1_epi16(0x0110); // 16 for the first digit of a pair, 1
  __m256i bad = _mm256_setzero_si256();
  __m256i bytes = _mm256_setzero_si256(); // the pairs' values, summed as 16-bit numbers
  const char* p = line + 2;
  for (std::size_t left = length - 2;; p += 32, left -= 32) {
    const __m256i keep = _mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(keepBytes + 32 - std::min<std::size_t>(left, 32)));
    const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i digit = _mm256_sub_epi8(chars, zeroDigit);
    const __m256i isDigit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, nine), digit);
    const __m256i letter = _mm256_sub_epi8(_mm256_or_si256(chars, lowerCase), letterA);
    const __m256i isLetter = _mm256_cmpeq_epi8(_mm256_min_epu8(letter, five), letter);
    const __m256i value =
        _mm256_and_si256(_mm256_blendv_epi8(digit, _mm256_add_epi8(letter, ten), isLetter), keep);
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(_mm256_or_si256(isDigit, isLetter), keep));
    bytes = _mm256_add_epi16(bytes, _mm256_maddubs_epi16(value, weights));
    if (left <= 32) break;
  }
  // Only the low byte of each sum counts towards the sum modulo 256.
  const __m256i sums =
      _mm256_sad_epu8(_mm256_and_si256(bytes, _mm256_set1_epi16(0xFF)), _mm256_setzero_si256());
  const __m128i half =
      _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  const auto total =
      static_cast<unsigned>(_mm_cvtsi128_si32(_mm_add_epi64(half, _mm_unpackhi_epi64(half, half))));
  return _mm256_testz_si256(bad, bad) != 0 && (total & 0xFF) == 0xFF;
}

// Each character's value, or 0x80 for one that is no hex digit, looked up by its low seven bits;
// a character from 0x80 is told by its own top bit.
constexpr std::array<char, 128> digitValues = [] {
  std::array<char, 128> values{};
  for (std::size_t c = 0; c != values.size(); ++c)
    values[c] = hexDigit(static_cast<char>(c)) < 0
                    ? '\x80'
                    : static_cast<char>(hexDigit(static_cast<char>(c)));
  return values;
}();

// With masked loads nothing past the record is read; the place of a character past it holds '0'.
__attribute__((target("avx512bw,avx512vbmi,avx512vnni,bmi2"))) inline bool
isSoundAvx512(const char* line, std::size_t length) noexcept {
  if (length < 4 || !countFits(line, length)) return false;
  const __m512i low = _mm512_loadu_si512(digitValues.data());
  const __m512i high = _mm512_loadu_si512(digitValues.data() + 64);
  const __m512i zeroDigits = _mm512_set1_epi8('0');
  const __m512i weights = _mm512_set1_epi16(0x0110);
  __m512i bad = _mm512_setzero_si512();  // top bits: no hex digit
  __m512i sums = _mm512_setzero_si512(); // the pairs' values, two in each 32-bit sum
  const char* p = line + 2;
  for (std::size_t left = length - 2;; p += 64, left -= 64) {
    const __mmask64 keep =
        left >= 64 ? ~std::uint64_t{0} : _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(left));
    const __m512i chars = _mm512_mask_loadu_epi8(zeroDigits, keep, p);
    const __m512i values = _mm512_permutex2var_epi8(low, chars, high);
    bad = _mm512_ternarylogic_epi32(bad, values, chars, 0xFE); // bad | values | chars
    sums = _mm512_dpbusd_epi32(sums, values, weights);
    if (left <= 64) break;
  }
  // Only the low byte of each sum counts towards the sum modulo 256.
  const __m128i half = _mm_sad_epu8(_mm512_maskz_cvtepi32_epi8(0xFFFF, sums), _mm_setzero_si128());
  const auto total =
      static_cast<unsigned>(_mm_cvtsi128_si32(_mm_add_epi64(half, _mm_unpackhi_epi64(half, half))));
  return _mm512_movepi8_mask(bad) == 0 && (total & 0xFF) == 0xFF;
}
#endif

// A batch of lines is checked in one loop for each variant, so that its constants stay in
// registers; only S-records are checked.
inline bool isRecordLine(const char* line, std::uint32_t length) noexcept {
  return isRecord({line, std::min<std::size_t>(length, 2)});
}

std::size_t firstUnsoundScalar(const char* block, const LineSpan* lines,
                               std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i)
    if (!isSoundScalar(block + lines[i].start, lines[i].length)) return i;
  return count;
}

#if defined(__SSE2__)
std::size_t firstUnsoundSse2(const char* block, const LineSpan* lines, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    const char* line = block + lines[i].start;
    if (isRecordLine(line, lines[i].length) && !isSoundSse2(line, lines[i].length)) return i;
  }
  return count;
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) std::size_t
firstUnsoundAvx2(const char* block, const LineSpan* lines, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    const char* line = block + lines[i].start;
    if (isRecordLine(line, lines[i].length) && !isSoundAvx2(line, lines[i].length)) return i;
  }
  return count;
}

__attribute__((target("avx512bw,avx512vbmi,avx512vnni,bmi2"))) std::size_t
firstUnsoundAvx512(const char* block, const LineSpan* lines, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    const char* line = block + lines[i].start;
    if (isRecordLine(line, lines[i].length) && !isSoundAvx512(line, lines[i].length)) return i;
  }
  return count;
}

bool hasAvx512() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni") &&
         __builtin_cpu_supports("bmi2");
}

bool hasAvx2() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

// The bytes of pairs of hex digits, which a sound record holds and nothing else: a digit's value
// is its low four bits, and 9 more for a letter (from 0x40 on).
inline void decodeScalar(const char* text, std::size_t pairs, std::uint8_t* out) noexcept {
  for (; pairs > 0; --pairs, text += 2, ++out)
    *out = static_cast<std::uint8_t>(hexDigit(text[0]) * 16 + hexDigit(text[1]));
}

#if defined(__SSE2__)
inline void decodeSse2(const char* text, std::size_t pairs, std::uint8_t* out) noexcept {
  const __m128i lowBits = _mm_set1_epi8(0x0F);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i firstDigits = _mm_set1_epi16(0x00FF);
  for (; pairs >= 8; pairs -= 8, text += 16, out += 8) {
    const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i letters = _mm_and_si128(_mm_srli_epi16(chars, 6), one);
    const __m128i values = _mm_add_epi8(_mm_and_si128(chars, lowBits),
                                        _mm_add_epi8(letters, _mm_slli_epi16(letters, 3)));
    // As 16-bit numbers each pair is first + 256 * second: 16 * first + second.
    const __m128i bytes = _mm_and_si128(
        _mm_add_epi16(_mm_slli_epi16(values, 4), _mm_srli_epi16(values, 8)), firstDigits);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(bytes, bytes));
  }
  decodeScalar(text, pairs, out);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx512bw,avx512vl,avx512vbmi,bmi2"))) void
decodeAvx512(const char* text, std::size_t pairs, std::uint8_t* out) noexcept {
  const __m512i low = _mm512_loadu_si512(digitValues.data());
  const __m512i high = _mm512_loadu_si512(digitValues.data() + 64);
  const __m512i weights = _mm512_set1_epi16(0x0110);
  for (;; pairs -= 32, text += 64, out += 32) {
    const std::uint64_t count = std::min<std::size_t>(pairs, 32);
    const __m512i chars = _mm512_maskz_loadu_epi8(_bzhi_u64(~std::uint64_t{0}, 2 * count), text);
    const __m512i values = _mm512_permutex2var_epi8(low, chars, high);
    _mm256_mask_storeu_epi8(
        out, static_cast<__mmask32>(_bzhi_u32(~0U, static_cast<unsigned>(count))),
        _mm512_maskz_cvtepi16_epi8(0xFFFFFFFF, _mm512_maddubs_epi16(values, weights)));
    if (pairs <= 32) break;
  }
}
#endif

} // namespace

std::vector<detail::FirstUnsound> detail::soundChecks() {
  std::vector<FirstUnsound> checks;
#if defined(__x86_64__) && defined(__GNUC__)
  if (hasAvx512()) checks.push_back(firstUnsoundAvx512);
  if (hasAvx2()) checks.push_back(firstUnsoundAvx2);
#endif
#if defined(__SSE2__)
  checks.push_back(firstUnsoundSse2);
#endif
  checks.push_back(firstUnsoundScalar);
  return checks;
}

std::vector<detail::DecodePairs> detail::decoders() {
  std::vector<DecodePairs> all;
#if defined(__x86_64__) && defined(__GNUC__)
  if (hasAvx512()) all.push_back(decodeAvx512);
#endif
#if defined(__SSE2__)
  all.push_back(decodeSse2);
#endif
  all.push_back(decodeScalar);
  return all;
}

namespace {

// The widest vectors the processor has, chosen once: the first of the lists above.
detail::FirstUnsound bestCheck() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (hasAvx512()) return firstUnsoundAvx512;
  if (hasAvx2()) return firstUnsoundAvx2;
#endif
#if defined(__SSE2__)
  return firstUnsoundSse2;
#else
  return firstUnsoundScalar;
#endif
}

detail::DecodePairs bestDecoder() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (hasAvx512()) return decodeAvx512;
#endif
#if defined(__SSE2__)
  return decodeSse2;
#else
  return decodeScalar;
#endif
}

const detail::FirstUnsound firstUnsoundOf = bestCheck();
const detail::DecodePairs decode = bestDecoder();

} // namespace

void decodeSoundPairs(const char* text, std::size_t pairs, std::uint8_t* out) noexcept {
  if (pairs > 0) decode(text, pairs, out);
}

RecordFault checkRecord(std::string_view token) noexcept {
  using Kind = RecordFault::Kind;
  if (!isRecord(token)) return {};
  if (token.size() < 4 ||
      std::any_of(token.begin() + 2, token.end(), [](char c) { return hexDigit(c) < 0; }))
    return {.kind = Kind::badDigit};
  const auto count = static_cast<unsigned>(byteAt(token, 2));
  if (token.size() != 4 + 2 * std::size_t{count})
    return {.kind = Kind::length, .count = count, .holds = (token.size() - 4) / 2};
  unsigned sum = 0;
  for (std::size_t at = 2; at + 2 < token.size(); at += 2)
    sum += static_cast<unsigned>(byteAt(token, at));
  const auto found = static_cast<std::uint8_t>(byteAt(token, token.size() - 2));
  const auto expected = static_cast<std::uint8_t>(~sum);
  if (found != expected) return {.kind = Kind::checksum, .found = found, .expected = expected};
  return {};
}

std::size_t firstUnsound(const char* block, const LineSpan* lines, std::size_t count) noexcept {
  return firstUnsoundOf(block, lines, count);
}

std::string describe(const RecordFault& fault, unsigned long line) {
  char text[128];
  switch (fault.kind) {
  case RecordFault::Kind::badDigit:
    std::snprintf(text, sizeof text, "Bad hex digit in record at line %lu.", line);
    break;
  case RecordFault::Kind::length:
    std::snprintf(text, sizeof text, "Record at line %lu holds %zu bytes; its count says %u.", line,
                  fault.holds, fault.count);
    break;
  case RecordFault::Kind::checksum:
    std::snprintf(text, sizeof text, "Bad checksum in record at line %lu: %02X, expected %02X.",
                  line, unsigned{fault.found}, unsigned{fault.expected});
    break;
  case RecordFault::Kind::none:
    return {};
  }
  return text;
}

std::optional<Failure> RecordChecks::tell(const RecordFault& fault, unsigned long line) {
  if (strict_) return Failure{.kind = Failure::Kind::malformed, .line = line, .fault = fault};
  if (++malformed_ > messageLimit) return std::nullopt;
  const std::string text = describe(fault, line) + "\n";
  if (!messages_.write(text)) return Failure{Failure::Kind::writeStdout};
  return std::nullopt;
}

std::string malformedSummary(unsigned long malformed) {
  if (malformed <= RecordChecks::messageLimit) return {};
  return std::to_string(malformed) + " malformed records in all.\n";
}

} // namespace srec
