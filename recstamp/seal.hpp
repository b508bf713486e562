// The CRC record that seals an image after each version record: 0 to 3 bytes 0xFF, so that the
// CRC starts at a multiple of 4, then the CRC of every byte from the image's first data address
// up to it, the version records and earlier CRC records included, gaps read as erased flash.
#pragma once

#include "recstamp/crc.hpp"
#include "srec/check.hpp"
#include "srec/failure.hpp"
#include "srec/hex.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace recstamp {

enum class CrcVariant {
  crc32,   // CRC-32/ISO-HDLC, stored little-endian
  crc32Be, // the same, stored big-endian
  mpeg2,   // CRC-32/MPEG-2 of the image read as little-endian words, stored little-endian
};

class Seal {
public:
  explicit Seal(CrcVariant variant) noexcept;

  // The bytes of a data record of the input that starts on `line`: `pairs` pairs of characters
  // at `text`, which are hex digits when `sound`. Records must come in address order, without
  // overlap: a record below the data before it is a failure.
  std::optional<srec::Failure> data(std::uint32_t address, const char* text, std::size_t pairs,
                                    unsigned long line, bool sound);
  // The same for a data record that passed the check, S1, S2 or S3, quickly.
  std::optional<srec::Failure> soundData(std::string_view record, unsigned long line) {
    const std::size_t addressDigits = 2 * static_cast<std::size_t>(record[1] - '0' + 1);
    std::uint32_t address = 0;
    for (std::size_t i = 4; i < 4 + addressDigits; ++i)
      address = address << 4 | static_cast<std::uint32_t>(srec::hexDigit(record[i]));
    const std::size_t start = 4 + addressDigits;
    const std::size_t pairs = record.size() > start + 2 ? (record.size() - 2 - start) / 2 : 0;
    // Most records go on where the one before ended.
    if (address == end_ && started_ && !broken_ && pairs <= pending_.size() - pendingSize_) {
      srec::decodeSoundPairs(record.data() + start, pairs, pending_.data() + pendingSize_);
      pendingSize_ += pairs;
      end_ += pairs;
      return std::nullopt;
    }
    return data(address, record.data() + start, pairs, line, true);
  }
  // A version record's bytes at `address`. One below the data before it makes every CRC after it
  // wrong; the run must fail, as the check of versions against the data does once the input is
  // read: broken() tells.
  std::optional<srec::Failure> version(std::uint64_t address, std::string_view bytes);
  // The data of the CRC record at `address`, right after a version record, and the bytes it adds.
  std::string record(std::uint64_t address);

  [[nodiscard]] bool broken() const noexcept { return broken_; }

private:
  // Bytes at `address` that don't go before the data before them.
  std::optional<srec::Failure> place(std::uint64_t address, unsigned long line);
  void flush() noexcept;

  CrcVariant variant_;
  ImageCrc crc_;
  bool started_ = false;
  bool broken_ = false;
  std::uint64_t end_ = 0; // the address after the last byte counted in, in 64 bits: no wrap
  // Bytes of consecutive records, counted in a block at a time: the CRC is fastest over many.
  std::array<std::uint8_t, 16384> pending_{};
  std::size_t pendingSize_ = 0;
};

} // namespace recstamp
