// The files of one run: the input read in blocks, and the output, which appears whole or not at
// all.
#pragma once

#include "srec/io.hpp"
#include "srec/platform.hpp"

#include <cstdio>
#include <string>

namespace srec {

class InputFile final : public ByteSource {
public:
  // Opens `path` for reading bytes; false when it can't be opened or is a folder.
  bool open(const std::string& path);
  std::optional<std::size_t> read(std::span<char> into) override;
  // True when `path` names this very file, however it is spelled.
  [[nodiscard]] bool isSameFile(const std::string& path) const;

private:
  platform::FileHandle file_;
};

// A regular or new output is written to a hidden file beside it, made for this run alone, and
// takes the output's place only when it is whole: renamed over it, or, when other hard links
// share the output, copied into it. Until then the output keeps its old content, whatever
// happens, signals included. An output that is no regular file (a device, a FIFO, the tool's
// own standard output) is written directly and never removed.
class OutputFile final : public ByteSink {
public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&&) = delete;
  OutputFile& operator=(OutputFile&&) = delete;
  ~OutputFile() override { discard(); }

  // Prepares to write `path`; false when it can't be written (a folder, a read-only file, a
  // place where nothing can be created).
  bool open(const std::string& path);
  bool write(std::span<const char> bytes) override;
  [[nodiscard]] bool isStdout() const noexcept { return stream_ == stdout; }
  // Gives the output everything written; false when that failed, leaving it as discard() does.
  bool commit();
  // Leaves the output as it was before the run (or, when it could only be written directly,
  // empty); the written data is dropped.
  void discard() noexcept;

private:
  enum class Mode { closed, replace, copyIn, direct, directRegular, stream };
  bool copyIntoTarget();

  Mode mode_ = Mode::closed;
  platform::FileHandle file_;
  std::FILE* stream_ = nullptr; // what is written to: file_, or stdout or stderr
  std::string target_;
  std::string temporary_;
  platform::FileFacts replaced_; // what the output was before
};

// A sink on a stream the caller owns, such as stdout.
class StreamSink final : public ByteSink {
public:
  explicit StreamSink(std::FILE* stream) : stream_(stream) {}
  bool write(std::span<const char> bytes) override;
  [[nodiscard]] std::FILE* stream() const noexcept { return stream_; }

private:
  std::FILE* stream_;
};

} // namespace srec
