#include "recstamp/stamp.hpp"

#include "recstamp/data_ranges.hpp"
#include "recstamp/version_record.hpp"
#include "srec/record.hpp"

#include <array>
#include <cstring>
#include <vector>

namespace recstamp {
namespace {

// The version records checked against the data, the first ones of the output; an image has one
// for each termination record, nearly always one.
constexpr std::size_t checkedVersions = std::size_t{1} << 16;

// The text of an address's `digits` last hex digits, upper case, as the eight bytes from the
// first digit on read in a little-endian word, the bytes after the digits zero.
constexpr std::uint64_t addressText(std::uint32_t address, int digits) noexcept {
  std::uint64_t x = address << (32 - 4 * digits);
  x = (x >> 24 | (x >> 8 & 0xFF00) | (x << 8 & 0xFF0000) | x << 24) & 0xFFFFFFFF; // first digit low
  x = (x | x << 16) & 0x0000FFFF0000FFFF;
  x = (x | x << 8) & 0x00FF00FF00FF00FF;
  x = (x >> 4 & 0x000F000F000F000F) | (x & 0x000F000F000F000F) << 8; // a digit's value a byte
  const std::uint64_t letters = (x + 0x0606060606060606) >> 4 & 0x0101010101010101;
  const std::uint64_t text = x + 0x3030303030303030 + 7 * letters;
  return digits == 8 ? text : text & ((std::uint64_t{1} << (8 * digits)) - 1);
}

// The state of one pass, record by record.
class Stamper {
public:
  Stamper(srec::BufferedWriter& out, const Stamping& stamping)
      : out_(out), field_(stamping.versionField), at_(stamping.at), probe_(stamping.addressing) {}

  // A data record of the input, starting on input line `line`.
  void data(std::string_view token, std::uint64_t line);
  // The same, cheaply, for a record on the line after the last one's that continues it as most
  // do: the same kind and count, the same length, its address the last one's end written in upper
  // case. False for any other token.
  bool continues(std::string_view token, std::uint64_t line) noexcept {
    if (token.size() != run_.length || line != run_.line + run_.records) return false;
    std::uint32_t front = 0;
    std::uint64_t address = 0;
    std::memcpy(&front, token.data(), 4);
    std::memcpy(&address, token.data() + 4, 8); // a length of at least 12
    if (front != run_.front || (address & run_.addressMask) != run_.nextText) return false;
    lastAddr_ = run_.next;
    ++run_.records;
    const std::uint64_t next = std::uint64_t{run_.next} + run_.step;
    run_.next = static_cast<std::uint32_t>(next);
    run_.nextText = addressText(run_.next, run_.digits);
    if (next >> 32 != 0) run_.length = 0; // addresses do not wrap
    return true;
  }
  // A termination record: its version record goes in front of it.
  std::optional<srec::Failure> termination(std::string_view token);
  // At the end of the input: a version record after data that no termination record followed,
  // then the version records against the data.
  std::optional<srec::Failure> finish(std::optional<std::uint64_t>& halvedAt);

private:
  std::optional<srec::Failure> insert(int recType, bool whole);
  [[nodiscard]] srec::Addressing addressing() const noexcept { return probe_.addressing(); }
  [[nodiscard]] bool words() const noexcept { return addressing() != srec::Addressing::byte; }
  void endRun() { ranges_.add(run_.first, run_.records, run_.bytes, run_.line, words()); }

  srec::BufferedWriter& out_;
  std::string_view field_;
  std::optional<std::uint32_t> at_;
  srec::AddressingProbe probe_;
  bool terminatorSeen_ = false;
  int lastType_ = -1;
  // The last data record, or the version record written after it.
  std::uint32_t lastAddr_ = 0;
  std::uint32_t lastLen_ = 0;
  // The first version record placed by half a length while the image had not shown how it
  // counts.
  std::optional<std::uint64_t> halvedAt_;
  // The data records up to the last one, each on the line after the one before, where the one
  // before ends, holding as many bytes; and, once the image has shown how it counts, what the
  // first twelve characters of the next such record are when its line looks like the last one's.
  struct Run {
    std::uint32_t first = 0;
    std::uint32_t records = 0;
    std::uint32_t bytes = 0;
    std::uint64_t line = 0;
    std::size_t length = 0;  // of each line; 0 when no next one is looked for
    std::uint32_t front = 0; // "S", the kind and the count
    int digits = 0;          // of the address
    std::uint32_t step = 0;
    std::uint32_t next = 0;
    std::uint64_t nextText = 0;
    std::uint64_t addressMask = 0;
  } run_;
  DataRanges ranges_;
  std::vector<std::uint32_t> versions_; // addresses, in output order
};

void Stamper::data(std::string_view token, std::uint64_t line) {
  const srec::RecordHeader header = srec::decodeHeader(token);
  probe_.note(header);
  lastType_ = header.recType;
  lastAddr_ = header.sAddr;
  lastLen_ = static_cast<std::uint32_t>(header.dataLen);
  // The bytes it holds, as hexarray takes them: the pairs from the data on, the checksum's not.
  const std::size_t start = header.dataStart();
  const auto bytes = static_cast<std::uint32_t>(
      token.size() > start + 2 ? (token.size() - 1 - start) / 2 : 0);
  const bool decided = addressing() != srec::Addressing::shown;
  const std::uint64_t step = words() ? bytes / 2 : bytes;
  if (decided && run_.records > 0 && bytes == run_.bytes && line == run_.line + run_.records &&
      header.sAddr == run_.first + run_.records * step) {
    ++run_.records;
  } else {
    if (run_.records > 0) endRun();
    run_ = {header.sAddr, 1, bytes, line};
  }
  const std::uint64_t next = header.sAddr + step;
  run_.length = 0;
  if (!decided || next >> 32 != 0 || token.size() < 12) return;
  run_.digits = 2 * (header.recType + 1);
  run_.addressMask =
      run_.digits == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * run_.digits)) - 1;
  std::uint64_t address = 0;
  std::memcpy(&address, token.data() + 4, 8);
  if ((address & run_.addressMask) != addressText(header.sAddr, run_.digits)) return;
  std::memcpy(&run_.front, token.data(), 4);
  run_.length = token.size();
  run_.step = static_cast<std::uint32_t>(step);
  run_.next = static_cast<std::uint32_t>(next);
  run_.nextText = addressText(run_.next, run_.digits);
}

std::optional<srec::Failure> Stamper::termination(std::string_view token) {
  terminatorSeen_ = true;
  // S7 ends S3 files, S8 S2 files, S9 S1 files; only S3 images advance by the whole length
  // whatever the addressing.
  return insert('0' + 10 - token[1], token[1] == '7');
}

// Writes a version record at its address: the one asked for, or `whole` or half of lastLen after
// lastAddr; it then stands for the last data record. The address is not wrapped: one beyond an
// S3 record's reach stops the pass.
std::optional<srec::Failure> Stamper::insert(int recType, bool whole) {
  std::uint64_t address = std::uint64_t{lastAddr_} + lastLen_;
  if (at_) {
    address = *at_;
  } else if (!whole && addressing() != srec::Addressing::byte) {
    address = std::uint64_t{lastAddr_} + lastLen_ / 2;
    if (addressing() == srec::Addressing::shown && lastLen_ >= 2 && !halvedAt_) halvedAt_ = address;
  }
  VersionRecord record{recType, address, field_};
  // An address beyond the kind's reach takes the narrowest wider kind that holds it.
  while (!record.addressFits() && record.recType < 3)
    ++record.recType;
  if (!record.addressFits())
    return srec::Failure{srec::Failure::Kind::addressMisfit, 0, record.address, record.recType};
  record.writeTo(out_);
  lastAddr_ = static_cast<std::uint32_t>(record.address);
  lastLen_ = record.count();
  if (versions_.size() < checkedVersions && (versions_.empty() || versions_.back() != lastAddr_))
    versions_.push_back(lastAddr_);
  return std::nullopt;
}

std::optional<srec::Failure> Stamper::finish(std::optional<std::uint64_t>& halvedAt) {
  // Without a termination record to go by, S1 and S2 data both get an S2 record.
  if (lastType_ != -1 && !terminatorSeen_)
    if (auto failure = insert(lastType_ == 3 ? 3 : 2, false)) return failure;

  // Addresses count as the whole input showed, or in words where it never did.
  const bool words = addressing() != srec::Addressing::byte;
  if (run_.records > 0) endRun();
  if (const std::size_t span = words ? field_.size() / 2 : field_.size(); span > 0)
    for (const std::uint32_t address : versions_)
      if (const auto line = ranges_.firstOver(address, std::uint64_t{address} + span - 1, words))
        return srec::Failure{srec::Failure::Kind::overwrite, static_cast<unsigned long>(*line),
                             address};

  if (addressing() == srec::Addressing::shown) halvedAt = halvedAt_;
  return std::nullopt;
}

} // namespace

std::optional<srec::Failure> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   const Stamping& stamping,
                                   std::optional<std::uint64_t>& halvedAt) {
  Stamper stamper(out, stamping);
  std::array<std::uint32_t, 4096> ends{};
  while (!out.failed()) {
    // Lines that pass through unchanged are copied as they stand, many at a time; their data
    // records are noted on the way.
    const std::uint64_t firstLine = std::uint64_t{in.line()} + 1;
    std::size_t count = 0;
    if (const std::string_view lines = in.plainLines(ends, count); !lines.empty()) {
      std::size_t begin = 0;
      for (std::size_t i = 0; i < count; begin = ends[i++] + 1) {
        const std::string_view line = lines.substr(begin, ends[i] - begin);
        if (!stamper.continues(line, firstLine + i) &&
            srec::recordKind(line) == srec::RecordKind::data)
          stamper.data(line, firstLine + i);
      }
      out.write(lines);
      continue;
    }
    const auto token = in.next();
    if (!token) break;
    switch (srec::recordKind(*token)) {
    case srec::RecordKind::data:
      stamper.data(*token, in.line());
      break;
    case srec::RecordKind::termination:
      if (auto misfit = stamper.termination(*token)) return misfit;
      break;
    case srec::RecordKind::other:
      break;
    }
    out.writeLine(*token);
  }
  if (out.failed()) return srec::Failure{srec::Failure::Kind::write};
  if (auto failure = in.failure()) return failure;
  return stamper.finish(halvedAt);
}

} // namespace recstamp
