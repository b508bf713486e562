#include "memory_io.hpp"
#include "recstamp/stamp.hpp"
#include "recstamp/version_record.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(VersionField, PaddedWithCapitalFToAMultipleOfFour) {
  std::string fields;
  for (const char* version : {"", "1", "12", "123", "1234", "12345"})
    fields += recstamp::versionField(version) + " ";
  EXPECT_EQ(fields, " 1FFF 12FF 123F 1234 12345FFF ");
}

TEST(VersionRecord, WorkedRecordsAndTheReachOfEachKind) {
  struct Case {
    int recType;
    std::uint64_t address;
    std::string data, line;
  };
  const std::vector<Case> cases = {
      {3, 0x12340, "R7FF", "S30900012340523746467D\n"},
      {2, 0x12340, "R7FF", "S208012340523746467E\n"},
      {1, 0x0108, "R7FF", "S107010852374646DA\n"},
      {3, 0xFFFFFFFF, std::string("\xE9\xFF\x00\x80", 4), "S309FFFFFFFFE9FF008092\n"},
      {1, 0xFFFF, "", "S103FFFFFE\n"},
      {2, 0xFFFFFF, "", "S204FFFFFFFE\n"},
  };
  for (const Case& c : cases) {
    srec::testing::MemorySink sink;
    srec::BufferedWriter out(sink);
    const recstamp::VersionRecord record{c.recType, c.address, c.data};
    ASSERT_TRUE(record.addressFits());
    record.writeTo(out);
    ASSERT_TRUE(out.flush());
    EXPECT_EQ(sink.text, c.line);
    EXPECT_FALSE((recstamp::VersionRecord{c.recType, std::uint64_t{1} << (8 * c.recType + 8), ""}
                      .addressFits()));
  }
}

TEST(Stamp, AReadFailureEndsThePassWithoutTheRecordAtTheEnd) {
  // Without the failure, the record at the end would not fit an S2 record.
  srec::testing::MemorySource source("S214FFFFF0000102030405060708090A0B0C0D0E0F00 S5", 30, 40);
  srec::TokenReader reader(source, 30);
  srec::testing::MemorySink sink;
  srec::BufferedWriter out(sink);
  EXPECT_EQ(recstamp::stamp(reader, out, "V1.2")->kind, srec::Failure::Kind::read);
}

} // namespace
