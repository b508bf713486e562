#include "memory_io.hpp"
#include "srec/record.hpp"
#include "srec/token_reader.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

namespace {

using srec::testing::MemorySink;
using srec::testing::MemorySource;

TEST(HexDigit, EveryByte) {
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    int expected = -1;
    if (c >= '0' && c <= '9') expected = c - '0';
    if (c >= 'A' && c <= 'F') expected = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') expected = c - 'a' + 10;
    EXPECT_EQ(srec::hexDigit(c), expected) << "byte " << byte;
  }
}

TEST(AllHexDigits, EveryByteAtEveryPlaceOfShortAndLongRuns) {
  const std::string digits = "0123456789ABCDEFabcdef";
  for (std::size_t length = 0; length <= 40; ++length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
      text += digits[i % digits.size()];
    ASSERT_TRUE(srec::allHexDigits(text)) << text;
    for (std::size_t place = 0; place < length; ++place) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string changed = text;
        changed[place] = static_cast<char>(byte);
        const bool hex = digits.find(static_cast<char>(byte)) != std::string::npos;
        ASSERT_EQ(srec::allHexDigits(changed), hex) << "byte " << byte << " at " << place;
      }
    }
  }
}

struct HeaderCase {
  std::string token;
  int recType;
  int count;
  std::int32_t dataLen;
  std::uint32_t sAddr;
};

TEST(DecodeHeader, Table) {
  const std::vector<HeaderCase> cases = {
      {"S1130000", 1, 0x13, 16, 0},
      {"S30D00008000", 3, 13, 8, 0x8000},
      {"S30d0000800a", 3, 13, 8, 0x800A},    // lower case decodes like upper case
      {"X1130000", 1, 0x13, 16, 0},          // the first character is never looked at
      {"S214123456", 2, 0x14, 16, 0x123456}, // S2: six address digits
      {"S315FFFFFFFF", 3, 0x15, 16, 0xFFFFFFFF},
      {"S1030000", 1, 3, 0, 0},                  // no data
      {"S1020000", 1, 2, -1, 0},                 // a count below the address is not rejected
      {"S113G000", 1, 0x13, 16, 0xFFFFF000},     // a bad digit is -1 shifted to its place
      {"S1", 1, -17, -20, 0xFFFFEEEF},           // past the end reads as NUL, which is -1
      {"13", 3, -17, -22, 0xEEEEEEEF},           // a fragment "13" is an S3 record
      {"S3FF0000000", 3, 0xFF, 250, 0xFFFFFFFF}, // one address digit short
  };
  for (const HeaderCase& c : cases) {
    ASSERT_EQ(srec::recordKind(c.token), srec::RecordKind::data) << c.token;
    const srec::RecordHeader header = srec::decodeHeader(c.token);
    EXPECT_EQ(header.recType, c.recType) << c.token;
    EXPECT_EQ(header.count, c.count) << c.token;
    EXPECT_EQ(header.dataLen, c.dataLen) << c.token;
    EXPECT_EQ(header.sAddr, c.sAddr) << c.token;
  }
}

TEST(RecordKind, SecondCharacterDecides) {
  using srec::RecordKind;
  const std::vector<std::pair<std::string, RecordKind>> cases = {
      {"S0", RecordKind::other},       {"S5", RecordKind::other},
      {"S6", RecordKind::other},       {"S4", RecordKind::other},
      {"S", RecordKind::other},        {"", RecordKind::other},
      {"S7", RecordKind::termination}, {"S8", RecordKind::termination},
      {"x9", RecordKind::termination}, {"S2", RecordKind::data},
  };
  for (const auto& [token, kind] : cases)
    EXPECT_EQ(srec::recordKind(token), kind) << token;
}

struct Token {
  std::string text;
  unsigned long line;
  bool operator==(const Token&) const = default;
};

std::vector<Token> tokensOf(std::string_view input, std::size_t chunk, std::size_t readSize) {
  MemorySource source(input, chunk);
  srec::TokenReader reader(source, readSize);
  std::vector<Token> tokens;
  while (const auto token = reader.next())
    tokens.push_back({std::string(*token), reader.line()});
  EXPECT_FALSE(reader.failed());
  return tokens;
}

TEST(TokenReader, SameTokensWhateverTheBlockBoundaries) {
  const std::string input = std::string("S0\x00\xff\x80 ", 6) + "\r\n\r\nS1130000\tS9\v\f" +
                            std::string(40, 'L') + "\n  \n" + std::string(300, 'X');
  const std::vector<Token> expected = {{std::string("S0\x00\xff\x80", 5), 1},
                                       {"S1130000", 3},
                                       {"S9", 3},
                                       {std::string(40, 'L'), 3},
                                       {std::string(300, 'X'), 5}};
  // Reads of every small size split tokens, CR LF pairs and blank runs at every place.
  for (std::size_t chunk : {1, 2, 3, 5, 7, 16, 17, 64, 4096})
    for (std::size_t readSize : {1, 2, 16, 100, 1 << 18})
      EXPECT_EQ(tokensOf(input, chunk, readSize), expected)
          << "chunk " << chunk << ", read size " << readSize;
}

TEST(TokenReader, LineEndsAndBlanksGiveTheSameTokens) {
  std::vector<std::string> texts;
  for (const char* input : {"S1 S9\n", "S1\r\nS9\r\n", "S1\nS9", "\n\n S1  \t S9 \n"}) {
    std::string joined;
    for (const Token& token : tokensOf(input, 3, 4))
      joined += token.text + "|";
    texts.push_back(joined);
  }
  for (const std::string& text : texts)
    EXPECT_EQ(text, "S1|S9|");
}

TEST(TokenReader, EmptyAndBlankInputsHaveNoTokens) {
  for (const char* input : {"", " ", "\r\n\r\n", "\t\v\f"})
    EXPECT_TRUE(tokensOf(input, 2, 3).empty()) << input;
}

TEST(TokenReader, ReadFailureIsNotTheEnd) {
  const std::string input = "S1130000 S9030000FC S5";
  MemorySource source(input, 4, 12);
  srec::TokenReader reader(source, 4);
  ASSERT_EQ(reader.next(), "S1130000");
  EXPECT_EQ(reader.next(), std::nullopt);
  EXPECT_TRUE(reader.failed());
  EXPECT_EQ(reader.next(), std::nullopt);
}

TEST(BufferedWriter, KeepsOrderAcrossFlushesAndLargeWrites) {
  MemorySink sink;
  srec::BufferedWriter writer(sink, 8);
  writer.write("abc");
  writer.write(std::string(20, 'x'));
  writer.put('!');
  std::memcpy(writer.extend(8), "12345678", 8);
  ASSERT_TRUE(writer.flush());
  EXPECT_EQ(sink.text, "abc" + std::string(20, 'x') + "!12345678");
}

TEST(BufferedWriter, AFailedWriteIsKept) {
  MemorySink sink(10);
  srec::BufferedWriter writer(sink, 8);
  writer.write("12345678");
  writer.write("9abc");
  EXPECT_FALSE(writer.failed());
  writer.write("defgh");
  EXPECT_TRUE(writer.failed());
  EXPECT_FALSE(writer.flush());
  EXPECT_EQ(sink.text, "12345678");
}

} // namespace
