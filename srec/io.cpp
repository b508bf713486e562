#include "srec/io.hpp"

namespace srec {

BufferedWriter::BufferedWriter(ByteSink& sink, std::size_t capacity)
    : sink_(sink), capacity_(capacity), buffer_(std::make_unique<char[]>(capacity)) {}

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
