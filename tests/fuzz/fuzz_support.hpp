// What the fuzz harnesses share: splitting the fuzzer's bytes into a read size and an input, and
// a plain reference split of an input into tokens to hold the reader against.
#pragma once

#include "memory_io.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace srec::fuzzing {

// The first byte picks a small read size, so that tokens, CR LF pairs and blank runs fall across
// block boundaries at every place; the rest is the input.
struct FuzzInput {
  std::size_t readSize;
  std::string_view text;
};

inline FuzzInput splitInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {1, {}};
  return {1 + data[0] % 97U, {reinterpret_cast<const char*>(data) + 1, size - 1}};
}

inline bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct ReferenceToken {
  std::string text;
  unsigned long line;
};

// One byte at a time: the slow, obviously right split.
inline std::vector<ReferenceToken> referenceTokens(std::string_view text) {
  std::vector<ReferenceToken> tokens;
  unsigned long line = 1;
  std::string current;
  unsigned long currentLine = 1;
  for (const char c : text) {
    if (isBlank(c)) {
      if (!current.empty()) tokens.push_back({current, currentLine});
      current.clear();
      if (c == '\n') ++line;
    } else {
      if (current.empty()) currentLine = line;
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back({current, currentLine});
  return tokens;
}

inline void require(bool condition) {
  if (!condition) std::abort();
}

} // namespace srec::fuzzing
