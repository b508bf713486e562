#include "recstamp/stamp.hpp"

#include "recstamp/data_ranges.hpp"
#include "recstamp/version_record.hpp"
#include "srec/record.hpp"

#include <array>
#include <vector>

namespace recstamp {
namespace {

// The version records checked against the data, the first ones of the output; an image has one
// for each termination record, nearly always one.
constexpr std::size_t checkedVersions = std::size_t{1} << 16;

// The state of one pass, record by record.
class Stamper {
public:
  Stamper(srec::BufferedWriter& out, const Stamping& stamping)
      : out_(out), field_(stamping.versionField), at_(stamping.at), probe_(stamping.addressing) {}

  // A data record of the input, starting on input line `line`.
  void data(std::string_view token, std::uint64_t line);
  // A termination record: its version record goes in front of it.
  std::optional<srec::Failure> termination(std::string_view token);
  // At the end of the input: a version record after data that no termination record followed,
  // then the version records against the data.
  std::optional<srec::Failure> finish(std::optional<std::uint64_t>& halvedAt);

private:
  std::optional<srec::Failure> insert(int recType, bool whole);
  [[nodiscard]] srec::Addressing addressing() const noexcept { return probe_.addressing(); }

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
  DataRanges ranges_;
  std::vector<std::uint32_t> versions_; // addresses, in output order
};

void Stamper::data(std::string_view token, std::uint64_t line) {
  const srec::RecordHeader header = srec::decodeHeader(token);
  probe_.note(header);
  // The bytes it holds, as hexarray takes them: the pairs from the data on, the checksum's not.
  const std::size_t start = header.dataStart();
  const auto bytes = static_cast<std::uint32_t>(
      token.size() > start + 2 ? (token.size() - 1 - start) / 2 : 0);
  ranges_.add(header.sAddr, bytes, line, addressing() != srec::Addressing::byte);
  lastType_ = header.recType;
  lastAddr_ = header.sAddr;
  lastLen_ = static_cast<std::uint32_t>(header.dataLen);
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
        if (srec::recordKind(line) == srec::RecordKind::data) stamper.data(line, firstLine + i);
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
