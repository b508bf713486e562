// The rules that are hard to reach end to end: hex digits, header decoding, the reader's block
// boundaries and limits, the writer's failure memory, and array names.
#include "hexarray/array_name.hpp"
#include "memory_io.hpp"
#include "srec/record.hpp"
#include "srec/token_reader.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using srec::testing::MemorySource;

TEST(Hex, EveryByteAtEveryPlace) {
  const std::string digits = "0123456789ABCDEFabcdef";
  for (int byte = 0; byte < 256; ++byte) {
    const auto c = static_cast<char>(byte);
    const auto at = static_cast<int>(digits.find(c));
    EXPECT_EQ(srec::hexDigit(c), at < 0 ? -1 : at < 16 ? at : at - 6) << byte;
    // Runs long and short enough for both the 16-byte groups and the bytes after them.
    for (const std::size_t length : {1, 15, 16, 17, 33})
      for (std::size_t place = 0; place < length; ++place) {
        std::string text(length, 'a');
        text[place] = c;
        ASSERT_EQ(srec::allHexDigits(text), at >= 0) << byte << " at " << place;
      }
  }
  EXPECT_EQ(srec::toHex(0x10000000FULL, true) + srec::toHex(0xABC) + srec::toHex(0),
            "10000000Fabc0");
}

TEST(DecodeHeader, KindCountLengthAndAddress) {
  struct Case {
    std::string token;
    int recType, count, dataLen;
    std::uint32_t sAddr;
  };
  for (const auto& [token, recType, count, dataLen, sAddr] : std::vector<Case>{
           {"S1130000", 1, 0x13, 16, 0},
           {"S30d0000800a", 3, 13, 8, 0x800A},
           {"X214123456", 2, 0x14, 16, 0x123456}, // the first character is never looked at
           {"S315FFFFFFFF", 3, 0x15, 16, 0xFFFFFFFF},
           {"S1020000", 1, 2, -1, 0},             // a count below the address is not rejected
           {"S113G000", 1, 0x13, 16, 0xFFFFF000}, // a bad digit is -1 at its place
           {"S1", 1, -17, -20, 0xFFFFEEEF},       // past the end reads as NUL, which is -1
           {"13", 3, -17, -22, 0xEEEEEEEF},       // a fragment "13" is an S3 record
           {"S3FF0000000", 3, 0xFF, 250, 0xFFFFFFFF}}) {
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

// Each token of `input`, read `chunk` bytes at a time into blocks of `readSize`, after its line;
// then why reading stopped, if not at the end.
std::string tokensOf(std::string_view input, std::size_t chunk, std::size_t readSize) {
  MemorySource source(input, chunk);
  srec::TokenReader reader(source, readSize);
  std::string tokens;
  while (const auto token = reader.next())
    tokens += std::to_string(reader.line()) + ":" + std::string(*token) + " ";
  if (const auto failure = reader.failure())
    tokens +=
        (failure->kind == srec::Failure::Kind::tooLong ? "too long at " : "read failure at ") +
        std::to_string(failure->line);
  return tokens;
}

TEST(TokenReader, SameTokensAndLinesWhateverTheBlockBoundaries) {
  // A byte-order mark, every white-space byte, LF, CR LF and lone CR line ends, tokens long and
  // short, split by reads of every small size at every place.
  const std::string input = "\xEF\xBB\xBFS0\x00\xff\x80 \r\n\r\nS1130000\tS9\v\f"s +
                            std::string(40, 'L') + "\r\r\n  \n" + std::string(3000, 'X') +
                            "\rS5\r \n\rS6";
  const std::string expected = "1:S0\x00\xff\x80 3:S1130000 3:S9 3:"s + std::string(40, 'L') +
                               " 6:" + std::string(3000, 'X') + " 7:S5 10:S6 ";
  for (const std::size_t chunk : {1, 2, 3, 5, 16, 17, 4096})
    for (const std::size_t readSize : {1, 2, 16, 100, 1 << 18})
      EXPECT_EQ(tokensOf(input, chunk, readSize), expected) << chunk << ", " << readSize;
  // A byte-order mark counts only as the very first bytes, however the input is read.
  for (const std::size_t size : {1, 1 << 18}) {
    EXPECT_EQ(tokensOf(" \xEF\xBB\xBFS1 \xEF\xBB\xBF\xEF\xBB\xBFS1", size, size),
              "1:\xEF\xBB\xBFS1 1:\xEF\xBB\xBF\xEF\xBB\xBFS1 ");
    EXPECT_EQ(tokensOf("\xEF\xBB\xBF\xEF\xBB\xBFS1 \xEF\xBBS1", size, size),
              "1:\xEF\xBB\xBFS1 1:\xEF\xBBS1 ");
  }
  // Tokens of up to 65536 characters, wherever the reads end.
  const std::string longest(srec::maxTokenLength, 'A');
  for (const std::size_t readSize : {1000, 1 << 18}) {
    EXPECT_EQ(tokensOf("S0 \n\r" + longest + " S9", 7000, readSize),
              "1:S0 3:" + longest + " 3:S9 ");
    EXPECT_EQ(tokensOf("S0 \n\r" + longest + "A S9", 7000, readSize), "1:S0 too long at 3");
  }
}

TEST(BufferedWriter, KeepsOrderAndRemembersAFailure) {
  srec::testing::MemorySink sink(50);
  srec::BufferedWriter writer(sink, 8);
  writer.write("abc");
  std::memcpy(writer.extend(6), "defghi", 6); // one byte more than the room left
  writer.writeLine("!");
  ASSERT_TRUE(writer.flush());
  EXPECT_LE(sink.largest, 8U); // never more than a block
  writer.write(std::string(20, 'x'));
  writer.writeLine("!");
  writer.writeLine("1234567");
  ASSERT_TRUE(writer.flush());
  EXPECT_EQ(sink.text, "abcdefghi!\n" + std::string(20, 'x') + "!\n1234567\n");
  // After a failure nothing more is written, not even what the sink would take.
  writer.write("too much for the sink");
  EXPECT_FALSE(writer.flush());
  writer.write("1");
  writer.write("123456789");
  EXPECT_TRUE(writer.failed());
  EXPECT_FALSE(writer.flush());
  EXPECT_EQ(sink.text.size(), 41U);
}

TEST(ArrayName, FromTheOutputFileName) {
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"boot.c", "boot_C"}, {"out\\image.c", "image_C"}, {"../gen/table.h", "table_C"}, {"noext", "noext_C"},
      {"C:\\src\\out.c", "out_C"}, {"x.", "x_C"}, {".c", "_C"}, {"a.b.c", "a_b_C"}, {"dir\\file", "file_C"},
      {"dir.x\\file", "file_C"}, {"dir/lib.d/file", "file_C"}, {"./out", "out_C"}, {"1st.c", "_1st_C"},
      {"dir/", "_C"}, {"with blank-dash.c", "with_blank_dash_C"}, {"AZaz_09$@~.c", "AZaz_09____C"},
      {"caf\xC3\xA9.c", "caf___C"}, {"9", "_9_C"}, {std::string(300, 'n') + ".c", std::string(300, 'n') + "_C"}};
  // clang-format on
  for (const auto& [path, name] : cases)
    EXPECT_EQ(hexarray::arrayName(path), name) << path;
}

} // namespace
