// The token reader against a byte-at-a-time split, and header decoding on exact-size copies of
// the tokens, so that a read outside a token is an address error.
#include "fuzz_support.hpp"
#include "srec/record.hpp"
#include "srec/token_reader.hpp"

#include <cstring>
#include <memory>

using namespace srec::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzInput input = splitInput(data, size);
  srec::testing::MemorySource source(input.text, input.readSize);
  srec::TokenReader reader(source, input.readSize);
  const std::vector<ReferenceToken> expected = referenceTokens(input.text);

  std::size_t count = 0;
  while (const auto token = reader.next()) {
    require(count < expected.size());
    require(*token == expected[count].text);
    require(reader.line() == expected[count].line);
    ++count;
    if (srec::recordKind(*token) != srec::RecordKind::data) continue;
    const auto copy = std::make_unique<char[]>(token->size());
    std::memcpy(copy.get(), token->data(), token->size());
    const srec::RecordHeader header = srec::decodeHeader({copy.get(), token->size()});
    require(header.recType >= 1 && header.recType <= 3);
    require(header.dataLen == header.count - header.recType - 2);
  }
  require(count == expected.size());
  require(!reader.failed());
  return 0;
}
