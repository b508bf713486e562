// The data record that carries the version text into an image.
#pragma once

#include "srec/io.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace recstamp {

// The longest version text whose padded record still has a one-byte count in every kind:
// 248 data bytes + 4 address bytes + 1 checksum byte = 253.
inline constexpr std::size_t maxVersionLength = 248;

// The version text padded with 'F' to a multiple of four bytes: the data of every version record.
std::string versionField(std::string_view version);

// One version record. Its count and checksum are derived from its kind, address and data.
struct VersionRecord {
  int recType = 3;           // 1, 2 or 3 for S1, S2, S3
  std::uint64_t address = 0; // as computed, which may be beyond what the kind can hold
  std::string_view data;

  // Data bytes + address bytes + the checksum byte.
  [[nodiscard]] std::uint32_t count() const noexcept {
    return static_cast<std::uint32_t>(data.size()) + static_cast<std::uint32_t>(recType) + 2;
  }
  // False when the address needs more digits than the kind has (S1: 4, S2: 6, S3: 8).
  [[nodiscard]] bool addressFits() const noexcept { return address >> (8 * (recType + 1)) == 0; }
  [[nodiscard]] std::uint8_t checksum() const noexcept;
  // Writes the record as one line in upper-case hex, ending in '\n'.
  void writeTo(srec::BufferedWriter& out) const;
};

} // namespace recstamp
