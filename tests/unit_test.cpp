// What is hard to reach end to end: hex digits, headers, the writer's bounds, array names.
#include "hexarray/array_name.hpp"
#include "hexarray/convert.hpp"
#include "memory_io.hpp"
#include "srec/record.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Hex, EveryByteAtEveryPlace) {
  const std::string digits = "0123456789ABCDEFabcdef";
  for (int byte = 0; byte < 256; ++byte) {
    const auto c = static_cast<char>(byte);
    const auto at = static_cast<int>(digits.find(c));
    EXPECT_EQ(srec::hexDigit(c), at < 0 ? -1 : at < 16 ? at : at - 6) << byte;
    // Runs long and short enough for both the groups of eight pairs and the pairs after them.
    for (const std::size_t pairs : {1, 8, 9, 17})
      for (std::size_t place = 0; place < 2 * pairs; ++place) {
        std::string text(2 * pairs, 'a');
        text[place] = c;
        std::string entries(6 * pairs, '\0');
        ASSERT_EQ(hexarray::writeEntries(text.data(), pairs, entries.data()), at >= 0)
            << byte << " at " << place;
      }
  }
}

TEST(DecodeHeader, KindCountLengthAndAddress) {
  using Case = std::tuple<std::string, int, int, int, std::uint32_t>;
  for (const auto& [token, recType, count, dataLen, sAddr] : std::vector<Case>{
           {"S30d0000800a", 3, 13, 8, 0x800A},
           {"X214123456", 2, 0x14, 16, 0x123456}, // the first character is never looked at
           {"S1020000", 1, 2, -1, 0},             // a count below the address is not rejected
           {"S113G000", 1, 0x13, 16, 0xFFFFF000}, // a bad digit is -1 at its place
           {"13", 3, -17, -22, 0xEEEEEEEF}}) {    // a fragment, short of its header: NULs, -1
    ASSERT_EQ(srec::recordKind(token), srec::RecordKind::data) << token;
    const srec::RecordHeader header = srec::decodeHeader(token);
    EXPECT_EQ(std::tuple(header.recType, header.count, header.dataLen, header.sAddr),
              std::tuple(recType, count, dataLen, sAddr))
        << token;
  }
  for (const char* token : {"S7", "S8", "x9"})
    EXPECT_EQ(srec::recordKind(token), srec::RecordKind::termination) << token;
  for (const char* token : {"S0", "S4", "S5", "S6", "S", ""})
    EXPECT_EQ(srec::recordKind(token), srec::RecordKind::other) << token;
}

TEST(BufferedWriter, KeepsOrderAndRemembersAFailure) {
  srec::testing::MemorySink sink(53);
  srec::BufferedWriter writer(sink, 8);
  writer.write("abc");
  std::memcpy(writer.extend(6), "defghi", 6); // one byte more than the room left
  writer.writeLine("!");
  ASSERT_TRUE(writer.flush());
  writer.write(std::string(20, 'x'));
  writer.writeLine("1234"); // exactly the room left, and the line end after it
  writer.writeLine("1234567");
  ASSERT_TRUE(writer.flush());
  EXPECT_EQ(sink.largest, 20U); // a quarter of a block or more goes out whole, uncopied
  EXPECT_EQ(sink.text, "abcdefghi!\n" + std::string(20, 'x') + "1234\n1234567\n");
  writer.write("too much for the sink");
  EXPECT_FALSE(writer.flush());
  sink.room = 100; // after a failure nothing more goes out, though the sink would take it
  writer.write("1");
  writer.write("123456789");
  std::memcpy(writer.extend(8), "12345678", 8);
  EXPECT_TRUE(writer.failed());
  EXPECT_FALSE(writer.flush());
  EXPECT_EQ(sink.text.size(), 44U); // nothing of the failed write went out
  srec::testing::MemorySink exact; // a line that fills an empty block to its end: one block at most
  srec::BufferedWriter eight(exact, 8);
  eight.writeLine("12345678");
  eight.write("x");
  EXPECT_TRUE(eight.flush() && exact.text == "12345678\nx" && exact.largest <= 8);
  srec::testing::MemorySink pages; // whole pages, a page's tail kept: all of capacity() still fits
  srec::BufferedWriter paged(pages, 8192);
  paged.write("x");
  std::memset(paged.extend(paged.capacity()), 'y', paged.capacity());
  paged.write(std::string(9000, 'z'));
  EXPECT_TRUE(paged.flush() && pages.largest <= 8192 &&
              pages.text == "x" + std::string(paged.capacity(), 'y') + std::string(9000, 'z'));
}

TEST(ArrayName, FromAFileNameOrGivenAndTheGuard) {
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"boot.c", "boot_C"}, {"out\\image.c", "image_C"}, {"../gen/table.h", "table_C"}, {"noext", "noext_C"},
      {"C:\\src\\out.c", "out_C"}, {"x.", "x_C"}, {".c", "_C"}, {"a.b.c", "a_b_C"}, {"dir\\file", "file_C"},
      {"dir.x\\file", "file_C"}, {"dir/lib.d/file", "file_C"}, {"./out", "out_C"}, {"1st.c", "_1st_C"},
      {"dir/", "_C"}, {"with blank-dash.c", "with_blank_dash_C"}, {"AZaz_09$@~.c", "AZaz_09____C"},
      {"caf\xC3\xA9.c", "caf___C"}, {"9", "_9_C"}, {"0.c", "_0_C"}, {std::string(300, 'n') + ".c", std::string(300, 'n') + "_C"}};
  // clang-format on
  for (const auto& [path, name] : cases)
    EXPECT_EQ(hexarray::arrayName(path), name) << path;
  for (const auto& [path, guard] : std::vector<std::pair<std::string, std::string>>{
           {"inc/fw.h", "FW_H"}, {"a\\zZ-9.hpp", "ZZ_9_HPP"}, {"1.h", "H1_H"}, {"", "H"}})
    EXPECT_EQ(hexarray::includeGuard(path), guard) << path;
  for (const char* name : {"_", "a", "Z9_z"})
    EXPECT_TRUE(hexarray::isIdentifier(name)) << name;
  for (const char* name : {"", "9x", "a-b", "a b", "caf\xC3\xA9", "$", "a."})
    EXPECT_FALSE(hexarray::isIdentifier(name)) << name;
}

TEST(CNumber, DecimalHexOrOctalUpToTheLimit) {
  const std::vector<std::pair<std::vector<std::string>, int>> valid = {
      {{"255", "0xFF", "0XfF", "0377"}, 255}, {{"10", "0xa", "012"}, 10}, {{"0", "00", "0x0"}, 0}};
  for (const auto& [texts, value] : valid)
    for (const auto& text : texts)
      EXPECT_EQ(srec::cNumber(text, 255), value) << text;
  for (const char* text : {"256", "0x100", "0400", "08", "0x", "", "-1", "+1", " 1", "1a", "0xG"})
    EXPECT_FALSE(srec::cNumber(text, 255)) << text;
}

} // namespace
