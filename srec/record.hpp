// The front of an S-record as both tools read it: the record kind and the header of a data record.
// Nothing here validates a record; a character that is not a hex digit simply decodes as -1.
#pragma once

#include "srec/hex.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace srec {

// Character `index` of a token. Positions at or past its end read as the NUL that ends it, so a
// short token decodes deterministically and nothing outside it is ever read.
constexpr char charAt(std::string_view token, std::size_t index) noexcept {
  return index < token.size() ? token[index] : '\0';
}

enum class RecordKind {
  data,        // S1, S2, S3
  termination, // S7, S8, S9
  other,       // S0, S5, anything else
};

// The kind of a token, decided by its second character alone; the leading 'S' is never examined.
constexpr RecordKind recordKind(std::string_view token) noexcept {
  switch (charAt(token, 1)) {
  case '1':
  case '2':
  case '3':
    return RecordKind::data;
  case '7':
  case '8':
  case '9':
    return RecordKind::termination;
  default:
    return RecordKind::other;
  }
}

// Decoded front of a data record.
struct RecordHeader {
  int recType = 0;          // 1, 2 or 3 for S1, S2, S3
  int count = 0;            // the byte count field; negative when its digits are not hex
  std::int32_t dataLen = 0; // data bytes the count announces: count - (address bytes + 1)
  std::uint32_t sAddr = 0;  // start address

  [[nodiscard]] constexpr std::size_t addressDigits() const noexcept {
    return 2 * static_cast<std::size_t>(recType + 1);
  }
  // Index of the first data character in the token.
  [[nodiscard]] constexpr std::size_t dataStart() const noexcept { return 4 + addressDigits(); }
};

// Decodes a token whose kind is RecordKind::data. Address arithmetic is unsigned 32-bit with
// wrap-around: a digit of -1 contributes (uint32)-1 at its place, as any other digit would.
constexpr RecordHeader decodeHeader(std::string_view token) noexcept {
  RecordHeader header;
  header.recType = charAt(token, 1) - '0';
  header.count = hexDigit(charAt(token, 2)) * 16 + hexDigit(charAt(token, 3));
  header.dataLen = header.count - (header.recType + 2);
  const auto addDigits = [&](auto digitAt, std::size_t end) {
    for (std::size_t i = 4; i < end; ++i)
      header.sAddr = header.sAddr * 16 + static_cast<std::uint32_t>(hexDigit(digitAt(i)));
  };
  const auto inToken = [&](std::size_t i) { return token[i]; };
  // Whole headers, the usual case, are read without a bounds check per digit, and with a number
  // of digits fixed for each kind, so the loop is unrolled.
  if (header.dataStart() > token.size())
    addDigits([&](std::size_t i) { return charAt(token, i); }, header.dataStart());
  else if (header.recType == 3)
    addDigits(inToken, 12);
  else if (header.recType == 2)
    addDigits(inToken, 10);
  else
    addDigits(inToken, 8);
  return header;
}

// How an image counts its addresses: in bytes, or in 16-bit words (a record of L bytes then
// covers L / 2 addresses). `shown`: as the image shows it, which it has not yet.
enum class Addressing { shown, word, byte };

// Watches an image's data records, in input order, until they show how it counts: the first pair
// of consecutive ones whose first announces a length L of at least 2 and whose second starts L
// (bytes) or L / 2 (words) after it, with 32-bit wrap-around; or, before that, a record of odd
// length, since a word image holds whole words. Where a record completes a pair, the pair decides
// first. A length is never more than 252, the most a count announces.
class AddressingProbe {
public:
  explicit constexpr AddressingProbe(Addressing given) noexcept : addressing_(given) {}

  constexpr void note(const RecordHeader& header) noexcept {
    if (addressing_ != Addressing::shown) return;
    if (pairLen_ >= 2) {
      const auto whole = static_cast<std::uint32_t>(pairLen_);
      if (header.sAddr == pairAddr_ + whole)
        addressing_ = Addressing::byte;
      else if (header.sAddr == pairAddr_ + whole / 2)
        addressing_ = Addressing::word;
    }
    if (addressing_ == Addressing::shown && header.dataLen % 2 == 1) addressing_ = Addressing::byte;
    pairAddr_ = header.sAddr;
    pairLen_ = header.dataLen;
  }
  [[nodiscard]] constexpr Addressing addressing() const noexcept { return addressing_; }

private:
  Addressing addressing_;
  std::uint32_t pairAddr_ = 0;
  std::int32_t pairLen_ = 0; // of the data record before
};

} // namespace srec
