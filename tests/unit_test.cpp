// What is hard to reach end to end: hex digits, headers, the record check, the CRC, the
// writer's bounds, array names.
#include "hexarray/array_name.hpp"
#include "hexarray/convert.hpp"
#include "hexarray/header.hpp"
#include "memory_io.hpp"
#include "recstamp/crc.hpp"
#include "srec/check.hpp"
#include "srec/record.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
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

TEST(CheckRecord, TheFirstFaultOfEachRecord) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"S1130100000102030405060708090A0B0C0D0E0F73", ""},
      {"X3080000800aabcdef06", ""}, // the first character is never looked at; either case
      {"S005000048446E", ""},
      {"SX12", ""}, // no record: its second character is no digit
      {"S", ""},
      {"S4", "Bad hex digit in record at line 7."}, // too short for a count
      {"S12", "Bad hex digit in record at line 7."},
      {"S123", "Record at line 7 holds 0 bytes; its count says 35."},
      {"S1130100000102030405060708090A0B0C0D0E0F7G", "Bad hex digit in record at line 7."},
      {"S1G30100000102030405060708090A0B0C0D0E0F73", "Bad hex digit in record at line 7."},
      {"S5030003F90", "Record at line 7 holds 3 bytes; its count says 3."}, // a digit too many
      {"S5030003F", "Record at line 7 holds 2 bytes; its count says 3."},
      {"S5040003F9", "Record at line 7 holds 3 bytes; its count says 4."},
      {"S100", "Bad checksum in record at line 7: 00, expected FF."},
      {"S101FE", ""}, // a count too small for an address is no fault of its own
      {"S9030000FD", "Bad checksum in record at line 7: FD, expected FC."},
      {"S3080000800AABCDEF60", "Bad checksum in record at line 7: 60, expected 06."}};
  for (const auto& [token, message] : cases)
    EXPECT_EQ(srec::describe(srec::checkRecord(token), 7), message) << token;
}

// The fast check agrees with the full one at every length, place and byte, in every variant the
// processor runs, the record followed by the rest of the block; in a batch, the first unsound
// line is found.
TEST(CheckRecord, FastAndFullAgree) {
  std::mt19937 random(24);
  std::string block; // the sound lines
  std::vector<srec::LineSpan> lines;
  const auto agree = [&](const std::string& line) {
    const std::string padded = line + "\n" + std::string(64, 'S');
    const srec::LineSpan span{0, static_cast<std::uint32_t>(line.size())};
    const bool whole = srec::checkRecord(line).kind == srec::RecordFault::Kind::none;
    if (whole) {
      lines.push_back({static_cast<std::uint32_t>(block.size()), span.length});
      block += line + "\r\n";
    }
    for (const auto check : srec::detail::soundChecks())
      if (check(padded.data(), &span, 1) != std::size_t{whole}) return false;
    return true;
  };
  for (unsigned count = 0; count < 256; ++count) {
    std::string line = "S3" + srec::toHex(0x100 | count, true).substr(1);
    unsigned sum = count;
    for (unsigned i = 1; i < count; ++i) {
      const auto byte = static_cast<unsigned>(random() % 256);
      line += srec::toHex(0x100 | byte, i % 2 == 0).substr(1);
      sum += byte;
    }
    if (count > 0) line += srec::toHex(0x100 | (~sum & 0xFF), true).substr(1);
    ASSERT_TRUE(agree(line)) << line;
    for (std::size_t place = 2; place < line.size(); ++place) {
      std::string changed = line;
      changed[place] = static_cast<char>(random() % 256);
      ASSERT_TRUE(agree(changed)) << changed;
    }
    for (const std::size_t length : {line.size() - 1, line.size() + 1, line.size() + 2})
      ASSERT_TRUE(agree((line + "00").substr(0, length))) << length;
  }
  lines.push_back({static_cast<std::uint32_t>(block.size()), 10}); // its checksum one off
  block += "S5030003F8" + std::string(64, 'S');
  for (const auto check : srec::detail::soundChecks()) {
    EXPECT_EQ(check(block.data(), lines.data(), lines.size()), lines.size() - 1);
    EXPECT_EQ(check(block.data(), lines.data(), lines.size() - 1), lines.size() - 1);
  }
}

TEST(CheckRecord, SoundPairsDecodeInEveryVariant) {
  std::mt19937 random(24);
  for (std::size_t pairs = 0; pairs < 80; ++pairs) {
    std::string text;
    std::vector<std::uint8_t> bytes(pairs);
    for (auto& byte : bytes) {
      byte = static_cast<std::uint8_t>(random());
      text += srec::toHex(0x100U | byte, random() % 2 == 0).substr(1);
    }
    for (const auto decode : srec::detail::decoders()) {
      std::vector<std::uint8_t> decoded(pairs + 1, 0x5A);
      decode(text.data(), pairs, decoded.data());
      EXPECT_EQ(decoded, [&] {
        auto b = bytes;
        b.push_back(0x5A);
        return b;
      }()) << text;
    }
  }
}

// Independent models of both CRCs: one bit at a time, as the definitions say.
std::uint32_t crc32Model(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const char byte : bytes) {
    crc ^= static_cast<std::uint8_t>(byte);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  return ~crc;
}
std::uint32_t mpeg2Model(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const char byte : bytes) {
    crc ^= std::uint32_t{static_cast<std::uint8_t>(byte)} << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000) != 0 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
  }
  return crc;
}

TEST(ImageCrc, BothVariantsOverDataAndGapsInAnyPieces) {
  ASSERT_EQ(crc32Model("123456789"), 0xCBF43926);
  ASSERT_EQ(mpeg2Model("123456789"), 0x0376E6E7);
  std::mt19937 random(24);
  for (int round = 0; round < 300; ++round) {
    // An image of data and gaps in pieces of every size, large ones too, fed from any alignment.
    std::string image;
    recstamp::ImageCrc iso(recstamp::ImageCrc::Kind::isoHdlc);
    recstamp::ImageCrc mpeg2(recstamp::ImageCrc::Kind::mpeg2);
    for (int piece = 0; piece < 6; ++piece) {
      const std::size_t size = random() % (random() % 4 == 0 ? 5000 : 70);
      if (random() % 3 == 0) {
        iso.fill(size);
        mpeg2.fill(size);
        image.append(size, '\xFF');
      } else {
        std::string data(size + 1, '\0');
        for (char& c : data)
          c = static_cast<char>(random());
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data()) + 1;
        iso.update(bytes, size);
        mpeg2.update(bytes, size);
        image += data.substr(1);
      }
    }
    const std::size_t padding = (4 - image.size() % 4) % 4;
    image.append(padding, '\xFF');
    iso.fill(padding);
    mpeg2.fill(padding);
    std::string words = image; // each little-endian word from its top byte down
    for (auto word = words.begin(); word != words.end(); word += 4)
      std::reverse(word, word + 4);
    ASSERT_EQ(iso.value(), crc32Model(image)) << image.size();
    ASSERT_EQ(mpeg2.value(), mpeg2Model(words)) << image.size();
  }
  // A gap of 3 GiB takes no time; the value is Python's zlib.crc32(b"\xff" * (3 << 30)).
  recstamp::ImageCrc gap(recstamp::ImageCrc::Kind::isoHdlc);
  gap.fill(std::uint64_t{3} << 30);
  EXPECT_EQ(gap.value(), 0xFC000000);
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
  for (const std::size_t size : {2047, 2047, 2047, 2047, 5}) // the last one byte over the room left
    paged.write(std::string(size, 'w'));
  EXPECT_TRUE(paged.flush() && pages.largest <= 8192 &&
              pages.text.ends_with(std::string(8193, 'w')));
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
  // Names and header names that give C that does not compile, and the nearest that do.
  for (const std::string name : {"and", "xor_eq", "class", "main", "unix", "__func__", "_Pragma"})
    EXPECT_TRUE(!hexarray::isUsableName(name) && hexarray::isUsableName("x" + name)) << name;
  for (const char* path :
       {"a\"b.h", "a\nb.h", "x\x7F.h", "x?\?=.h", "x??\?(.h", "x?\?-", "sub\\x.h"})
    EXPECT_FALSE(hexarray::isUsableHeaderName(path)) << path;
  hexarray::Array array{.name = "FW_H", .include = {}, .fill = {}};
  EXPECT_FALSE(hexarray::fitsHeader(array, "fw.h"));
  array.name = "fw";
  EXPECT_TRUE(hexarray::fitsHeader(array, "FW_ADDRESS") && !hexarray::fitsHeader(array, "FW_SIZE"));
  array.fill = 0;
  EXPECT_FALSE(hexarray::fitsHeader(array, "FW_ADDRESS"));
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
