// In-memory sources and sinks for running the reader, the writer and the passes in tests.
#pragma once

#include "srec/io.hpp"

#include <algorithm>
#include <string>

namespace srec::testing {

// Hands out `text` in reads of at most `chunk` bytes, failing after `failAfter` bytes if set.
struct MemorySource final : ByteSource {
  MemorySource(std::string_view text, std::size_t chunk, std::size_t failAfter = std::string::npos)
      : text(text), chunk(chunk), failAfter(failAfter) {}
  std::optional<std::size_t> read(std::span<char> into) override {
    if (offset >= failAfter) return std::nullopt;
    const std::size_t n = text.copy(into.data(), std::min(into.size(), chunk), offset);
    offset += n;
    return n;
  }
  std::string_view text;
  std::size_t chunk, failAfter, offset = 0;
};

// Collects what is written; refuses writes once `room` bytes are taken.
struct MemorySink final : ByteSink {
  explicit MemorySink(std::size_t room = std::string::npos) : room(room) {}
  bool write(std::span<const char> bytes) override {
    if (bytes.size() > room - text.size()) return false;
    text.append(bytes.data(), bytes.size());
    largest = std::max(largest, bytes.size());
    return true;
  }
  std::string text;
  std::size_t room, largest = 0;
};

} // namespace srec::testing
