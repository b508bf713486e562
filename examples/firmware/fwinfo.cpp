// fwinfo: checks the CRC that seals the firmware image it carries, then prints the image's version
// and size, as a firmware updater would before flashing it. The image is hexarray's address-true
// array.
#include "firmware_image.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#if FIRMWARE_IMAGE_SIZE > 64 * 1024
#error "The firmware outgrew its 64 KiB of flash."
#endif

static_assert(sizeof firmware_image == FIRMWARE_IMAGE_SIZE, "the header declares the array's size");
static_assert(FIRMWARE_IMAGE_SIZE >= 12, "the image holds its header and a CRC");

namespace {

std::uint32_t readLittleEndian32(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | static_cast<std::uint32_t>(bytes[2]) << 16 |
         static_cast<std::uint32_t>(bytes[3]) << 24;
}

// CRC-32/ISO-HDLC, zlib's, a bit at a time: the fewest lines, and quick enough for 64 KiB.
std::uint32_t crc32(const unsigned char* bytes, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

// The firmware begins with "FWIM" and the length of its own bytes (its linker script writes
// both). The build stamped the version right after those bytes, its text padded with F to a
// multiple of four bytes, then sealed the image: 0 to 3 bytes 0xFF, so that the CRC starts at an
// address that is a multiple of 4, and the CRC of every byte before it, little-endian, the last
// four bytes of the array. So the version is what lies between the firmware's length and that
// padding, less up to three final F: found from the image's own header, never by searching its
// data for something that looks like text. Empty when the image is not laid out so.
std::string imageVersion(std::size_t crcAt) {
  if (crcAt < 8 || std::memcmp(firmware_image, "FWIM", 4) != 0) return {};
  const std::uint32_t length = readLittleEndian32(firmware_image + 4);
  const std::size_t padding = (4 - (FIRMWARE_IMAGE_ADDRESS + length) % 4) % 4;
  if (length < 8 || length + padding >= crcAt || (crcAt - padding - length) % 4 != 0) return {};
  const std::size_t start = length;
  std::size_t end = crcAt - padding;
  while (end > crcAt - padding - 3 && firmware_image[end - 1] == 'F')
    --end;
  return std::string(reinterpret_cast<const char*>(firmware_image) + start, end - start);
}

} // namespace

int main() {
  const std::size_t crcAt = sizeof firmware_image - 4;
  const std::uint32_t stored = readLittleEndian32(firmware_image + crcAt);
  const std::uint32_t computed = crc32(firmware_image, crcAt);
  if (stored != computed) {
    std::fprintf(stderr, "The image's CRC-32 is 0x%08lX, not the 0x%08lX stored after it.\n",
                 static_cast<unsigned long>(computed), static_cast<unsigned long>(stored));
    return 1;
  }
  const std::string version = imageVersion(crcAt);
  if (version.empty()) {
    std::fputs("The image carries no version after its data.\n", stderr);
    return 1;
  }
  std::printf("Firmware %s, %lu bytes at 0x%08lX, CRC-32 0x%08lX\n", version.c_str(),
              static_cast<unsigned long>(FIRMWARE_IMAGE_SIZE),
              static_cast<unsigned long>(FIRMWARE_IMAGE_ADDRESS),
              static_cast<unsigned long>(stored));
  return 0;
}
