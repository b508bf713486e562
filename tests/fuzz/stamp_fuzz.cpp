// The stamping pass: its output, read back as lines, must be the input's tokens with exactly one
// version record in front of each termination record (or one at the end after data without
// one), each carrying the padded version and a correct checksum.
#include "fuzz_support.hpp"
#include "recstamp/stamp.hpp"
#include "srec/record.hpp"

#include <algorithm>
#include <cctype>

using namespace srec::fuzzing;

namespace {

// A version line: S1/S2/S3 of the expected kind, a count that matches its length, the padded
// version as data, and a checksum that makes all bytes add up to 0xFF.
void requireVersionRecord(std::string_view line, char kind, std::string_view field) {
  require(line.size() >= 4 && line[0] == 'S' && line[1] == kind && line.size() % 2 == 0);
  unsigned sum = 0;
  std::string bytes;
  for (std::size_t i = 2; i < line.size(); i += 2) {
    const int high = srec::hexDigit(line[i]);
    const int low = srec::hexDigit(line[i + 1]);
    require(high >= 0 && low >= 0 && line[i] == std::toupper(line[i]));
    bytes += static_cast<char>(high * 16 + low);
    sum += static_cast<unsigned>(high * 16 + low);
  }
  require((sum & 0xFF) == 0xFF);
  require(static_cast<unsigned char>(bytes[0]) == bytes.size() - 1);
  const std::size_t addressBytes = static_cast<std::size_t>(kind - '0') + 1;
  require(bytes.substr(1 + addressBytes, bytes.size() - 2 - addressBytes) == field);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzInput input = splitInput(data, size);
  // The version is the input's first line, cut to the longest one allowed.
  const std::size_t newline = input.text.find('\n');
  const std::string_view version = input.text.substr(0, std::min(newline, std::size_t{248}));
  const std::string_view records =
      newline == std::string_view::npos ? std::string_view() : input.text.substr(newline + 1);
  const std::string field = recstamp::versionField(version);

  srec::testing::MemorySource source(records, input.readSize);
  srec::TokenReader reader(source, input.readSize);
  srec::testing::MemorySink sink;
  srec::BufferedWriter out(sink, 64);
  const auto misfit = recstamp::stamp(reader, out, field);
  require(out.flush());
  if (misfit) {
    require(!misfit->addressFits());
    return 0;
  }

  std::vector<std::string_view> lines;
  std::string_view text = sink.text;
  require(text.empty() || text.back() == '\n');
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }

  std::size_t at = 0;
  bool dataSeen = false;
  bool terminatorSeen = false;
  for (const ReferenceToken& token : referenceTokens(records)) {
    const srec::RecordKind kind = srec::recordKind(token.text);
    if (kind == srec::RecordKind::termination) {
      terminatorSeen = true;
      require(at < lines.size());
      requireVersionRecord(lines[at++], static_cast<char>('0' + 10 - (token.text[1] - '0')), field);
    }
    dataSeen = dataSeen || kind == srec::RecordKind::data;
    require(at < lines.size() && lines[at++] == token.text);
  }
  if (dataSeen && !terminatorSeen) {
    require(at < lines.size());
    const char kind = lines[at][1];
    require(kind == '2' || kind == '3');
    requireVersionRecord(lines[at++], kind, field);
  }
  require(at == lines.size());
  return 0;
}
