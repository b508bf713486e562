#include "srec/files.hpp"

#include "srec/hex.hpp"

#include <chrono>
#include <random>

namespace srec {
namespace {

using Kind = platform::FileFacts::Kind;

bool writeAll(std::FILE* stream, std::span<const char> bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

// A hidden name beside `target`, new on every call: ".out.c.1f3a9c0e" for "dir/out.c".
std::string temporaryName(const std::string& target) {
  static std::mt19937 random(
      std::random_device{}() ^
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const std::size_t slash = target.find_last_of("/\\") + 1;
  return target.substr(0, slash) + "." + target.substr(slash) + "." + toHex(random());
}

} // namespace

bool InputFile::open(const std::string& path) {
  if (platform::facts(path).kind == Kind::directory) return false;
  file_ = platform::openForReading(path);
  // The reader asks for whole blocks; a second buffer in stdio would only copy them once more.
  if (file_) std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  return file_ != nullptr;
}

std::optional<std::size_t> InputFile::read(std::span<char> into) {
  const std::size_t got = std::fread(into.data(), 1, into.size(), file_.get());
  if (std::ferror(file_.get()) != 0) return std::nullopt;
  return got;
}

bool InputFile::isSameFile(const std::string& path) const {
  return platform::isSameFile(file_.get(), path);
}

bool OutputFile::open(const std::string& path) {
  const platform::FileFacts facts = platform::facts(path);
  if (facts.kind == Kind::directory) return false;
  if (facts.stream != nullptr) {
    // The tool's own standard output or error: written through that stream, so that the output
    // and the messages never overwrite each other.
    stream_ = facts.stream;
    mode_ = Mode::stream;
    return true;
  }
  if (facts.kind == Kind::other) {
    file_ = platform::openForWriting(path, false, false);
    mode_ = Mode::direct;
  } else {
    replaced_ = facts;
    target_ = platform::finalName(path);
    // A read-only output is refused even where its folder would let it be replaced.
    if (facts.kind == Kind::regular && !platform::openForWriting(target_, false, false))
      return false;
    for (int attempt = 0; attempt < 16 && !file_; ++attempt)
      file_ = platform::createNew(temporary_ = temporaryName(target_));
    if (file_) {
      if (facts.kind == Kind::regular) platform::keepPermissions(file_.get(), facts);
      mode_ = facts.links > 1 ? Mode::copyIn : Mode::replace;
      platform::guard(&temporary_, nullptr);
    } else {
      // Nothing can be made beside the output: it is written directly, and emptied after a
      // failure, so that no partial file passes for whole.
      temporary_.clear();
      file_ = platform::openForWriting(target_, true, true);
      mode_ = Mode::directRegular;
      if (file_) platform::guard(nullptr, file_.get());
    }
  }
  if (!file_) {
    discard();
    return false;
  }
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  stream_ = file_.get();
  return true;
}

bool OutputFile::write(std::span<const char> bytes) {
  return writeAll(stream_, bytes);
}

bool OutputFile::commit() {
  bool whole = false;
  switch (mode_) {
  case Mode::closed:
    return false;
  case Mode::stream:
    whole = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    break;
  case Mode::direct:
    whole = std::fclose(file_.release()) == 0;
    break;
  case Mode::directRegular:
    whole = std::fflush(stream_) == 0 && std::fclose(file_.release()) == 0;
    break;
  case Mode::replace:
  case Mode::copyIn:
    // The data reaches the disk before it takes the output's place, so that even a power cut
    // leaves the old output or the new one, whole.
    whole = platform::sync(stream_) && std::fclose(file_.release()) == 0 &&
            (mode_ == Mode::replace ? platform::replace(temporary_, target_, replaced_)
                                    : copyIntoTarget());
    if (whole && mode_ == Mode::copyIn) platform::remove(temporary_);
    break;
  }
  if (!whole) {
    discard();
    return false;
  }
  platform::guardNothing();
  mode_ = Mode::closed;
  return true;
}

// Also after a failed commit: the temporary file goes, a directly written regular output is
// emptied, anything else is left as it is.
void OutputFile::discard() noexcept {
  if (mode_ == Mode::directRegular && file_) platform::truncate(file_.get());
  file_.reset();
  if (mode_ == Mode::replace || mode_ == Mode::copyIn) platform::remove(temporary_);
  platform::guardNothing();
  mode_ = Mode::closed;
}

// Copies the whole temporary file into the target, which keeps its other hard links. The old
// content is gone once the copy starts: a copy that fails or is cut short by a signal leaves the
// target empty, as a directly written output, so that no partial file passes for whole.
bool OutputFile::copyIntoTarget() {
  const platform::FileHandle from = platform::openForReading(temporary_);
  platform::FileHandle to = platform::openForWriting(target_, true, false, false);
  if (!from || !to) return false;
  platform::guard(&temporary_, to.get());
  const Block block = allocateBlock(blockSize);
  std::size_t got = 0;
  bool copied = true;
  while (copied && (got = std::fread(block.get(), 1, blockSize, from.get())) > 0)
    copied = writeAll(to.get(), {block.get(), got});
  copied = copied && std::ferror(from.get()) == 0 && platform::sync(to.get());
  platform::guard(&temporary_, nullptr);
  if (!copied) platform::truncate(to.get());
  return copied && std::fclose(to.release()) == 0;
}

bool StreamSink::write(std::span<const char> bytes) {
  return writeAll(stream_, bytes);
}

} // namespace srec
