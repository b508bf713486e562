#include "hexarray/convert.hpp"

#include "srec/record.hpp"
#include "srec/run.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace hexarray {
namespace {

bool isHexPair(char high, char low) noexcept {
  return (srec::hexDigit(high) | srec::hexDigit(low)) >= 0;
}

void warnGap(srec::ByteSink& messages, std::uint32_t sAddr, std::uint32_t lastAddr,
             std::uint32_t lastLen) {
  const std::string text = "S-record has gaps: sAddr=0x" + srec::toHex(sAddr) + ", lastAddr=0x" +
                           srec::toHex(lastAddr) + ", lastLen=0x" + srec::toHex(lastLen) + "\n";
  messages.write(text);
}

} // namespace

ConvertResult convert(srec::TokenReader& in, srec::BufferedWriter& out, std::string_view arrayName,
                      srec::ByteSink& messages) {
  out.write("\nconst unsigned char ");
  out.write(arrayName);
  out.write("[] = \n{\n\t  ");

  ConvertResult result;
  bool firstByte = true;
  std::uint32_t lastAddr = 0;
  std::uint32_t lastLen = 0;
  while (!out.failed()) {
    const auto token = in.next();
    if (!token) break;
    if (srec::recordKind(*token) != srec::RecordKind::data) continue;
    const srec::RecordHeader header = srec::decodeHeader(*token);
    // Records before the first written byte have nothing to continue.
    if (!firstByte && header.sAddr != lastAddr + lastLen)
      warnGap(messages, header.sAddr, lastAddr, lastLen);

    // Pairs start at the data and stop before the last two characters, the checksum; the length
    // of the token bounds them, not its count field.
    const char* chars = token->data();
    const std::size_t size = token->size();
    const auto stopAtBadPair = [&](std::size_t i) {
      if (isHexPair(chars[i], chars[i + 1])) return false;
      result.badHexDigit = true;
      result.badDigitLine = in.line();
      return true;
    };
    std::size_t i = header.dataStart();
    if (firstByte && i + 2 < size) {
      // The array's very first byte has no separator.
      if (stopAtBadPair(i)) return result;
      const char text[] = {'0', 'x', chars[i], chars[i + 1]};
      out.write({text, sizeof text});
      firstByte = false;
      ++result.totalSize;
      i += 2;
    }
    while (i + 2 < size) {
      // A chunk of pairs at a time, each written as ", 0x" and its two characters.
      const std::size_t pairs = std::min((size - 1 - i) / 2, out.capacity() / 6);
      char* text = out.extend(6 * pairs);
      for (std::size_t k = 0; k < pairs; ++k, i += 2, text += 6) {
        if (stopAtBadPair(i)) return result;
        // NOLINTNEXTLINE(bugprone-not-null-terminated-result): source text, not a C string
        std::memcpy(text, ", 0x", 4);
        text[4] = chars[i];
        text[5] = chars[i + 1];
      }
      result.totalSize += pairs;
    }
    out.write("\n\t");
    lastAddr = header.sAddr;
    lastLen = static_cast<std::uint32_t>(header.dataLen);
  }

  out.write("\n}; /* Total Size = " + std::to_string(result.totalSize) + " bytes */\n\n");
  return result;
}

} // namespace hexarray
