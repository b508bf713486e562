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
    int recType = 0, count = 0, dataLen = 0;
    std::uint32_t sAddr = 0;
  };
  const std::vector<Case> cases = {
      {"S1130000", 1, 0x13, 16, 0},
      {"S30d0000800a", 3, 13, 8, 0x800A},
      {"X1130000", 1, 0x13, 16, 0}, // the first character is never looked at
      {"S214123456", 2, 0x14, 16, 0x123456},
      {"S315FFFFFFFF", 3, 0x15, 16, 0xFFFFFFFF},
      {"S1020000", 1, 2, -1, 0},             // a count below the address is not rejected
      {"S113G000", 1, 0x13, 16, 0xFFFFF000}, // a bad digit is -1 at its place
      {"S1", 1, -17, -20, 0xFFFFEEEF},       // past the end reads as NUL, which is -1
      {"13", 3, -17, -22, 0xEEEEEEEF},       // a fragment "13" is an S3 record
      {"S3FF0000000", 3, 0xFF, 250, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(srec::recordKind(c.token), srec::RecordKind::data) << c.token;
    const srec::RecordHeader header = srec::decodeHeader(c.token);
    EXPECT_EQ(header.recType, c.recType) << c.token;
    EXPECT_EQ(header.count, c.count) << c.token;
    EXPECT_EQ(header.dataLen, c.dataLen) << c.token;
    EXPECT_EQ(header.sAddr, c.sAddr) << c.token;
  }
  for (const char* token : {"S7", "S8", "x9"})
    EXPECT_EQ(srec::recordKind(token), srec::RecordKind::termination) << token;
  for (const char* token : {"S0", "S4", "S5", "S6", "S", ""})
    EXPECT_EQ(srec::recordKind(token), srec::RecordKind::other) << token;
}

// The tokens of `input` read `chunk` bytes at a time into blocks of `readSize`, each with its
// line, and then why reading stopped, if not at the end.
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
  // A byte-order mark counts only as the very first bytes.
  EXPECT_EQ(tokensOf(" \xEF\xBB\xBFS1 \xEF\xBB\xBF\xEF\xBB\xBFS1", 1, 1),
            "1:\xEF\xBB\xBFS1 1:\xEF\xBB\xBF\xEF\xBB\xBFS1 ");
  EXPECT_EQ(tokensOf("\xEF\xBB\xBF\xEF\xBB\xBFS1 \xEF\xBBS1", 1, 1),
            "1:\xEF\xBB\xBFS1 1:\xEF\xBBS1 ");
}

TEST(TokenReader, TokensUpTo65536Characters) {
  for (const std::size_t readSize : {1000, 1 << 18}) {
    const std::string longest(srec::maxTokenLength, 'A');
    EXPECT_EQ(tokensOf("S0 \n\r" + longest + " S9", 7000, readSize),
              "1:S0 3:" + longest + " 3:S9 ");
    EXPECT_EQ(tokensOf("S0 \n\r" + longest + "A S9", 7000, readSize), "1:S0 too long at 3");
  }
}

TEST(TokenReader, AReadFailureIsNotTheEnd) {
  MemorySource source("S1130000 S9030000FC S5", 4, 12);
  srec::TokenReader reader(source, 4);
  ASSERT_EQ(reader.next(), "S1130000");
  EXPECT_EQ(reader.next(), std::nullopt);
  EXPECT_EQ(reader.failure()->kind, srec::Failure::Kind::read);
  EXPECT_EQ(reader.next(), std::nullopt);
}

TEST(BufferedWriter, KeepsOrderAndRemembersAFailure) {
  srec::testing::MemorySink sink(40);
  srec::BufferedWriter writer(sink, 8);
  writer.write("abc");
  writer.write(std::string(20, 'x'));
  writer.put('!');
  std::memcpy(writer.extend(8), "12345678", 8);
  ASSERT_TRUE(writer.flush());
  EXPECT_EQ(sink.text, "abc" + std::string(20, 'x') + "!12345678");
  writer.write("too much for the sink");
  EXPECT_FALSE(writer.flush());
  writer.write("ok");
  EXPECT_TRUE(writer.failed());
  EXPECT_FALSE(writer.flush());
  EXPECT_EQ(sink.text.size(), 32U);
}

} // namespace
