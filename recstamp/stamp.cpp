#include "recstamp/stamp.hpp"

#include "srec/record.hpp"

namespace recstamp {

std::optional<VersionRecord> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   std::string_view versionField) {
  bool terminatorSeen = false;
  int lastType = -1;
  // The last data record, or the version record written after it.
  std::uint32_t lastAddr = 0;
  std::uint32_t lastLen = 0;

  // Writes a version record, which then stands for the last data record. A record whose address
  // does not fit its kind is returned unwritten.
  auto insert = [&](int recType, std::uint32_t address) -> std::optional<VersionRecord> {
    const VersionRecord record{recType, address, versionField};
    if (!record.addressFits()) return record;
    record.writeTo(out);
    lastAddr = address;
    lastLen = record.count();
    return std::nullopt;
  };

  while (!out.failed()) {
    const auto token = in.next();
    if (!token) break;
    switch (srec::recordKind(*token)) {
    case srec::RecordKind::data: {
      const srec::RecordHeader header = srec::decodeHeader(*token);
      lastType = header.recType;
      lastAddr = header.sAddr;
      lastLen = static_cast<std::uint32_t>(header.dataLen);
      break;
    }
    case srec::RecordKind::termination: {
      terminatorSeen = true;
      // S7 ends S3 files, S8 S2 files, S9 S1 files. The images are word-addressed, so S8 and S9
      // advance by half the last length; S7 advances by all of it.
      const char terminator = (*token)[1];
      const int recType = '0' + 10 - terminator;
      const std::uint32_t step = terminator == '7' ? lastLen : lastLen / 2;
      if (auto misfit = insert(recType, lastAddr + step)) return misfit;
      break;
    }
    case srec::RecordKind::other:
      break;
    }
    out.write(*token);
    out.put('\n');
  }

  if (lastType != -1 && !terminatorSeen) {
    // Without a termination record to go by, S1 and S2 data both get an S2 record.
    return insert(lastType == 3 ? 3 : 2, lastAddr + lastLen / 2);
  }
  return std::nullopt;
}

} // namespace recstamp
