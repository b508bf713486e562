#include "hexarray/convert.hpp"

#include "srec/record.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace hexarray {
namespace {

bool warnGap(srec::ByteSink& messages, std::uint32_t sAddr, std::uint32_t lastAddr,
             std::uint32_t lastLen) {
  const std::string text = "S-record has gaps: sAddr=0x" + srec::toHex(sAddr) + ", lastAddr=0x" +
                           srec::toHex(lastAddr) + ", lastLen=0x" + srec::toHex(lastLen) + "\n";
  return messages.write(text);
}

} // namespace

std::optional<srec::Failure> convert(srec::TokenReader& in, srec::BufferedWriter& out,
                                     std::string_view arrayName, srec::ByteSink& messages) {
  using Kind = srec::Failure::Kind;
  out.write("\nconst unsigned char ");
  out.write(arrayName);
  out.write("[] = \n{\n\t  ");

  std::uint64_t totalSize = 0;
  bool firstByte = true;
  std::uint32_t lastAddr = 0;
  std::uint32_t lastLen = 0;
  while (!out.failed()) {
    const auto token = in.next();
    if (!token) break;
    if (srec::recordKind(*token) != srec::RecordKind::data) continue;
    const srec::RecordHeader header = srec::decodeHeader(*token);
    // Records before the first written byte have nothing to continue.
    if (!firstByte && header.sAddr != lastAddr + lastLen &&
        !warnGap(messages, header.sAddr, lastAddr, lastLen))
      return srec::Failure{Kind::writeStdout};

    // Pairs start at the data and stop before the last two characters, the checksum; the length
    // of the token bounds them, not its count field. Only the characters copied are checked.
    const std::size_t start = header.dataStart();
    const std::size_t pairs = token->size() > start + 2 ? (token->size() - 1 - start) / 2 : 0;
    const char* pair = token->data() + start;
    if (!srec::allHexDigits({pair, 2 * pairs})) return srec::Failure{Kind::badHexDigit, in.line()};
    std::size_t left = pairs;
    if (firstByte && left > 0) {
      // The array's very first byte has no separator.
      const char text[] = {'0', 'x', pair[0], pair[1]};
      out.write({text, sizeof text});
      firstByte = false;
      pair += 2;
      --left;
    }
    totalSize += pairs;
    while (left > 0) {
      // A chunk of pairs at a time, each written as ", 0x" and its two characters.
      const std::size_t chunk = std::min(left, out.capacity() / 6);
      char* text = out.extend(6 * chunk);
      for (const char* const stop = pair + 2 * chunk; pair != stop; pair += 2, text += 6) {
        // NOLINTNEXTLINE(bugprone-not-null-terminated-result): source text, not a C string
        std::memcpy(text, ", 0x", 4);
        std::memcpy(text + 4, pair, 2);
      }
      left -= chunk;
    }
    out.write("\n\t");
    lastAddr = header.sAddr;
    lastLen = static_cast<std::uint32_t>(header.dataLen);
  }

  if (out.failed()) return srec::Failure{Kind::write};
  if (auto failure = in.failure()) return failure;
  out.write("\n}; /* Total Size = " + std::to_string(totalSize) + " bytes */\n\n");
  return std::nullopt;
}

} // namespace hexarray
