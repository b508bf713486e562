// In-memory sources and sinks for running the reader, the writer and the passes in tests.
#pragma once

#include "srec/io.hpp"

#include <algorithm>
#include <string>
#include <string_view>

namespace srec::testing {

// Hands out `text` in reads of at most `chunk` bytes, failing after `failAfter` bytes if set.
class MemorySource final : public ByteSource {
public:
  explicit MemorySource(std::string_view text, std::size_t chunk = blockSize,
                        std::size_t failAfter = std::string_view::npos)
      : text_(text), chunk_(chunk), failAfter_(failAfter) {}

  std::optional<std::size_t> read(std::span<char> into) override {
    if (offset_ >= failAfter_) return std::nullopt;
    const std::size_t n = std::min({into.size(), chunk_, text_.size() - offset_});
    text_.copy(into.data(), n, offset_);
    offset_ += n;
    return n;
  }

private:
  std::string_view text_;
  std::size_t chunk_;
  std::size_t failAfter_;
  std::size_t offset_ = 0;
};

// Collects what is written; refuses writes once `room` bytes are taken.
class MemorySink final : public ByteSink {
public:
  explicit MemorySink(std::size_t room = std::string::npos) : room_(room) {}

  bool write(std::span<const char> bytes) override {
    if (bytes.size() > room_ - text.size()) return false;
    text.append(bytes.data(), bytes.size());
    return true;
  }

  std::string text;

private:
  std::size_t room_;
};

} // namespace srec::testing
