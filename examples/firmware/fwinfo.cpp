// fwinfo: prints the version and the size of the firmware image it carries, as a firmware
// updater would before flashing it. The image is hexarray's address-true array.
#include "firmware_image.h"

#include <cstdio>
#include <cstring>
#include <string>

#if FIRMWARE_IMAGE_SIZE > 64 * 1024
#error "The firmware outgrew its 64 KiB of flash."
#endif

static_assert(sizeof firmware_image == FIRMWARE_IMAGE_SIZE, "the header declares the array's size");

namespace {

unsigned long readLittleEndian32(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | static_cast<unsigned long>(bytes[2]) << 16 |
         static_cast<unsigned long>(bytes[3]) << 24;
}

// The firmware begins with "FWIM" and the length of its own bytes (its linker script writes
// both). The build stamped the version right after those bytes, as the image's last record, whose
// text recstamp padded with F to a multiple of four bytes. So the version is what lies between
// that length and the end of the array, less up to three final F: found from the image's own
// header, never by searching its data for something that looks like text. Empty when the image
// is not laid out so.
std::string imageVersion() {
  const std::size_t size = sizeof firmware_image;
  if (size < 8 || std::memcmp(firmware_image, "FWIM", 4) != 0) return {};
  const unsigned long length = readLittleEndian32(firmware_image + 4);
  if (length < 8 || length >= size || (size - length) % 4 != 0) return {};
  std::size_t end = size;
  while (end > size - 3 && firmware_image[end - 1] == 'F')
    --end;
  return std::string(reinterpret_cast<const char*>(firmware_image) + length, end - length);
}

} // namespace

int main() {
  const std::string version = imageVersion();
  if (version.empty()) {
    std::fputs("The image carries no version after its data.\n", stderr);
    return 1;
  }
  std::printf("Firmware %s, %lu bytes at 0x%08lX\n", version.c_str(),
              static_cast<unsigned long>(FIRMWARE_IMAGE_SIZE),
              static_cast<unsigned long>(FIRMWARE_IMAGE_ADDRESS));
  return 0;
}
