#include "srec/files.hpp"

#include "srec/hex.hpp"

#include <chrono>
#include <random>

namespace srec {
namespace {

using Kind = platform::FileFacts::Kind;

// The longest name a folder entry holds on the common file systems; a file system with shorter
// ones says so, and the hidden name is then cut shorter.
constexpr std::size_t longestName = 255;
// The block of the copy into a hard-linked output.
constexpr std::size_t copyBlock = std::size_t{1} << 16;

// A hidden name for a file beside `name`, new on every call: ".out.c.1f3a9c0e" for "out.c", with
// `name` cut to `room` bytes (never inside a UTF-8 character).
std::string temporaryName(const std::string& name, std::size_t room) {
  static std::mt19937 random(
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                            reinterpret_cast<std::uintptr_t>(&room)));
  std::size_t kept = std::min(name.size(), room);
  while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80)
    --kept;
  std::string hidden = ".";
  hidden.append(name, 0, kept).append(".").append(toHex(random()));
  return hidden;
}

// Gives a file a hidden name beside `name`, new for this run, by `make` (which tells why it
// failed): shorter where the folder takes no longer names.
template <typename Make>
platform::CreateError makeHidden(const std::string& name, std::string& hidden, Make make) {
  platform::CreateError error{};
  std::size_t room = longestName - 10;
  for (int attempt = 0; attempt < 64; ++attempt) {
    hidden = temporaryName(name, room);
    if (make(hidden, error)) return platform::CreateError::none;
    if (error == platform::CreateError::tooLong && room > 0) room /= 2;
    if (error != platform::CreateError::exists && error != platform::CreateError::tooLong) break;
  }
  hidden.clear();
  return error;
}

} // namespace

bool InputFile::open(const std::string& path) {
  file_ = path == "-" ? platform::standardInput() : platform::openForReading(path);
  facts_ = platform::facts(file_);
  return file_ && facts_.kind != Kind::directory;
}

std::optional<std::size_t> InputFile::read(std::span<char> into) {
  return platform::read(file_, into);
}

bool OutputFile::locate(const std::string& path) {
  if (path == "-") {
    if (!platform::standardOutputOpen()) return false;
    stream_ = stdout;
  } else {
    auto place = platform::locate(path);
    if (!place) return false;
    place_ = std::move(*place);
    stream_ = place_.stream == 1 ? stdout : place_.stream == 2 ? stderr : nullptr;
  }
  if (stream_ != nullptr) {
    // Written through the stream, so that the output and the messages never overwrite each
    // other.
    place_.facts = platform::streamFacts(stream_ == stdout ? 1 : 2);
    mode_ = Mode::stream;
  } else if (place_.facts.kind == Kind::other) {
    file_ = std::move(place_.file);
    mode_ = Mode::direct;
  } else {
    mode_ = place_.facts.links > 1 ? Mode::copyIn : Mode::replace;
    // Taken before anything is made, and never on the stack, which may be small.
    if (mode_ == Mode::copyIn) block_ = std::make_unique<char[]>(copyBlock);
  }
  return true;
}

bool OutputFile::sameFile(const platform::FileFacts& other) const noexcept {
  // A terminal or a pipe may well be both standard input and output.
  return place_.facts.kind == Kind::regular && place_.facts.sameFile(other);
}

bool OutputFile::sameFile(const OutputFile& other) const noexcept {
  if (place_.facts.kind != Kind::missing) return place_.facts.sameFile(other.place_.facts);
  // Two new files are the same when they are made under one name in one folder.
  if (other.place_.facts.kind != Kind::missing ||
      !platform::sameName(place_.name, other.place_.name))
    return false;
  // POSIX knows a folder by the one opened, Windows by its name.
  return place_.folder
             ? platform::facts(place_.folder).sameFile(platform::facts(other.place_.folder))
             : platform::sameName(place_.folderPath, other.place_.folderPath);
}

bool OutputFile::create() {
  if (mode_ != Mode::replace && mode_ != Mode::copyIn) return mode_ != Mode::closed;
  const bool keepsNames = platform::keepsEveryName(place_);
  if (!keepsNames && (mode_ == Mode::copyIn || platform::mayReplace(place_))) {
    // Without a name until it takes the output's place, where the file system allows: nothing of
    // it is left should the tool be killed.
    platform::CreateError error{};
    file_ = platform::createUnnamed(place_, error);
    const platform::SignalsHeld held; // no signal between making a file and guarding it
    if (error == platform::CreateError::unsupported)
      error = makeHidden(place_.name, temporary_, [&](const std::string& name, auto& why) {
        file_ = platform::createIn(place_, name, why, true);
        return bool(file_);
      });
    if (file_) {
      if (!temporary_.empty()) platform::guard(slot_, place_, &temporary_, nullptr);
      return true;
    }
    // Only a folder that refuses new files is written around; no space, no inodes, a read-only
    // file system fail the run before anything changed.
    if (error != platform::CreateError::refused) return false;
  }
  // Nothing can be made beside the output, nothing made there could go again, or it could not
  // take the output's place: the output is written directly, locked so that two runs never mix,
  // and emptied after a failure. The lock is awaited with signals let through: one that comes
  // meanwhile ends the run with the output untouched.
  platform::File direct = std::move(place_.file);
  if (direct && !platform::lock(direct)) return false;
  const platform::SignalsHeld held;
  platform::CreateError error{};
  if (!direct && keepsNames) direct = platform::createIn(place_, place_.name, error, false);
  if (!direct || !platform::lock(direct) || !platform::truncate(direct)) return false;
  file_ = std::move(direct);
  mode_ = Mode::directRegular;
  platform::guard(slot_, place_, nullptr, &file_);
  return true;
}

bool OutputFile::write(std::span<const char> bytes) {
  if (mode_ == Mode::stream)
    return std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size();
  return platform::write(file_, bytes);
}

bool OutputFile::finish() {
  bool whole = false;
  switch (mode_) {
  case Mode::closed:
    break;
  case Mode::stream:
    whole = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    break;
  case Mode::direct:
    whole = true;
    break;
  case Mode::replace:
  case Mode::copyIn:
  case Mode::directRegular:
    // The data reaches the disk before it takes the output's place, so that even a power cut
    // leaves the old output or the new one, whole.
    whole = platform::sync(file_);
    break;
  }
  if (!whole) discard();
  return whole;
}

bool OutputFile::prepare() {
  bool ready = true;
  if (mode_ == Mode::replace)
    ready = platform::givePermissions(file_, place_);
  else if (mode_ == Mode::copyIn)
    // The space the new content takes is made sure of too: a disk too full for it fails the run
    // with the old content still there.
    ready =
        platform::lock(place_.file) && platform::reserve(place_.file, platform::facts(file_).size);
  if (!ready) discard();
  return ready;
}

bool OutputFile::commit(bool undoable) {
  bool whole = false;
  switch (mode_) {
  case Mode::closed:
    return false;
  case Mode::stream:
    whole = true;
    break;
  case Mode::direct:
  case Mode::directRegular:
    whole = file_.close();
    break;
  case Mode::replace:
    // The file replaced was opened only to be examined; held open, Windows would not let it go.
    place_.file = platform::File();
    if (temporary_.empty() &&
        makeHidden(place_.name, temporary_, [&](const std::string& name, auto& why) {
          return platform::linkIn(place_, file_, name, why);
        }) != platform::CreateError::none)
      break;
    platform::guard(slot_, place_, &temporary_, nullptr);
    if (!file_.close()) break;
    // Where it can be undone, the old file changes places with the new one and stays beside it.
    exchanged_ =
        undoable && place_.facts.kind == Kind::regular && platform::exchangeIn(place_, temporary_);
    whole = exchanged_ || platform::renameIn(place_, temporary_);
    if (whole) platform::keepAttributes(place_);
    if (whole && undoable && (exchanged_ || place_.facts.kind == Kind::missing)) {
      undoable_ = true;
      return true; // guarded until settle() or undo()
    }
    break;
  case Mode::copyIn:
    whole = copyIntoTarget();
    if (whole && !temporary_.empty()) platform::removeIn(place_, temporary_);
    break;
  }
  if (!whole) {
    discard();
    return false;
  }
  platform::unguard(slot_);
  mode_ = Mode::closed;
  return true;
}

void OutputFile::undo() noexcept {
  if (undoable_) {
    // The new file then goes by the hidden name, and goes with it.
    if (exchanged_)
      platform::exchangeIn(place_, temporary_);
    else
      platform::removeIn(place_, place_.name);
  }
  undoable_ = false;
  discard();
}

void OutputFile::settle() noexcept {
  if (!undoable_) return;
  if (exchanged_) platform::removeIn(place_, temporary_); // the old file
  undoable_ = false;
  platform::unguard(slot_);
  mode_ = Mode::closed;
}

// Also after a failed commit: the temporary file goes, a directly written regular output is
// emptied, anything else is left as it is.
void OutputFile::discard() noexcept {
  if (mode_ == Mode::directRegular && file_) platform::truncate(file_);
  if ((mode_ == Mode::replace || mode_ == Mode::copyIn) && !temporary_.empty())
    platform::removeIn(place_, temporary_);
  platform::unguard(slot_);
  file_ = platform::File();
  mode_ = Mode::closed;
}

// Copies the whole temporary file into the output, which keeps its other hard links: both
// through the descriptors opened at the start, the output locked and its space reserved
// beforehand, so that two runs never mix. The old content is gone once the copy starts: a copy
// that fails even so leaves the output empty, so that no partial file passes for whole.
bool OutputFile::copyIntoTarget() {
  const platform::File& target = place_.file;
  if (!platform::truncate(target)) return false;
  platform::writeVerbatim(target);
  const std::span<char> block(block_.get(), copyBlock);
  bool copied = true;
  for (std::uint64_t offset = 0; copied;) {
    const auto got = platform::readAt(file_, offset, block);
    if (got == 0) break;
    copied = got && platform::write(target, block.first(got.value_or(0)));
    offset += got.value_or(0);
  }
  copied = copied && platform::sync(target);
  if (!copied) platform::truncate(target);
  return copied && place_.file.close();
}

bool StreamSink::write(std::span<const char> bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size();
}

} // namespace srec
