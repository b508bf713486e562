#include "srec/io.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace srec {
namespace {
constexpr std::size_t pageSize = 4096;
constexpr std::align_val_t pageAlignment{pageSize};
} // namespace

void BlockDeleter::operator()(char* block) const noexcept {
  ::operator delete[](block, pageAlignment);
}

Block allocateBlock(std::size_t size) {
  return Block(new (pageAlignment) char[size]);
}

BufferedWriter::BufferedWriter(ByteSink& sink, std::size_t capacity)
    : sink_(sink), capacity_(capacity), unit_(capacity >= 2 * pageSize ? pageSize : 1),
      buffer_(allocateBlock(capacity)) {}

bool BufferedWriter::flush() {
  if (used_ > 0 && !failed_) failed_ = !sink_.write({buffer_.get(), used_});
  used_ = 0;
  return !failed_;
}

void BufferedWriter::drain() {
  const std::size_t whole = used_ - used_ % unit_;
  if (!failed_) failed_ = !sink_.write({buffer_.get(), whole});
  std::memmove(buffer_.get(), buffer_.get() + whole, used_ - whole);
  used_ -= whole;
}

void BufferedWriter::writeLarge(std::string_view bytes) {
  if (bytes.size() >= capacity_ / 4) {
    const std::size_t top =
        std::min({bytes.size(), (unit_ - used_ % unit_) % unit_, capacity_ - used_});
    bytes.copy(buffer_.get() + used_, top);
    used_ += top;
    bytes.remove_prefix(top);
    flush();
    const std::size_t whole = bytes.size() - bytes.size() % unit_;
    if (!failed_) failed_ = !sink_.write(bytes.substr(0, whole));
    bytes.remove_prefix(whole);
  }
  while (!bytes.empty() && !failed_) {
    const std::size_t part = std::min(bytes.size(), capacity_ - used_);
    bytes.copy(buffer_.get() + used_, part);
    used_ += part;
    bytes.remove_prefix(part);
    if (used_ == capacity_) drain();
  }
}

} // namespace srec
