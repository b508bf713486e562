// The files of one run: the input read in blocks, and the outputs, which appear whole or not at
// all.
#pragma once

#include "srec/io.hpp"
#include "srec/platform.hpp"

#include <cstdio>
#include <memory>
#include <string>

namespace srec {

class InputFile final : public ByteSource {
public:
  // Opens `path` ("-": standard input) for reading bytes; false when it can't be opened or is a
  // folder.
  bool open(const std::string& path);
  std::optional<std::size_t> read(std::span<char> into) override;
  [[nodiscard]] const platform::FileFacts& facts() const noexcept { return facts_; }

private:
  platform::File file_;
  platform::FileFacts facts_;
};

// A regular or new output is written to a hidden file beside it, made for this run alone and
// for no one else, and takes the output's place only when it is whole: renamed over it, or, when
// other hard links share the output, copied into it under a lock. Until then the output keeps
// its old content, whatever happens, signals included. An output that is no regular file (a
// device, a FIFO, the tool's own standard output) is written directly and never removed. Where
// the folder takes no new file, keeps every name it has (append-only), or would not let the
// output be replaced (sticky), the output is written directly and emptied after a failure, so
// that no partial file passes for whole.
class OutputFile final : public ByteSink {
public:
  // `slot`: the signal guard this output uses; each output of a run has its own.
  explicit OutputFile(int slot) noexcept : slot_(slot) {}
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&&) = delete;
  OutputFile& operator=(OutputFile&&) = delete;
  ~OutputFile() override { discard(); }

  // Examines `path` ("-": standard output) and opens what is there, changing nothing; false
  // when it can't be written.
  bool locate(const std::string& path);
  // True when this output would write the same file as the input or the other output.
  [[nodiscard]] bool sameFile(const platform::FileFacts& other) const noexcept;
  [[nodiscard]] bool sameFile(const OutputFile& other) const noexcept;
  [[nodiscard]] bool isStdout() const noexcept { return stream_ == stdout; }
  // Makes what the output is written to; false when that can't be made.
  bool create();

  bool write(std::span<const char> bytes) override;
  // Has all that was written reach the disk, before any output takes its place.
  bool finish();
  // Does all that can fail before the output takes its place: the new file gets the old one's
  // permissions, a hard-linked output its lock and its space. A signal that comes while the lock
  // is awaited ends the run with the output untouched.
  bool prepare();
  // True when commit() can be undone: the output is renamed, not copied into.
  [[nodiscard]] bool renames() const noexcept { return mode_ == Mode::replace; }
  // Gives the output everything written; false when that failed, leaving it as discard() does.
  // `undoable`: the old file is kept beside until settle(), so that undo() can put it back.
  bool commit(bool undoable = false);
  // After an undoable commit: the old file goes back, or, with settle(), goes for good.
  void undo() noexcept;
  void settle() noexcept;
  // Leaves the output as it was before the run (or, when it could only be written directly,
  // empty); the written data is dropped.
  void discard() noexcept;

private:
  enum class Mode { closed, stream, direct, replace, copyIn, directRegular };
  bool createTemporary();
  bool copyIntoTarget();

  int slot_;
  Mode mode_ = Mode::closed;
  std::FILE* stream_ = nullptr; // stdout or stderr, for Mode::stream
  platform::Place place_;
  platform::File file_; // what is written: the temporary file, or the output itself
  std::string temporary_;
  bool undoable_ = false;         // committed, until settle() or undo()
  bool exchanged_ = false;        // the temporary file's name holds the old output
  std::unique_ptr<char[]> block_; // for the copy into a hard-linked output
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
