#include "hexarray/convert.hpp"

#include "srec/check.hpp"
#include "srec/record.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hexarray {
namespace {

// The text of eight entries, each ", 0x" and a pair's two characters, with the pairs left as
// zero; or, for `mask`, all ones where the pairs go and zero elsewhere.
constexpr std::array<char, 48> eightEntryText(bool mask) {
  std::array<char, 48> text{};
  for (std::size_t entry = 0; entry < 8; ++entry)
    for (std::size_t i = 0; i < 6; ++i)
      text[6 * entry + i] = mask ? (i < 4 ? '\0' : '\xFF') : ", 0x"[i < 4 ? i : 4];
  return text;
}
constexpr std::array<char, 48> eightEntries = eightEntryText(false);
constexpr std::array<char, 48> eightPairs = eightEntryText(true);

} // namespace

bool writeEntries(const char* pair, std::size_t count, char* text) noexcept {
  int digits = 0; // negative once a character is no hex digit
#if defined(__SSE2__)
  // Eight pairs at a time. As 16-bit words the 48 bytes of text are ", " "0x" P0 ", " "0x" P1 and
  // so on: each of the three 16-byte parts takes its pairs' words by two word shuffles, keeps
  // them by the mask and gets the rest from the constant text.
  const auto part = [](__m128i pairs, std::size_t at) {
    const auto* mask = reinterpret_cast<const __m128i*>(&eightPairs[at]);
    const auto* constant = reinterpret_cast<const __m128i*>(&eightEntries[at]);
    return _mm_or_si128(_mm_and_si128(pairs, _mm_loadu_si128(mask)), _mm_loadu_si128(constant));
  };
  // A digit is (byte - '0') <= 9 unsigned; a letter of either case is ((byte | 0x20) - 'a') <= 5.
  const auto hexBytes = [](__m128i bytes) {
    const __m128i digit = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i letter =
        _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    return _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit),
                        _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter));
  };
  __m128i allHex = _mm_set1_epi8(-1);
  for (; count >= 8; count -= 8, pair += 16, text += 48) {
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pair)); // P0 .. P7
    allHex = _mm_and_si128(allHex, hexBytes(pairs));
    const __m128i low = _mm_unpacklo_epi64(pairs, pairs);  // P0 P1 P2 P3 P0 P1 P2 P3
    const __m128i high = _mm_unpackhi_epi64(pairs, pairs); // P4 P5 P6 P7 P4 P5 P6 P7
    // Words 2 and 5: P0 and P1; words 0, 3 and 6: P2, P3 and P4; words 1, 4 and 7: P5, P6, P7.
    const __m128i first = _mm_shufflehi_epi16(_mm_shufflelo_epi16(low, 0x00), 0x55);
    const __m128i second = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pairs, 0xFA), 0x00);
    const __m128i third = _mm_shufflehi_epi16(_mm_shufflelo_epi16(high, 0x55), 0xFA);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(text), part(first, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(text + 16), part(second, 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(text + 32), part(third, 32));
  }
  digits = _mm_movemask_epi8(allHex) - 0xFFFF;
#endif
  for (; count > 0; --count, pair += 2, text += 6) {
    digits |= srec::hexDigit(pair[0]) | srec::hexDigit(pair[1]);
    std::copy_n(eightEntries.data(), 4, text);
    std::copy_n(pair, 2, text + 4);
  }
  return digits >= 0;
}

namespace {

bool warnGap(srec::ByteSink& messages, std::uint32_t sAddr, std::uint32_t lastAddr,
             std::uint32_t lastLen) {
  const std::string text = "S-record has gaps: sAddr=0x" + srec::toHex(sAddr) + ", lastAddr=0x" +
                           srec::toHex(lastAddr) + ", lastLen=0x" + srec::toHex(lastLen) + "\n";
  return messages.write(text);
}

// The fault of a record to tell, if it has one: none for a bad digit among the `pairs` pairs
// from `start` on, which are written and fail the run anyway. Out of line, since a batch check of
// the lines ahead nearly always finds the record sound.
[[gnu::noinline]] srec::RecordFault faultToTell(std::string_view token, std::size_t start,
                                                std::size_t pairs) {
  if (srec::isSound(token)) return {};
  const srec::RecordFault fault = srec::checkRecord(token);
  const auto text = token.substr(std::min(start, token.size()), 2 * pairs);
  if (fault.kind == srec::RecordFault::Kind::badDigit &&
      std::any_of(text.begin(), text.end(), [](char c) { return srec::hexDigit(c) < 0; }))
    return {};
  return fault;
}

// A gap is written from lines of sixteen fill entries, each ended as a record's line is, made
// once and copied many lines at a time, so that any gap takes few large writes and no memory.
constexpr std::size_t fillLineSize = 16 * 6 + 2;
constexpr std::size_t fillLines = 1024;

std::string fillLinesText(std::uint8_t byte) {
  const std::string entry = {
      ',', ' ', '0', 'x', srec::upperHexDigits[byte >> 4], srec::upperHexDigits[byte & 0xF]};
  std::string line;
  for (int i = 0; i < 16; ++i)
    line += entry;
  line += "\n\t";
  std::string text;
  text.reserve(fillLines * fillLineSize);
  for (std::size_t i = 0; i < fillLines; ++i)
    text += line;
  return text;
}

// `count` fill entries, sixteen to a line, the last line holding the rest.
void writeFill(srec::BufferedWriter& out, std::string_view text, std::uint64_t count) {
  for (std::uint64_t lines = count / 16; lines > 0;) {
    const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(lines, fillLines));
    out.write(text.substr(0, chunk * fillLineSize));
    lines -= chunk;
  }
  if (const auto rest = static_cast<std::size_t>(count % 16); rest > 0) {
    out.write(text.substr(0, 6 * rest));
    out.write("\n\t");
  }
}

} // namespace

std::optional<srec::Failure> convert(srec::TokenReader& in, srec::BufferedWriter& out, Array& array,
                                     srec::ByteSink& messages, srec::RecordChecks& checks) {
  using Kind = srec::Failure::Kind;
  if (!array.include.empty()) out.write("#include \"" + array.include + "\"\n");
  out.write("\nconst unsigned char ");
  out.write(array.name);
  out.write("[] = \n{\n\t  ");

  // Address-true, the array's first line is the same as without: it starts with a record's first
  // byte, without a separator, after "\t  " (or on the next line, after a line "\t  " alone, when
  // records without data come first); a gap never comes first. A gap follows the "\n\t" that ends
  // a record's line, as lines of its own of up to sixteen entries ", 0xFF", each ended by "\n\t"
  // as well, so the next record's line goes on with its ", 0x" entries.
  const bool fill = array.fill.has_value();
  const std::string fillText = fill ? fillLinesText(*array.fill) : std::string();
  std::uint64_t totalSize = 0;
  bool firstByte = true;
  std::uint32_t lastAddr = 0;
  std::uint32_t lastLen = 0;
  std::uint64_t end = 0; // the element after the last byte placed, in 64 bits: it does not wrap
  srec::AddressingProbe probe(array.addressing);
  while (!out.failed()) {
    const auto token = in.next();
    if (!token) break;
    const bool sound = in.lastIsSound();
    if (srec::recordKind(*token) != srec::RecordKind::data) {
      if (!sound)
        if (auto failure = checks.report(faultToTell(*token, 0, 0), in.line())) return failure;
      continue;
    }
    const srec::RecordHeader header = srec::decodeHeader(*token);
    probe.note(header);
    const bool words = probe.addressing() == srec::Addressing::word;
    // Pairs start at the data and stop before the last two characters, the checksum; the length
    // of the token bounds them, not its count field. A bad digit among them stops the run below.
    const std::size_t start = header.dataStart();
    const std::size_t pairs = token->size() > start + 2 ? (token->size() - 1 - start) / 2 : 0;
    if (!sound)
      if (auto failure = checks.report(faultToTell(*token, start, pairs), in.line()))
        return failure;

    // Records before the first written byte have nothing to continue. Address-true, a record is
    // placed by the bytes it holds, and one without any is placed nowhere.
    std::uint64_t place = 0; // of its first byte, address-true
    if (!firstByte && !fill) {
      if (header.sAddr != lastAddr + (words ? lastLen / 2 : lastLen) &&
          !warnGap(messages, header.sAddr, lastAddr, lastLen))
        return srec::Failure{Kind::writeStdout};
    } else if (!firstByte && pairs > 0) {
      place = (std::uint64_t{header.sAddr} - array.address) << (words ? 1 : 0);
      if (header.sAddr < array.address || place < end)
        return srec::Failure{Kind::outOfOrder, in.line()};
      writeFill(out, fillText, place - end);
      totalSize += place - end;
    }

    const char* pair = token->data() + start;
    std::size_t left = pairs;
    if (firstByte && left > 0) {
      // The array's very first byte has no separator.
      char text[6];
      if (!writeEntries(pair, 1, text)) return srec::Failure{Kind::badHexDigit, in.line()};
      out.write({text + 2, 4});
      firstByte = false;
      array.address = header.sAddr;
      pair += 2;
      --left;
    }
    totalSize += pairs;
    while (left > 0) {
      // A chunk of pairs at a time, each written as ", 0x" and its two characters.
      const std::size_t chunk = std::min(left, out.capacity() / 6);
      if (!writeEntries(pair, chunk, out.extend(6 * chunk)))
        return srec::Failure{Kind::badHexDigit, in.line()};
      pair += 2 * chunk;
      left -= chunk;
    }
    out.write("\n\t");
    lastAddr = header.sAddr;
    lastLen = static_cast<std::uint32_t>(header.dataLen);
    if (pairs > 0) end = place + pairs;
  }

  if (out.failed()) return srec::Failure{Kind::write};
  if (auto failure = in.failure()) return failure;
  // An empty array is no valid C, and has no address.
  if (firstByte && (fill || !array.include.empty())) return srec::Failure{Kind::noData};
  array.size = totalSize;
  out.write("\n}; /* Total Size = " + std::to_string(totalSize) + " bytes */\n\n");
  return std::nullopt;
}

} // namespace hexarray
