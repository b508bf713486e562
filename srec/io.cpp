#include "srec/io.hpp"

#include <new>

namespace srec {
namespace {
constexpr std::align_val_t pageAlignment{4096};
} // namespace

void BlockDeleter::operator()(char* block) const noexcept {
  ::operator delete[](block, pageAlignment);
}

Block allocateBlock(std::size_t size) {
  return Block(new (pageAlignment) char[size]());
}

BufferedWriter::BufferedWriter(ByteSink& sink, std::size_t capacity)
    : sink_(sink), capacity_(capacity), buffer_(allocateBlock(capacity)) {}

bool BufferedWriter::flush() {
  if (used_ > 0 && !failed_) failed_ = !sink_.write({buffer_.get(), used_});
  used_ = 0;
  return !failed_;
}

void BufferedWriter::writeLarge(std::string_view bytes) {
  flush();
  if (bytes.size() <= capacity_) {
    write(bytes);
  } else if (!failed_) {
    failed_ = !sink_.write(bytes);
  }
}

} // namespace srec
