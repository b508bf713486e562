// What the tools need of the operating system, once for POSIX and once for Windows. Paths are
// UTF-8 throughout; the Windows side converts them to UTF-16 for the wide API.
//
// Once a run has started, files are worked on through what was opened then, never by their
// names again: another user who controls an output's folder can't swap a name for a link and
// make the tool read or write a file it did not examine.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace srec::platform {

// An open file: a descriptor (on Windows a C runtime descriptor over the handle, which turns each
// '\n' written into CR LF), closed when dropped.
class File {
public:
  File() = default;
  explicit File(int descriptor) noexcept : descriptor_(descriptor) {}
  File(File&& other) noexcept : descriptor_(other.release()) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      descriptor_ = other.release();
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  [[nodiscard]] int get() const noexcept { return descriptor_; }
  explicit operator bool() const noexcept { return descriptor_ >= 0; }
  int release() noexcept { return std::exchange(descriptor_, -1); }
  // Closes it; false when closing reported a failure of what was written.
  bool close() noexcept;

private:
  int descriptor_ = -1;
};

// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> arguments(int argc, char** argv);

// Gives each closed standard descriptor (0, 1, 2) the null device, so that no file the tool
// opens becomes its standard output, and makes a file size limit a write failure rather than a
// signal that kills the tool.
void prepareProcess();

// The identity and kind of an open file, and what a replacement should keep of it.
struct FileFacts {
  enum class Kind { missing, regular, directory, other } kind = Kind::missing;
  std::uint64_t device = 0; // with `inode`, which file it is
  std::uint64_t inode = 0;
  unsigned long links = 0;
  unsigned long mode = 0; // POSIX permission bits (Windows: attributes), owner and group
  unsigned long owner = 0;
  unsigned long group = 0;
  std::uint64_t size = 0;
  [[nodiscard]] bool sameFile(const FileFacts& other) const noexcept {
    return kind != Kind::missing && kind == other.kind && device == other.device &&
           inode == other.inode;
  }
};
FileFacts facts(const File& file);
// Of standard output (1) or error (2).
FileFacts streamFacts(int descriptor);

// True when `path` names the file that is standard output (only to tell where messages go).
bool namesStandardOutput(const std::string& path);

// Standard input, for reading bytes; standard output and error are written through stdio. A
// stream that was closed when the tool started is not there: its null device is no input.
File standardInput();
bool standardOutputOpen();
File openForReading(const std::string& path);

// Where an output goes: the folder that holds it, open, and its name there, symbolic links
// followed as the kernel follows them, and the file there now, open for writing but not emptied.
struct Place {
  File folder;
  std::string folderPath; // Windows: the folder's name; POSIX: unused
  std::string name;
  File file; // empty when nothing is there yet
  FileFacts facts;
  // The file's access list (POSIX), read at the start so that it can be carried over whole;
  // `aclRead` false when it could not be read.
  std::string acl;
  bool aclRead = true;
  int stream = -1; // 1 or 2 when the output is the tool's own standard output or error
};
// Nothing when the kernel would not open `path` for writing (a folder, a file the user may not
// write, a loop of links, a link the kernel refuses to follow), or the name changed under it.
std::optional<Place> locate(const std::string& path);

// Why a file can't be made in a folder.
enum class CreateError { none, exists, refused, tooLong, unsupported, other };
// Makes `name` in the place's folder, for reading and writing, failing when anything exists by
// that name, a link included: `hidden`, for no one but the caller (Windows: shared with no one),
// or else 0666 less the umask, as a new output gets.
File createIn(const Place& place, const std::string& name, CreateError& error, bool hidden);
// Makes a file without a name in the place's folder, for no one but the caller: no one else can
// open it, and it goes with the process however that ends. `unsupported` where the file system
// (or Windows) has no such files.
File createUnnamed(const Place& place, CreateError& error);
// Gives a file made by createUnnamed() the name `name` in the place's folder.
bool linkIn(const Place& place, const File& file, const std::string& name, CreateError& error);
// True when the folder takes new files but lets none be renamed or removed (append-only), also
// when it can't be read.
bool keepsEveryName(const Place& place);
// False when the folder would not let the caller put another file in the place of the output
// there (a sticky folder, an output of another user).
bool mayReplace(const Place& place);
// True when two names of files in one folder name the same file (Windows: in any case).
bool sameName(const std::string& one, const std::string& other);
// Renames `from` over the place's name, in its folder.
bool renameIn(const Place& place, const std::string& from);
// Puts `from` in the place of the output, which then goes by the name `from`, so that the two can
// change places again; false when that can't be done, nothing changed.
bool exchangeIn(const Place& place, const std::string& from);
bool removeIn(const Place& place, const std::string& name);

std::optional<std::size_t> read(const File& file, std::span<char> into);
bool write(const File& file, std::span<const char> bytes);
// Reads from the start of the file, whatever was read or written before.
std::optional<std::size_t> readAt(const File& file, std::uint64_t offset, std::span<char> into);
// Makes sure `size` bytes can be written into the file before anything in it is changed;
// false when the space is not there.
bool reserve(const File& file, std::uint64_t size);
// Waits for the only lock on the whole file; it ends when the file is closed.
bool lock(const File& file);
// Empties the file; what is written after that goes where the descriptor stands.
bool truncate(const File& file);
// Bytes written from now on go as they are (Windows: no CR put before each LF).
void writeVerbatim(const File& file);
// Writes the file's data through to the device.
bool sync(const File& file);
// Gives `file`, about to take the place of the output, what the output has: its permission bits,
// its owner and its group apart (each as far as the caller may set it), and its access list; a
// new output gets 0666 less the umask. False when the access list can't go along (POSIX;
// Windows gives a file its attributes as it replaces another).
bool givePermissions(const File& file, const Place& place);
// After a replacement on Windows: the attributes of what was replaced, the hidden one dropped.
void keepAttributes(const Place& place);

// On every signal that ends a process and can be caught (Windows: Ctrl-C, Ctrl-Break, console
// close), each guarded output is cleaned up (its temporary file removed, or a file written
// directly emptied), then the tool dies of the signal. Signals ignored at start stay ignored.
// A guard is one of a few slots; the place and name must outlive it.
inline constexpr int guardSlots = 2;
// What the signals do before the tool dies of them, for other ways a run can end at once.
void cleanUp() noexcept;
void guard(int slot, const Place& place, const std::string* temporary, const File* emptied);
void unguard(int slot);
// While held, signals wait: a commit of several files is not cut in the middle.
class SignalsHeld {
public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  SignalsHeld(SignalsHeld&&) = delete;
  SignalsHeld& operator=(SignalsHeld&&) = delete;
};

} // namespace srec::platform
