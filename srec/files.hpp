// The files of one run: the input read in blocks, the output written in blocks, and what the run
// needs to know about them (the same file named twice, a regular output to remove on failure).
#pragma once

#include "srec/io.hpp"

#include <cstdio>
#include <memory>
#include <string>

namespace srec {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

class InputFile final : public ByteSource {
public:
  // Opens `path` for reading as bytes; false when it can't be opened or is a directory.
  bool open(const char* path);
  std::optional<std::size_t> read(std::span<char> into) override;
  // True when `path` names this very file, however it is spelled.
  [[nodiscard]] bool isSameFile(const char* path) const;
  void close() noexcept { file_.reset(); }

private:
  FileHandle file_;
};

class OutputFile final : public ByteSink {
public:
  // Creates or empties `path` for writing text: on Windows each '\n' becomes CR LF.
  bool open(const char* path);
  bool write(std::span<const char> bytes) override;
  // Closes the file; false when the last of its data could not be written.
  bool close() noexcept;
  // Closes the file and removes it when it is a regular one, so that no partial output is left.
  void discard() noexcept;

private:
  FileHandle file_;
  std::string path_;
  bool regular_ = false;
};

// A sink on a stream the caller owns, such as stdout.
class StreamSink final : public ByteSink {
public:
  explicit StreamSink(std::FILE* stream) : stream_(stream) {}
  bool write(std::span<const char> bytes) override;

private:
  std::FILE* stream_;
};

} // namespace srec
