#include "recstamp/stamp.hpp"

#include "recstamp/data_ranges.hpp"
#include "recstamp/version_record.hpp"
#include "srec/record.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace recstamp {
namespace {

// The version records checked against the data, the first ones of the output; an image has one
// for each termination record, nearly always one.
constexpr std::size_t checkedVersions = std::size_t{1} << 16;

// The eight hex digits of a value, upper case, as they stand in text read as a little-endian word.
constexpr std::uint64_t hexText(std::uint32_t value) noexcept {
  std::uint64_t x = (value >> 24) | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | value << 24;
  x = (x | x << 16) & 0x0000FFFF0000FFFF;
  x = (x | x << 8) & 0x00FF00FF00FF00FF;
  x = (x >> 4 & 0x000F000F000F000F) | (x & 0x000F000F000F000F) << 8; // a digit's value a byte
  const std::uint64_t letters = (x + 0x0606060606060606) >> 4 & 0x0101010101010101;
  return x + 0x3030303030303030 + 7 * letters;
}

// The two hex digits of each byte value, the same way.
constexpr std::array<std::uint16_t, 256> byteTexts = [] {
  std::array<std::uint16_t, 256> texts{};
  for (std::uint32_t byte = 0; byte < 256; ++byte)
    texts[byte] = static_cast<std::uint16_t>(hexText(byte) >> 48);
  return texts;
}();

// The state of one pass, record by record.
class Stamper {
public:
  Stamper(srec::BufferedWriter& out, const Stamping& stamping)
      : out_(out), field_(stamping.versionField), at_(stamping.at), probe_(stamping.addressing) {
    if (stamping.crc) seal_.emplace(*stamping.crc);
  }

  // The bytes of a data record, on input line `line`, for the CRC, when there is one.
  std::optional<srec::Failure> seal(std::string_view token, std::uint64_t line, bool sound);
  // The same for every data record of a run of plain lines from input line `line` on.
  std::optional<srec::Failure> seal(std::string_view lines, std::uint64_t line);

  // A data record of the input, starting on input line `line`.
  void data(std::string_view token, std::uint64_t line);
  // The same, cheaply, for a record that continues the last one as most do, on the line after
  // it: the same kind, count and length, its address the last one's end written in upper case.
  // False for any other token, and then no next one is looked at so until data() has been.
  bool continues(std::string_view token) noexcept {
    std::uint32_t front = 0;
    std::uint64_t address = 0;
    std::memcpy(&front, token.data(), 4);
    // The reader's block goes on after a token: what lies beyond a short one is never used.
    std::memcpy(&address, token.data() + 4, 8);
    if (token.size() != run_.length || front != run_.front ||
        (address & run_.addressMask) != run_.nextText) {
      run_.length = 0;
      return false;
    }
    ++run_.records;
    // The next address's text is that of its top digits, which change only now and then, and
    // of its last byte.
    run_.low += run_.step;
    if (run_.low > 0xFF) [[unlikely]] {
      run_.high += run_.low >> 8;
      run_.low &= 0xFF;
      run_.highText = hexText(run_.high << run_.highShift) & run_.highMask;
      if (run_.high >= run_.highLimit) run_.length = 0; // addresses do not wrap
    }
    run_.nextText = run_.highText | std::uint64_t{byteTexts[run_.low]} << run_.lowShift;
    return true;
  }
  // Any other token in between.
  void other() noexcept { run_.length = 0; }
  // All of `lines`, `count` lines from input line `firstLine` on, at once, when each is a record
  // that continues() would take, each then looked at only at its first twelve characters and its
  // end; false, and nothing taken, otherwise. Lines of one length fill `lines` exactly when each
  // ends where the one before, and `count` of them, say it does.
  bool allContinue(std::string_view lines, std::size_t count, std::uint64_t firstLine) noexcept {
    const std::size_t length = run_.length;
    if (length == 0 || lines.size() != count * (length + 1) ||
        firstLine != run_.line + run_.records)
      return false;
    const std::uint32_t front = run_.front;
    const std::uint64_t mask = run_.addressMask;
    const std::uint32_t step = run_.step;
    const int lowShift = run_.lowShift;
    std::uint32_t low = run_.low;
    std::uint32_t high = run_.high;
    std::uint64_t highText = run_.highText;
    std::uint64_t nextText = run_.nextText;
    const char* const end = lines.data() + lines.size();
    for (const char* line = lines.data(); line != end; line += length + 1) {
      std::uint32_t lineFront = 0;
      std::uint64_t address = 0;
      std::memcpy(&lineFront, line, 4);
      std::memcpy(&address, line + 4, 8);
      if (line[length] != '\n' || lineFront != front || (address & mask) != nextText) return false;
      low += step;
      if (low > 0xFF) [[unlikely]] {
        high += low >> 8;
        low &= 0xFF;
        if (high >= run_.highLimit && line + length + 1 != end) return false;
        highText = hexText(high << run_.highShift) & run_.highMask;
      }
      nextText = highText | std::uint64_t{byteTexts[low]} << lowShift;
    }
    run_.records += static_cast<std::uint32_t>(count);
    run_.low = low;
    run_.high = high;
    run_.highText = highText;
    run_.nextText = nextText;
    if (high >= run_.highLimit) run_.length = 0; // addresses do not wrap
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
  // A sealed image that has not shown how it counts is taken as counting bytes.
  [[nodiscard]] bool words() const noexcept {
    return addressing() == srec::Addressing::word ||
           (addressing() == srec::Addressing::shown && !seal_);
  }
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
  bool versionLast_ = false;
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
    std::uint32_t step = 0;
    // The next address: its last byte, and the rest, with its text where it stands in the line.
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::uint32_t highLimit = 0;
    int highShift = 0;
    int lowShift = 0;
    std::uint64_t highText = 0;
    std::uint64_t highMask = 0;
    std::uint64_t nextText = 0;
    std::uint64_t addressMask = 0; // the address's bytes in the line from its fifth on
  } run_;
  DataRanges ranges_;
  std::vector<std::uint32_t> versions_; // addresses, in output order
  std::optional<Seal> seal_;
};

std::optional<srec::Failure> Stamper::seal(std::string_view token, std::uint64_t line, bool sound) {
  if (!seal_) return std::nullopt;
  if (addressing() == srec::Addressing::word) return srec::Failure{srec::Failure::Kind::wordImage};
  const srec::RecordHeader header = srec::decodeHeader(token);
  const std::size_t start = header.dataStart();
  const std::size_t pairs = token.size() > start + 2 ? (token.size() - 1 - start) / 2 : 0;
  return seal_->data(header.sAddr, token.data() + std::min(start, token.size()), pairs,
                     static_cast<unsigned long>(line), sound);
}

std::optional<srec::Failure> Stamper::seal(std::string_view lines, std::uint64_t line) {
  if (!seal_) return std::nullopt;
  // Sound records have the length their count says, so none is searched for its end.
  for (const char *p = lines.data(), *end = p + lines.size(); p != end; ++line) {
    std::size_t length = 0;
    if (srec::isRecord({p, 2}))
      length = 4 + 2 * static_cast<std::size_t>(srec::hexDigit(p[2]) * 16 + srec::hexDigit(p[3]));
    else
      length = static_cast<std::size_t>(std::find(p, end, '\n') - p);
    if (srec::recordKind({p, 2}) == srec::RecordKind::data) {
      if (addressing() == srec::Addressing::word)
        return srec::Failure{srec::Failure::Kind::wordImage};
      if (auto failure = seal_->soundData({p, length}, static_cast<unsigned long>(line)))
        return failure;
    }
    p += length + 1;
  }
  return std::nullopt;
}

void Stamper::data(std::string_view token, std::uint64_t line) {
  const srec::RecordHeader header = srec::decodeHeader(token);
  probe_.note(header);
  lastType_ = header.recType;
  lastAddr_ = header.sAddr;
  lastLen_ = static_cast<std::uint32_t>(header.dataLen);
  versionLast_ = false;
  // The bytes it holds, as hexarray takes them: the pairs from the data on, the checksum's not.
  const std::size_t start = header.dataStart();
  const auto bytes =
      static_cast<std::uint32_t>(token.size() > start + 2 ? (token.size() - 1 - start) / 2 : 0);
  const bool decided = addressing() != srec::Addressing::shown;
  const std::uint64_t step = words() ? bytes / 2 : bytes;
  if (decided && run_.records > 0 && bytes == run_.bytes && line == run_.line + run_.records &&
      header.sAddr == run_.first + run_.records * step) {
    ++run_.records;
  } else {
    if (run_.records > 0) endRun();
    run_ = {header.sAddr, 1, bytes, line};
  }
  // Lines of the same shape that follow are looked at quickly: where the address is written as
  // the quick look expects it, in upper case.
  run_.length = 0;
  run_.step = static_cast<std::uint32_t>(step);
  const int digits = 2 * (header.recType + 1);
  const std::uint64_t next = header.sAddr + step;
  if (!decided || next >> (4 * digits) != 0 || token.size() < 12) return;
  run_.addressMask = digits == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * digits)) - 1;
  std::uint64_t address = 0;
  std::memcpy(&address, token.data() + 4, 8);
  if (((address ^ hexText(header.sAddr << (32 - 4 * digits))) & run_.addressMask) != 0) return;
  std::memcpy(&run_.front, token.data(), 4);
  run_.length = token.size();
  run_.low = static_cast<std::uint32_t>(next & 0xFF);
  run_.high = static_cast<std::uint32_t>(next >> 8);
  run_.highLimit = std::uint32_t{1} << (4 * digits - 8);
  run_.highShift = 40 - 4 * digits;
  run_.lowShift = 8 * (digits - 2);
  run_.highMask = (std::uint64_t{1} << run_.lowShift) - 1;
  run_.highText = hexText(run_.high << run_.highShift) & run_.highMask;
  run_.nextText = run_.highText | std::uint64_t{byteTexts[run_.low]} << run_.lowShift;
}

std::optional<srec::Failure> Stamper::termination(std::string_view token) {
  terminatorSeen_ = true;
  run_.length = 0;
  // S7 ends S3 files, S8 S2 files, S9 S1 files; only S3 images advance by the whole length
  // whatever the addressing.
  return insert('0' + 10 - token[1], token[1] == '7');
}

// Writes a version record at its address: the one asked for, or `whole` or half of lastLen after
// lastAddr; it then stands for the last data record. The address is not wrapped: one beyond an
// S3 record's reach stops the pass.
std::optional<srec::Failure> Stamper::insert(int recType, bool whole) {
  // The last data record may be one that a run took on.
  if (!versionLast_ && run_.records > 0)
    lastAddr_ =
        static_cast<std::uint32_t>(run_.first + std::uint64_t{run_.records - 1} * run_.step);
  std::uint64_t address = std::uint64_t{lastAddr_} + lastLen_;
  if (at_) {
    address = *at_;
  } else if (!whole && words()) {
    address = std::uint64_t{lastAddr_} + lastLen_ / 2;
    if (addressing() == srec::Addressing::shown && lastLen_ >= 2 && !halvedAt_) halvedAt_ = address;
  }
  VersionRecord record{recType, address, field_};
  // An address beyond the kind's reach takes the narrowest wider kind that holds it.
  const auto write = [&](VersionRecord& written) -> std::optional<srec::Failure> {
    while (!written.addressFits() && written.recType < 3)
      ++written.recType;
    if (!written.addressFits())
      return srec::Failure{srec::Failure::Kind::addressMisfit, 0, written.address, written.recType};
    written.writeTo(out_);
    lastAddr_ = static_cast<std::uint32_t>(written.address);
    lastLen_ = written.count();
    return std::nullopt;
  };
  if (auto failure = write(record)) return failure;
  versionLast_ = true;
  if (versions_.size() < checkedVersions && (versions_.empty() || versions_.back() != lastAddr_))
    versions_.push_back(lastAddr_);
  if (!seal_) return std::nullopt;
  // The CRC record follows, of the same kind; the next version record follows it in turn.
  if (auto failure = seal_->version(record.address, field_)) return failure;
  const std::uint64_t sealAddress = record.address + field_.size();
  const std::string sealed = seal_->record(sealAddress);
  VersionRecord crcRecord{record.recType, sealAddress, sealed};
  return write(crcRecord);
}

std::optional<srec::Failure> Stamper::finish(std::optional<std::uint64_t>& halvedAt) {
  // Without a termination record to go by, S1 and S2 data both get an S2 record.
  if (lastType_ != -1 && !terminatorSeen_)
    if (auto failure = insert(lastType_ == 3 ? 3 : 2, false)) return failure;

  // Addresses count as the whole input showed, or in words where it never did.
  const bool inWords = words();
  if (run_.records > 0) endRun();
  if (const std::size_t span = inWords ? field_.size() / 2 : field_.size(); span > 0)
    for (const std::uint32_t address : versions_)
      if (const auto line = ranges_.firstOver(address, std::uint64_t{address} + span - 1, inWords))
        return srec::Failure{srec::Failure::Kind::overwrite, static_cast<unsigned long>(*line),
                             address};

  // The CRC after a version record that lands below the data before it is wrong; the check
  // above tells of it, and this never comes.
  if (seal_ && seal_->broken()) return srec::Failure{srec::Failure::Kind::outOfOrder};
  if (addressing() == srec::Addressing::shown) halvedAt = halvedAt_;
  return std::nullopt;
}

} // namespace

std::optional<srec::Failure> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   const Stamping& stamping, srec::RecordChecks& checks,
                                   std::optional<std::uint64_t>& halvedAt) {
  // On the heap: the CRC's tables would take much of the smallest stacks.
  const auto stamper = std::make_unique<Stamper>(out, stamping);
  while (!out.failed()) {
    // Lines that pass through unchanged are copied as they stand, many at a time; their data
    // records are noted on the way: most often all of them continue the last one, which is
    // quickly seen, else one by one.
    const std::uint64_t before = in.line();
    const std::string_view lines = in.plainLines([](std::string_view /*line*/) {});
    if (!lines.empty()) {
      if (!stamper->allContinue(lines, in.line() - before - 1, before + 1)) {
        std::uint64_t line = before;
        for (std::string_view rest = lines; !rest.empty();
             rest.remove_prefix(rest.find('\n') + 1)) {
          const std::string_view token = rest.substr(0, rest.find('\n'));
          ++line;
          if (!stamper->continues(token) && srec::recordKind(token) == srec::RecordKind::data)
            stamper->data(token, line);
        }
      }
      if (auto failure = stamper->seal(lines, before + 1)) return failure;
      out.write(lines);
      continue;
    }
    const auto token = in.next();
    if (!token) break;
    if (auto failure = checks.check(*token, in.line())) return failure;
    switch (srec::recordKind(*token)) {
    case srec::RecordKind::data:
      stamper->data(*token, in.line());
      if (auto failure = stamper->seal(*token, in.line(), srec::isSound(*token))) return failure;
      break;
    case srec::RecordKind::termination:
      if (auto misfit = stamper->termination(*token)) return misfit;
      break;
    case srec::RecordKind::other:
      stamper->other();
      break;
    }
    out.writeLine(*token);
  }
  if (out.failed()) return srec::Failure{srec::Failure::Kind::write};
  if (auto failure = in.failure()) return failure;
  return stamper->finish(halvedAt);
}

} // namespace recstamp
