#include "recstamp/version_record.hpp"

#include <numeric>

namespace recstamp {
namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// Writes the low `bytes` bytes of `value`, most significant first, two digits each.
void writeHex(srec::BufferedWriter& out, std::uint32_t value, int bytes) {
  char* digits = out.extend(2 * static_cast<std::size_t>(bytes));
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    *digits++ = hexDigits[(value >> (shift + 4)) & 0xF];
    *digits++ = hexDigits[(value >> shift) & 0xF];
  }
}

} // namespace

std::string versionField(std::string_view version) {
  std::string field(version);
  field.append((4 - field.size() % 4) % 4, 'F');
  return field;
}

bool VersionRecord::addressFits() const noexcept {
  return recType == 3 || address >> (8 * (recType + 1)) == 0;
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
  const char type[] = {'S', static_cast<char>('0' + recType)};
  out.write({type, sizeof type});
  writeHex(out, count(), 1);
  writeHex(out, address, recType + 1);
  for (const char c : data)
    writeHex(out, static_cast<unsigned char>(c), 1);
  writeHex(out, checksum(), 1);
  out.put('\n');
}

} // namespace recstamp
