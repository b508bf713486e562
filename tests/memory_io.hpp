// An in-memory sink for running the writer and the passes in tests.
#pragma once

#include "srec/io.hpp"

#include <algorithm>
#include <string>

namespace srec::testing {

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
