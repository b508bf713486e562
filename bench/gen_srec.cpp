// Writes a deterministic S-record image for the benchmark:
//   gen_srec SIZE_MB DATA_BYTES KIND(1|2|3) LINE_END(crlf|lf) OUT [contiguous|gapped|descending]
// An S0 header, data records of DATA_BYTES bytes each until the file reaches SIZE_MB (10^6
// bytes), and the termination record that goes with the kind. The records follow each other
// (contiguous), leave a byte free after each (gapped: every record a range of its own), or each
// ends where the one before starts (descending, from 0xF0000000 down). It prints the number of data
// bytes and of lines written, so the benchmark can check the tools' outputs against them; with
// OUT "-" the image goes to standard output and the numbers to standard error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

void appendHex(std::string& line, std::uint32_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    line += hexDigits[(value >> (shift + 4)) & 0xF];
    line += hexDigits[(value >> shift) & 0xF];
  }
}

// One record: type, count, address, data and checksum, then the line end.
std::string record(char type, int addressBytes, std::uint32_t address, std::string_view data,
                   std::string_view lineEnd) {
  const auto count = static_cast<std::uint32_t>(data.size() + addressBytes + 1);
  std::uint32_t sum = count;
  std::string line = {'S', type};
  appendHex(line, count, 1);
  appendHex(line, address, addressBytes);
  for (int shift = 0; shift < 8 * addressBytes; shift += 8)
    sum += (address >> shift) & 0xFF;
  for (const char c : data) {
    appendHex(line, static_cast<unsigned char>(c), 1);
    sum += static_cast<unsigned char>(c);
  }
  appendHex(line, ~sum & 0xFF, 1);
  line += lineEnd;
  return line;
}

} // namespace

int main(int argc, char* argv[]) {
  if (argc != 6 && argc != 7) {
    std::fputs("usage: gen_srec SIZE_MB DATA_BYTES KIND(1|2|3) LINE_END(crlf|lf) OUT "
               "[contiguous|gapped|descending]\n",
               stderr);
    return 2;
  }
  const std::string_view layout = argc == 7 ? argv[6] : "contiguous";
  const std::uint64_t size = std::strtoull(argv[1], nullptr, 10) * 1000000;
  const int dataBytes = std::atoi(argv[2]);
  const int kind = std::atoi(argv[3]);
  const std::string_view lineEnd = std::string_view(argv[4]) == "crlf" ? "\r\n" : "\n";
  if (dataBytes < 1 || dataBytes > 250 || kind < 1 || kind > 3 ||
      (layout != "contiguous" && layout != "gapped" && layout != "descending"))
    return 2;
  const bool toStdout = std::string_view(argv[5]) == "-";
  std::FILE* out = toStdout ? stdout : std::fopen(argv[5], "wb");
  if (out == nullptr) return 1;

  const int addressBytes = kind + 1;
  const char type = static_cast<char>('0' + kind);
  std::string block = record('0', 2, 0, "bench", lineEnd);
  std::uint64_t written = 0;
  std::uint64_t lines = 1;
  std::uint64_t totalData = 0;
  const auto step = static_cast<std::uint32_t>(dataBytes + (layout == "gapped" ? 1 : 0));
  std::uint32_t address = layout == "descending" ? 0xF0000000 - step : 0;
  std::uint32_t seed = 12345;
  std::string data(static_cast<std::size_t>(dataBytes), '\0');
  while (written + block.size() < size) {
    for (char& c : data) {
      seed = seed * 1103515245 + 12345;
      c = static_cast<char>(seed >> 24);
    }
    block += record(type, addressBytes, address, data, lineEnd);
    address =
        (layout == "descending" ? address - step : address + step) & (kind == 1   ? 0xFFFFu
                                                                      : kind == 2 ? 0xFFFFFFu
                                                                                  : 0xFFFFFFFFu);
    totalData += static_cast<std::uint64_t>(dataBytes);
    ++lines;
    if (block.size() >= (1 << 20)) {
      written += std::fwrite(block.data(), 1, block.size(), out);
      block.clear();
    }
  }
  const char terminator = static_cast<char>('0' + 10 - kind);
  block += record(terminator, addressBytes, 0, "", lineEnd);
  ++lines;
  written += std::fwrite(block.data(), 1, block.size(), out);
  if (std::fclose(out) != 0) return 1;
  std::fprintf(toStdout ? stderr : stdout, "%llu %llu\n",
               static_cast<unsigned long long>(totalData), static_cast<unsigned long long>(lines));
  return 0;
}
