// The CRC that seals an image: CRC-32 of every byte from its first data address on, gaps read as
// erased flash (0xFF), computed in one pass as the bytes come.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace recstamp {

// CRC-32 as zlib and Ethernet compute it (polynomial 0x04C11DB7 reflected, 0xEDB88320), on its
// bare register: no initial value, no final xor. Both variants below are made of it.
std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size) noexcept;
// The register after `count` bytes 0xFF more, in time that grows with the logarithm of count.
std::uint32_t crc32Fill(std::uint32_t crc, std::uint64_t count) noexcept;

class ImageCrc {
public:
  enum class Kind {
    isoHdlc, // CRC-32/ISO-HDLC: initial 0xFFFFFFFF, reflected, final xor 0xFFFFFFFF
    mpeg2,   // CRC-32/MPEG-2 (initial 0xFFFFFFFF, not reflected, no final xor) of the image read
             // as little-endian 32-bit words, each taken from its most significant bit down
  };

  explicit ImageCrc(Kind kind) noexcept : kind_(kind) {}

  // The next bytes of the image, in address order.
  void update(const std::uint8_t* bytes, std::size_t size) noexcept;
  // `count` bytes 0xFF, as fast whatever the count.
  void fill(std::uint64_t count) noexcept;
  // The CRC of the bytes so far; for mpeg2, of their whole words.
  [[nodiscard]] std::uint32_t value() const noexcept;

private:
  void updateWords(const std::uint8_t* bytes, std::size_t words) noexcept;

  Kind kind_;
  std::uint32_t crc_ = 0xFFFFFFFF;
  // mpeg2: the bytes of a word not yet whole.
  std::uint8_t word_[4] = {};
  std::size_t wordSize_ = 0;
  std::array<std::uint32_t, 1024> reversed_{}; // mpeg2: words made ready for the reflected CRC
};

} // namespace recstamp
