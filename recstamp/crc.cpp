#include "recstamp/crc.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace recstamp {
namespace {

constexpr std::uint32_t polynomial = 0xEDB88320; // reflected: bit 31 is x^0, bit 0 x^31

// Slicing by eight: table[k][b] is the register after byte b and k zero bytes.
constexpr std::array<std::array<std::uint32_t, 256>, 8> tables = [] {
  std::array<std::array<std::uint32_t, 256>, 8> t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t crc = b;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) != 0 ? (crc >> 1) ^ polynomial : crc >> 1;
    t[0][b] = crc;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::size_t b = 0; b < 256; ++b)
      t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  return t;
}();

std::uint32_t updateByTable(std::uint32_t crc, const std::uint8_t* p, std::size_t size) noexcept {
  for (; size >= 8; size -= 8, p += 8) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      low = __builtin_bswap32(low);
      high = __builtin_bswap32(high);
    }
    low ^= crc;
    crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
          tables[4][low >> 24] ^ tables[3][high & 0xFF] ^ tables[2][(high >> 8) & 0xFF] ^
          tables[1][(high >> 16) & 0xFF] ^ tables[0][high >> 24];
  }
  for (; size > 0; --size, ++p)
    crc = (crc >> 8) ^ tables[0][(crc ^ *p) & 0xFF];
  return crc;
}

// a * b modulo the polynomial, both reflected.
constexpr std::uint32_t multiply(std::uint32_t a, std::uint32_t b) noexcept {
  std::uint32_t product = 0;
  for (std::uint32_t term = 0x80000000; term != 0; term >>= 1) {
    if ((a & term) != 0) product ^= b;
    b = (b & 1) != 0 ? (b >> 1) ^ polynomial : b >> 1;
  }
  return product;
}

// For each power of two 2^k: x^(8 * 2^k), which moves a register past 2^k bytes, and the
// register that 2^k bytes 0xFF leave from zero. A run of 0xFF is then the sum of its bits' runs.
struct FillStep {
  std::uint32_t shift;
  std::uint32_t ones;
};
constexpr std::array<FillStep, 64> fillSteps = [] {
  std::array<FillStep, 64> steps{};
  steps[0] = {0x00800000, tables[0][0xFF]}; // x^8; one byte 0xFF
  for (std::size_t k = 1; k != steps.size(); ++k) {
    const FillStep half = steps[k - 1];
    steps[k].shift = multiply(half.shift, half.shift);
    steps[k].ones = multiply(half.ones, half.shift) ^ half.ones;
  }
  return steps;
}();

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("pclmul,sse4.1"))) __m128i load(const std::uint8_t* at) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// `x` carried as far as `constants` say, added to `next`.
__attribute__((target("pclmul,sse4.1"))) __m128i fold(__m128i x, __m128i constants,
                                                      __m128i next) noexcept {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, constants, 0x00),
                                     _mm_clmulepi64_si128(x, constants, 0x11)),
                       next);
}

// Folding by carry-less multiplication: four 16-byte lanes are carried 64 bytes further at a time
// (x^(4*128+32) and x^(4*128-32) modulo the polynomial, reflected), then folded into one (the same
// for 128 bits); its 16 bytes leave, by the table, the register the whole run leaves.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t
updateByClmul(std::uint32_t crc, const std::uint8_t* p, std::size_t size) noexcept {
  const __m128i by64 = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);
  const __m128i by16 = _mm_set_epi64x(0x0CCAA009E, 0x1751997D0);
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16);
  __m128i x2 = load(p + 32);
  __m128i x3 = load(p + 48);
  for (p += 64, size -= 64; size >= 64; p += 64, size -= 64) {
    x0 = fold(x0, by64, load(p));
    x1 = fold(x1, by64, load(p + 16));
    x2 = fold(x2, by64, load(p + 32));
    x3 = fold(x3, by64, load(p + 48));
  }
  x0 = fold(fold(fold(x0, by16, x1), by16, x2), by16, x3);
  for (; size >= 16; p += 16, size -= 16)
    x0 = fold(x0, by16, load(p));
  alignas(16) std::uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x0);
  return updateByTable(updateByTable(0, rest, 16), p, size);
}

// The same with four 512-bit lanes of four 128-bit ones each, 256 bytes a step (the constants
// for 2048 bits), folded into one lane by 512 bits at a time, whose four parts are then carried
// to the last by 384, 256 and 128 bits; the rest as above.
__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) __m512i
wideLoad(const std::uint8_t* at) noexcept {
  return _mm512_loadu_si512(at);
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) __m512i
wideFold(__m512i x, __m512i constants, __m512i next) noexcept {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, constants, 0x00),
                                   _mm512_clmulepi64_epi128(x, constants, 0x11), next, 0x96);
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) std::uint32_t
updateByWideClmul(std::uint32_t crc, const std::uint8_t* p, std::size_t size) noexcept {
  const __m512i by256 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x1322D1430, 0x11542778A));
  const __m512i by64 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x1C6E41596, 0x154442BD4));
  __m512i x0 = _mm512_xor_si512(wideLoad(p),
                                _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  __m512i x1 = wideLoad(p + 64);
  __m512i x2 = wideLoad(p + 128);
  __m512i x3 = wideLoad(p + 192);
  for (p += 256, size -= 256; size >= 256; p += 256, size -= 256) {
    x0 = wideFold(x0, by256, wideLoad(p));
    x1 = wideFold(x1, by256, wideLoad(p + 64));
    x2 = wideFold(x2, by256, wideLoad(p + 128));
    x3 = wideFold(x3, by256, wideLoad(p + 192));
  }
  x0 = wideFold(wideFold(wideFold(x0, by64, x1), by64, x2), by64, x3);
  for (; size >= 64; p += 64, size -= 64)
    x0 = wideFold(x0, by64, wideLoad(p));
  // Parts 0, 1 and 2 carried to part 3 and added to it.
  const __m512i toLast = _mm512_set_epi64(0, 0, 0x0CCAA009E, 0x1751997D0, 0x15A546366, 0x0F1DA05AA,
                                          0x174359406, 0x03DB1ECDC);
  const __m512i carried = _mm512_xor_si512(_mm512_clmulepi64_epi128(x0, toLast, 0x00),
                                           _mm512_clmulepi64_epi128(x0, toLast, 0x11));
  const __m128i last = _mm512_maskz_extracti32x4_epi32(0xF, x0, 3);
  __m128i x = _mm_xor_si128(_mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, carried, 0),
                                          _mm512_maskz_extracti32x4_epi32(0xF, carried, 1)),
                            _mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, carried, 2), last));
  const __m128i by16 = _mm_set_epi64x(0x0CCAA009E, 0x1751997D0);
  for (; size >= 16; p += 16, size -= 16)
    x = fold(x, by16, load(p));
  alignas(16) std::uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  return updateByTable(updateByTable(0, rest, 16), p, size);
}

bool hasWideClmul() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq") &&
         __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
const bool wideClmul = hasWideClmul();

bool hasClmul() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
const bool clmul = hasClmul();
#endif

// Reverses the bits of a 32-bit word. A word whose bits come most significant first is then a
// reflected CRC's input.
constexpr std::uint32_t reflect(std::uint32_t word) noexcept {
  word = ((word >> 1) & 0x55555555) | ((word & 0x55555555) << 1);
  word = ((word >> 2) & 0x33333333) | ((word & 0x33333333) << 2);
  word = ((word >> 4) & 0x0F0F0F0F) | ((word & 0x0F0F0F0F) << 4);
  return __builtin_bswap32(word);
}

} // namespace

std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (wideClmul && size >= 256) return updateByWideClmul(crc, bytes, size);
  if (clmul && size >= 64) return updateByClmul(crc, bytes, size);
#endif
  return updateByTable(crc, bytes, size);
}

std::uint32_t crc32Fill(std::uint32_t crc, std::uint64_t count) noexcept {
  for (std::size_t k = 0; count != 0; ++k, count >>= 1)
    if ((count & 1) != 0) crc = multiply(crc, fillSteps[k].shift) ^ fillSteps[k].ones;
  return crc;
}

namespace {

// Each little-endian word of `words` with its bits reversed, to `out`.
void reflectWords(const std::uint8_t* bytes, std::size_t words, std::uint32_t* out) noexcept {
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes + 4 * i, 4);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    out[i] = reflect(word);
    if constexpr (std::endian::native == std::endian::big) out[i] = __builtin_bswap32(out[i]);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four words at a time: each byte's bits reversed by a table of each half's, the bytes of each
// word in reverse order.
__attribute__((target("ssse3"))) void
reflectWordsSsse3(const std::uint8_t* bytes, std::size_t words, std::uint32_t* out) noexcept {
  const __m128i reversedHalves =
      _mm_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF);
  const __m128i byteOrder = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  const __m128i lowHalves = _mm_set1_epi8(0x0F);
  for (; words >= 4; words -= 4, bytes += 16, out += 4) {
    const __m128i x =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), byteOrder);
    const __m128i low = _mm_shuffle_epi8(reversedHalves, _mm_and_si128(x, lowHalves));
    const __m128i high =
        _mm_shuffle_epi8(reversedHalves, _mm_and_si128(_mm_srli_epi16(x, 4), lowHalves));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_slli_epi16(low, 4), high));
  }
  reflectWords(bytes, words, out);
}

bool hasSsse3() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}
const bool ssse3 = hasSsse3();
#endif

} // namespace

// MPEG-2 reads each little-endian word from its top bit down: with every word's bits reversed,
// that is the reflected CRC of the same polynomial, whose register ends reversed.
void ImageCrc::updateWords(const std::uint8_t* bytes, std::size_t words) noexcept {
  while (words > 0) {
    const std::size_t chunk = std::min(words, reversed_.size());
#if defined(__x86_64__) && defined(__GNUC__)
    if (ssse3)
      reflectWordsSsse3(bytes, chunk, reversed_.data());
    else
#endif
      reflectWords(bytes, chunk, reversed_.data());
    crc_ = crc32Update(crc_, reinterpret_cast<const std::uint8_t*>(reversed_.data()), 4 * chunk);
    bytes += 4 * chunk;
    words -= chunk;
  }
}

void ImageCrc::update(const std::uint8_t* bytes, std::size_t size) noexcept {
  if (kind_ == Kind::isoHdlc) {
    crc_ = crc32Update(crc_, bytes, size);
    return;
  }
  if (wordSize_ > 0) {
    const std::size_t taken = std::min(size, 4 - wordSize_);
    std::copy_n(bytes, taken, word_ + wordSize_);
    wordSize_ += taken;
    bytes += taken;
    size -= taken;
    if (wordSize_ < 4) return;
    updateWords(word_, 1);
    wordSize_ = 0;
  }
  updateWords(bytes, size / 4);
  std::copy_n(bytes + size / 4 * 4, size % 4, word_);
  wordSize_ = size % 4;
}

void ImageCrc::fill(std::uint64_t count) noexcept {
  if (kind_ == Kind::isoHdlc) {
    crc_ = crc32Fill(crc_, count);
    return;
  }
  // Up to a whole word and after the last; 0xFF reversed is 0xFF, so whole words of it need no
  // care.
  static constexpr std::uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  if (wordSize_ > 0) {
    const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(count, 4 - wordSize_));
    update(ones, taken);
    count -= taken;
  }
  crc_ = crc32Fill(crc_, count / 4 * 4);
  update(ones, static_cast<std::size_t>(count % 4));
}

std::uint32_t ImageCrc::value() const noexcept {
  return kind_ == Kind::isoHdlc ? ~crc_ : reflect(crc_);
}

} // namespace recstamp
