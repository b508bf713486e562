// libFuzzer harness: the reader and both passes on the same input, each held to a property that
// a plain reference gives. The first byte picks a small read size, so that tokens, line ends and
// blank runs fall across block boundaries at every place; the first line is also a version.
#include "../memory_io.hpp"
#include "hexarray/convert.hpp"
#include "recstamp/stamp.hpp"
#include "recstamp/version_record.hpp"
#include "srec/check.hpp"
#include "srec/record.hpp"

#include <cstdlib>
#include <vector>

namespace {

// Hands out `text` in reads of at most `chunk` bytes.
struct MemorySource final : srec::ByteSource {
  MemorySource(std::string_view text, std::size_t chunk) : text(text), chunk(chunk) {}
  std::optional<std::size_t> read(std::span<char> into) override {
    const std::size_t n = text.copy(into.data(), std::min(into.size(), chunk), offset);
    offset += n;
    return n;
  }
  std::string_view text;
  std::size_t chunk, offset = 0;
};

void require(bool condition) {
  if (!condition) std::abort();
}

// One byte at a time: the slow, obviously right split, each token after its line number.
std::vector<std::pair<unsigned long, std::string>> referenceTokens(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::pair<unsigned long, std::string>> tokens;
  unsigned long line = 1;
  const auto blank = [&](std::size_t i) {
    return std::string_view(" \t\n\v\f\r").find(text[i]) < 6;
  };
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!blank(i)) {
      if (i == 0 || blank(i - 1)) tokens.emplace_back(line, "");
      tokens.back().second += text[i];
    } else if (text[i] == '\r' || (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))) {
      ++line;
    }
  return tokens;
}

// A pass's input and output in memory; a small writer, so that it flushes often.
struct Run {
  Run(std::string_view text, std::size_t readSize) : source(text, readSize), in(source, readSize) {}
  MemorySource source;
  srec::TokenReader in;
  srec::testing::MemorySink sink;
  srec::BufferedWriter out{sink, 64};
};

// A version line of the kind, or of the narrowest wider kind whose address holds it: upper-case
// hex, its count its length, the field as its data, and a checksum that makes all its bytes add
// up to 0xFF.
bool isVersionRecord(std::string_view line, char asked, std::string_view field) {
  std::string bytes;
  for (std::size_t i = 2;
       i + 1 < line.size() && (srec::hexDigit(line[i]) | srec::hexDigit(line[i + 1])) >= 0 &&
       line[i] <= 'F' && line[i + 1] <= 'F';
       i += 2)
    bytes += static_cast<char>(srec::hexDigit(line[i]) * 16 + srec::hexDigit(line[i + 1]));
  unsigned sum = 0;
  for (const char c : bytes)
    sum += static_cast<unsigned char>(c);
  const char kind = line.size() > 1 && line[1] >= asked && line[1] <= '3' ? line[1] : asked;
  const std::size_t addressBytes = static_cast<std::size_t>(kind - '0') + 1;
  const bool widened = kind > asked && bytes.size() > 1 && bytes[1] != 0; // a top byte in use
  return line.size() == 2 + 2 * bytes.size() && line[0] == 'S' && line[1] == kind &&
         (kind == asked || widened) && (sum & 0xFF) == 0xFF && bytes.size() > 1 + addressBytes &&
         static_cast<unsigned char>(bytes[0]) == bytes.size() - 1 &&
         bytes.substr(1 + addressBytes) == std::string(field) + bytes.back();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t readSize = size == 0 ? 1 : 1 + data[0] % 97U;
  const std::string_view text(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
  const auto expected = referenceTokens(text);
  for (const auto& token : expected)
    if (token.second.size() > srec::maxTokenLength) return 0;

  // The reader: the same tokens on the same lines, taken one by one or, with odd read sizes,
  // also as the runs of plain lines after each.
  Run read(text, readSize);
  std::size_t count = 0;
  for (auto token = read.in.next(); token; token = read.in.next(), ++count) {
    require(count < expected.size() &&
            expected[count] == std::pair(read.in.line(), std::string(*token)));
    std::vector<std::string> visited;
    const std::string_view run =
        readSize % 2 == 1
            ? read.in.plainLines([&](std::string_view line) { visited.emplace_back(line); })
            : "";
    std::string joined;
    for (const auto& line : visited) {
      require(++count < expected.size() && expected[count].second == line);
      joined += line + "\n";
    }
    require(run == joined);
  }
  require(count == expected.size() && !read.in.failure());

  // The stamping: the records' tokens, one a line, with a version record before each
  // termination record, or one at the end after data without any.
  const std::size_t newline = std::min(text.find('\n'), text.size());
  const std::string field =
      recstamp::versionField(text.substr(0, std::min(newline, std::size_t{248})));
  const std::string_view records = text.substr(std::min(newline + 1, text.size()));
  Run stamp(records, readSize);
  std::optional<std::uint64_t> halvedAt;
  recstamp::Stamping stamping;
  stamping.versionField = field;
  srec::testing::MemorySink stampMessages;
  srec::RecordChecks stampChecks(stampMessages, false);
  auto misfit = recstamp::stamp(stamp.in, stamp.out, stamping, stampChecks, halvedAt);
  // Data under a version record is found once the whole output is written.
  if (misfit && misfit->kind == srec::Failure::Kind::overwrite) misfit.reset();
  require(stamp.out.flush() && (stamp.sink.text.empty() || stamp.sink.text.back() == '\n'));
  // Every record read is checked, in runs of plain lines or one by one, as the full check says.
  const auto malformed = [](std::string_view records) {
    unsigned long count = 0;
    for (const auto& [line, token] : referenceTokens(records))
      count += srec::checkRecord(token).kind != srec::RecordFault::Kind::none;
    return count;
  };
  require(misfit || stampChecks.malformed() == malformed(records));
  std::vector<std::string_view> lines;
  for (std::string_view rest = stamp.sink.text; !rest.empty();
       rest.remove_prefix(lines.back().size() + 1))
    lines.push_back(rest.substr(0, rest.find('\n')));
  lines.emplace_back(); // what a missing line reads as
  std::size_t at = 0;
  char last = 0; // the type of the last data or termination record
  for (const auto& [line, token] : referenceTokens(records)) {
    const srec::RecordKind kind = srec::recordKind(token);
    if (kind == srec::RecordKind::termination && !misfit)
      require(isVersionRecord(lines[at++], static_cast<char>('0' + 10 - (token[1] - '0')), field));
    if (kind != srec::RecordKind::other && last < '7') last = token[1];
    require(misfit || lines[at++] == token);
  }
  if (misfit)
    require(misfit->recType == 3 &&
            !recstamp::VersionRecord{misfit->recType, misfit->address, field}.addressFits());
  else if (last >= '1' && last <= '3')
    require(isVersionRecord(lines[at++], last == '3' ? '3' : '2', field));
  require(misfit || at == lines.size() - 1);

  // The conversion: unless it stops at a bad digit, one "0x" for each byte its footer counts.
  Run convert(text, readSize);
  hexarray::Array array;
  array.name = "fuzz_C";
  srec::testing::MemorySink messages;
  srec::RecordChecks checks(messages, false);
  const auto failure = hexarray::convert(convert.in, convert.out, array, messages, checks);
  require(convert.out.flush() && (!failure || failure->kind == srec::Failure::Kind::badHexDigit));
  std::size_t entries = 0;
  for (std::size_t at = 0; (at = convert.sink.text.find("0x", at) + 1) != 0;)
    ++entries;
  require(failure || convert.sink.text.ends_with(" " + std::to_string(entries) + " bytes */\n\n"));
  require(failure || checks.malformed() == malformed(text));
  return 0;
}
