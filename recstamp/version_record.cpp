#include "recstamp/version_record.hpp"

#include "srec/hex.hpp"

#include <array>
#include <numeric>

namespace recstamp {

std::string versionField(std::string_view version) {
  std::string field(version);
  field.append((4 - field.size() % 4) % 4, 'F');
  return field;
}

std::uint8_t VersionRecord::checksum() const noexcept {
  std::uint32_t sum = count();
  for (int shift = 0; shift < 8 * (recType + 1); shift += 8)
    sum += (address >> shift) & 0xFF;
  sum = std::accumulate(data.begin(), data.end(), sum, [](std::uint32_t total, char c) {
    return total + static_cast<unsigned char>(c);
  });
  return static_cast<std::uint8_t>(~sum & 0xFF);
}

void VersionRecord::writeTo(srec::BufferedWriter& out) const {
  // "S", the type, then count, address, data and checksum as hex pairs, then the line end: at
  // most 2 + 2 * 256 + 1 characters.
  std::array<char, 2 + 2 * 256 + 1> line{};
  char* text = line.data();
  *text++ = 'S';
  *text++ = static_cast<char>('0' + recType);
  text = srec::putHexBytes(text, count(), 1);
  text = srec::putHexBytes(text, static_cast<std::uint32_t>(address), recType + 1);
  for (const char c : data)
    // cppcheck-suppress useStlAlgorithm
    text = srec::putHexBytes(text, static_cast<unsigned char>(c), 1);
  text = srec::putHexBytes(text, checksum(), 1);
  *text++ = '\n';
  out.write({line.data(), static_cast<std::size_t>(text - line.data())});
}

} // namespace recstamp
