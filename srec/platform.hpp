// What the tools need of the operating system, once for POSIX and once for Windows. Paths are
// UTF-8 throughout; the Windows side converts them to UTF-16 for the wide API.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace srec::platform {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> arguments(int argc, char** argv);

// Gives each of the standard descriptors 0, 1 and 2 that is closed the null device, so that no
// file the tool opens becomes its standard output.
void openStandardStreams();

// What an output path names, links followed.
struct FileFacts {
  enum class Kind { missing, regular, directory, other } kind = Kind::missing;
  std::FILE* stream = nullptr; // stdout or stderr when the path names the same file
  unsigned long links = 0;
  unsigned long mode = 0; // POSIX permission bits (Windows: attributes), owner and group
  unsigned long owner = 0;
  unsigned long group = 0;
};
FileFacts facts(const std::string& path);

// The file that a chain of symbolic links ends in, which may not exist yet; `path` itself when
// it is no link.
std::string finalName(const std::string& path);

// True when `path` names the file open as `file`, however it is spelled.
bool isSameFile(std::FILE* file, const std::string& path);

// Opens for reading bytes; null on failure.
FileHandle openForReading(const std::string& path);
// Opens for writing, emptied when `truncate`, created when missing and `create`; null on
// failure. In `text`, on Windows, each '\n' becomes CR LF.
FileHandle openForWriting(const std::string& path, bool truncate, bool create, bool text = true);
// Creates `path` for writing text, failing when anything exists by that name.
FileHandle createNew(const std::string& path);

// The permission bits, owner and group of `facts` given to `file`, as far as allowed (POSIX;
// Windows gives a file its attributes as it replaces another).
void keepPermissions(std::FILE* file, const FileFacts& facts);
// Writes the file's data through to the device.
bool sync(std::FILE* file);
// Empties an open file.
bool truncate(std::FILE* file);
// Renames `from` over `to`, replacing it; on Windows the result then has the attributes of
// `replaced`, the hidden one of a temporary file dropped.
bool replace(const std::string& from, const std::string& to, const FileFacts& replaced);
bool remove(const std::string& path);

// On SIGINT, SIGTERM, SIGHUP or SIGPIPE (Windows: Ctrl-C, Ctrl-Break, console close): removes
// `path`, or empties `file`, then dies of the signal. Signals ignored at start stay ignored.
// The path and file must outlive the guard; guardNothing() ends it.
void guard(const std::string* path, std::FILE* file);
void guardNothing();

} // namespace srec::platform
