#include "memory_io.hpp"
#include "recstamp/version_record.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(VersionField, PaddedWithCapitalFToAMultipleOfFour) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},         {"1", "1FFF"},         {"12", "12FF"}, {"123", "123F"},
      {"1234", "1234"}, {"12345", "12345FFF"}, {"R7", "R7FF"},
  };
  for (const auto& [version, field] : cases)
    EXPECT_EQ(recstamp::versionField(version), field);
}

struct RecordCase {
  int recType;
  std::uint32_t address;
  std::string data;
  std::string line;
};

TEST(VersionRecord, WorkedRecords) {
  const std::vector<RecordCase> cases = {
      {3, 0x1000, "V1.2", "S3090000100056312E32FF\n"},
      {3, 0x12340, "R7FF", "S30900012340523746467D\n"},
      {2, 0x12340, "R7FF", "S208012340523746467E\n"},
      {1, 0x0108, "R7FF", "S107010852374646DA\n"},
      {3, 0x8008, "R7FF", "S309000080085237464659\n"},
      {3, 0, "", "S30500000000FA\n"},
      {3, 0xFFFFFFFF, std::string("\xE9\xFF\x00\x80", 4), "S309FFFFFFFFE9FF008092\n"},
  };
  for (const RecordCase& c : cases) {
    srec::testing::MemorySink sink;
    srec::BufferedWriter out(sink);
    const recstamp::VersionRecord record{c.recType, c.address, c.data};
    record.writeTo(out);
    ASSERT_TRUE(out.flush());
    EXPECT_EQ(sink.text, c.line);
    EXPECT_EQ(record.count(), c.data.size() + static_cast<std::size_t>(c.recType) + 2);
  }
}

TEST(VersionRecord, AddressMustFitItsField) {
  EXPECT_TRUE((recstamp::VersionRecord{1, 0xFFFF, ""}.addressFits()));
  EXPECT_FALSE((recstamp::VersionRecord{1, 0x10000, ""}.addressFits()));
  EXPECT_TRUE((recstamp::VersionRecord{2, 0xFFFFFF, ""}.addressFits()));
  EXPECT_FALSE((recstamp::VersionRecord{2, 0x1000000, ""}.addressFits()));
  EXPECT_TRUE((recstamp::VersionRecord{3, 0xFFFFFFFF, ""}.addressFits()));
}

TEST(VersionRecord, LongestVersionKeepsAOneByteCount) {
  const std::string field = recstamp::versionField(std::string(recstamp::maxVersionLength, 'v'));
  EXPECT_EQ((recstamp::VersionRecord{3, 0, field}.count()), 253U);
  const std::string tooLong =
      recstamp::versionField(std::string(recstamp::maxVersionLength + 1, 'v'));
  EXPECT_GT((recstamp::VersionRecord{3, 0, tooLong}.count()), 255U);
}

} // namespace
