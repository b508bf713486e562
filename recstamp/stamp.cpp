#include "recstamp/stamp.hpp"

#include "recstamp/version_record.hpp"
#include "srec/record.hpp"

#include <algorithm>
#include <array>

namespace recstamp {

std::optional<srec::Failure> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   std::string_view versionField, Addressing addressing,
                                   srec::RecordChecks& checks, std::optional<CrcVariant> crc) {
  std::optional<Seal> seal;
  if (crc) seal.emplace(*crc);
  bool terminatorSeen = false;
  int lastType = -1;
  // The last data record, or the version record written after it. A data record's front is
  // kept and decoded only when a version record needs it: most never are.
  std::uint32_t lastAddr = 0;
  std::uint32_t lastLen = 0;
  std::array<char, 12> front{};
  std::size_t frontSize = 0; // 0: lastAddr and lastLen are up to date
  // How the image counts shows in the first pair of consecutive data records of the input whose
  // second starts the first's length L (bytes) or L / 2 (16-bit words) after it, L at least 2 (a
  // count never announces more than 252). Until it has shown, the input's data record before:
  std::uint32_t pairAddr = 0;
  std::int32_t pairLen = 0;

  // Writes a version record `whole` or half of lastLen after lastAddr; it then stands for the
  // last data record. The address is not wrapped: one beyond an S3 record's reach stops the pass.
  auto insert = [&](int recType, bool whole) -> std::optional<srec::Failure> {
    if (frontSize > 0) {
      const srec::RecordHeader header = srec::decodeHeader({front.data(), frontSize});
      lastAddr = header.sAddr;
      lastLen = static_cast<std::uint32_t>(header.dataLen);
      frontSize = 0;
    }
    // A sealed image that has not shown how it counts is taken as counting bytes.
    const bool bytes = addressing == Addressing::byte || (seal && addressing == Addressing::shown);
    const std::uint32_t step = whole || bytes ? lastLen : lastLen / 2;
    // An address beyond the kind's reach takes the narrowest wider kind that holds it.
    int written = recType;
    const auto write = [&](VersionRecord record) -> std::optional<srec::Failure> {
      while (!record.addressFits() && record.recType < 3)
        ++record.recType;
      if (!record.addressFits())
        return srec::Failure{srec::Failure::Kind::addressMisfit, 0, record.address, record.recType};
      record.writeTo(out);
      lastAddr = static_cast<std::uint32_t>(record.address);
      lastLen = record.count();
      written = record.recType;
      return std::nullopt;
    };
    if (auto failure = write({recType, std::uint64_t{lastAddr} + step, versionField}))
      return failure;
    if (!seal) return std::nullopt;
    // The CRC record follows, of the same kind.
    const std::uint64_t versionAddress = lastAddr;
    if (auto failure = seal->version(versionAddress, versionField)) return failure;
    const std::uint64_t address = versionAddress + versionField.size();
    return write({written, address, seal->record(address)});
  };

  auto noteCounting = [&](std::string_view token) {
    const srec::RecordHeader header = srec::decodeHeader(token);
    if (pairLen >= 2) {
      const auto whole = static_cast<std::uint32_t>(pairLen);
      if (header.sAddr == pairAddr + whole)
        addressing = Addressing::byte;
      else if (header.sAddr == pairAddr + whole / 2)
        addressing = Addressing::word;
    }
    pairAddr = header.sAddr;
    pairLen = header.dataLen;
  };
  // The bytes a data record holds, as hexarray takes them: its pairs from the data on, but the
  // checksum's.
  auto sealData = [&](std::string_view token, unsigned long line,
                      bool sound) -> std::optional<srec::Failure> {
    if (addressing == Addressing::word) return srec::Failure{srec::Failure::Kind::wordImage};
    const srec::RecordHeader header = srec::decodeHeader(token);
    const std::size_t start = header.dataStart();
    const std::size_t pairs = token.size() > start + 2 ? (token.size() - 1 - start) / 2 : 0;
    return seal->data(header.sAddr, token.data() + std::min(start, token.size()), pairs, line,
                      sound);
  };
  auto noteData = [&](std::string_view token) {
    lastType = token[1] - '0';
    frontSize = std::min(token.size(), front.size());
    std::copy_n(token.data(), frontSize, front.data());
  };
  // The last data record of a run of lines, if it holds one, is the last data record.
  auto noteLastData = [&](std::string_view lines) {
    for (lines.remove_suffix(1);; lines.remove_suffix(lines.size() - lines.rfind('\n'))) {
      const std::string_view line = lines.substr(lines.rfind('\n') + 1);
      if (srec::recordKind(line) == srec::RecordKind::data) return noteData(line);
      if (line.size() == lines.size()) return;
    }
  };

  while (!out.failed()) {
    // Lines that pass through unchanged are copied as they stand, many at a time.
    unsigned long lineNumber = in.line() + 1; // of the first of them
    if (const std::string_view lines = in.plainLines(); !lines.empty()) {
      // Until the image shows how it counts, its first data records are looked at one by one.
      for (std::string_view rest = lines; addressing == Addressing::shown && !rest.empty();) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        if (srec::recordKind(line) == srec::RecordKind::data) noteCounting(line);
        rest.remove_prefix(line.size() + 1);
      }
      noteLastData(lines);
      // Sound records have the length their count says, so none is searched for its end.
      for (const char *p = lines.data(), *end = p + lines.size(); seal && p != end; ++lineNumber) {
        std::size_t length = 0;
        if (srec::isRecord({p, 2}))
          length =
              4 + 2 * static_cast<std::size_t>(srec::hexDigit(p[2]) * 16 + srec::hexDigit(p[3]));
        else
          length = static_cast<std::size_t>(std::find(p, end, '\n') - p);
        if (srec::recordKind({p, 2}) == srec::RecordKind::data) {
          if (addressing == Addressing::word) return srec::Failure{srec::Failure::Kind::wordImage};
          if (auto failure = seal->soundData({p, length}, lineNumber)) return failure;
        }
        p += length + 1;
      }
      out.write(lines);
      continue;
    }
    const auto token = in.next();
    if (!token) break;
    if (auto failure = checks.check(*token, in.line())) return failure;
    switch (srec::recordKind(*token)) {
    case srec::RecordKind::data:
      if (addressing == Addressing::shown) noteCounting(*token);
      noteData(*token);
      if (seal)
        if (auto failure = sealData(*token, in.line(), srec::isSound(*token))) return failure;
      break;
    case srec::RecordKind::termination: {
      terminatorSeen = true;
      // S7 ends S3 files, S8 S2 files, S9 S1 files; only S3 images advance by the whole length
      // whatever the addressing.
      const char terminator = (*token)[1];
      if (auto misfit = insert('0' + 10 - terminator, terminator == '7')) return misfit;
      break;
    }
    case srec::RecordKind::other:
      break;
    }
    out.writeLine(*token);
  }
  if (out.failed()) return srec::Failure{srec::Failure::Kind::write};
  if (auto failure = in.failure()) return failure;

  if (lastType != -1 && !terminatorSeen) {
    // Without a termination record to go by, S1 and S2 data both get an S2 record.
    return insert(lastType == 3 ? 3 : 2, false);
  }
  return std::nullopt;
}

} // namespace recstamp
