// The conversion pass: unless it stops at a bad digit, the array holds exactly totalSize entries,
// each "0x" and two hex digits, and the footer agrees; every message is a gap line.
#include "fuzz_support.hpp"
#include "hexarray/convert.hpp"
#include "srec/record.hpp"

using namespace srec::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzInput input = splitInput(data, size);
  srec::testing::MemorySource source(input.text, input.readSize);
  srec::TokenReader reader(source, input.readSize);
  srec::testing::MemorySink sink;
  srec::testing::MemorySink messages;
  srec::BufferedWriter out(sink, 64);
  const hexarray::ConvertResult result = hexarray::convert(reader, out, "fuzz_C", messages);
  require(out.flush());
  if (result.badHexDigit) {
    require(result.badDigitLine >= 1);
    return 0;
  }

  const std::string_view header = "\nconst unsigned char fuzz_C[] = \n{\n\t  ";
  const std::string footer =
      "\n}; /* Total Size = " + std::to_string(result.totalSize) + " bytes */\n\n";
  const std::string_view text = sink.text;
  require(text.substr(0, header.size()) == header);
  require(text.size() >= header.size() + footer.size());
  require(text.substr(text.size() - footer.size()) == footer);
  std::uint64_t entries = 0;
  for (std::size_t at = text.find("0x"); at != std::string_view::npos;
       at = text.find("0x", at + 2)) {
    require(at + 4 <= text.size() - footer.size());
    require(srec::hexDigit(text[at + 2]) >= 0 && srec::hexDigit(text[at + 3]) >= 0);
    ++entries;
  }
  require(entries == result.totalSize);

  std::string_view lines = messages.text;
  while (!lines.empty()) {
    const std::size_t end = lines.find('\n');
    require(end != std::string_view::npos);
    require(lines.substr(0, 27) == "S-record has gaps: sAddr=0x");
    lines.remove_prefix(end + 1);
  }
  return 0;
}
