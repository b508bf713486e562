// Where the tools' bytes come from and go to, and the buffered writer every pass writes through.
// Files and memory both sit behind these interfaces, so each pass can be run in a test.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace srec {

// Both the reader and the writer move data in blocks of this size.
inline constexpr std::size_t blockSize = std::size_t{1} << 18;

// A block of memory that starts on a page, so the kernel copies it to and from files page by
// page; a misaligned buffer makes every read and write measurably slower. Left uninitialised,
// so that a small run touches only the pages it uses.
struct BlockDeleter {
  void operator()(char* block) const noexcept;
};
using Block = std::unique_ptr<char[], BlockDeleter>;
Block allocateBlock(std::size_t size);

class ByteSource {
public:
  virtual ~ByteSource() = default;
  // Reads up to into.size() bytes: the number read, 0 at the end of the input, nullopt on failure.
  virtual std::optional<std::size_t> read(std::span<char> into) = 0;
};

class ByteSink {
public:
  virtual ~ByteSink() = default;
  // Writes all of `bytes`; false on failure.
  virtual bool write(std::span<const char> bytes) = 0;
};

// Collects output in one large block and hands it to its sink when full. A sink failure is kept:
// afterwards output is dropped, so a pass can stop early and the caller reports it once.
// A large block is handed on in whole pages, its tail kept for the next: the output then grows
// a page at a time, which the kernel copies measurably faster than pieces that straddle pages.
// Bytes a quarter of the block or more are not copied but for their last part page: the block
// is topped up to a page and handed on, then they are, straight from where they are.
class BufferedWriter {
public:
  explicit BufferedWriter(ByteSink& sink, std::size_t capacity = blockSize);

  [[gnu::always_inline]] void write(std::string_view bytes) {
    if (bytes.size() <= capacity_ - used_ && bytes.size() < capacity_ / 4) {
      // memcpy, not string_view::copy: a call of its own in the hottest loops otherwise.
      std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
      used_ += bytes.size();
    } else {
      writeLarge(bytes);
    }
  }

  void put(char c) { *extend(1) = c; }

  // `line` and a '\n'.
  void writeLine(std::string_view line) {
    if (line.size() < capacity_ - used_) {
      std::memcpy(buffer_.get() + used_, line.data(), line.size());
      used_ += line.size();
      buffer_[used_++] = '\n';
    } else {
      writeLarge(line);
      put('\n');
    }
  }

  // Room for exactly `n` more bytes (n <= capacity()), which the caller fills at once.
  [[nodiscard]] char* extend(std::size_t n) {
    assert(n <= capacity());
    if (n > capacity_ - used_) drain();
    char* room = buffer_.get() + used_;
    used_ += n;
    return room;
  }

  // Hands everything buffered to the sink; false if any write so far has failed.
  bool flush();

  [[nodiscard]] bool failed() const noexcept { return failed_; }
  // The most that extend() can give at once.
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_ - unit_ + 1; }

private:
  void writeLarge(std::string_view bytes);
  void drain();

  ByteSink& sink_;
  std::size_t capacity_;
  std::size_t unit_; // what the sink is handed whole multiples of, but for the last
  Block buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

} // namespace srec
