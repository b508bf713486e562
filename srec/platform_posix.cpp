#include "srec/platform.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace srec::platform {
namespace {

constexpr int caughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// What the signal handler cleans up; set only while such a file exists.
const char* volatile guardedPath = nullptr;
volatile std::sig_atomic_t guardedDescriptor = -1;

// Only async-signal-safe calls. The signal is raised again with its default action, so that
// the caller sees the tool die of it.
extern "C" void onSignal(int signalNumber) {
  if (const char* path = guardedPath) unlink(path);
  if (guardedDescriptor >= 0 && ftruncate(guardedDescriptor, 0) != 0) {
    // Nothing more can be done: the signal ends the run anyway.
  }
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

// A signal ignored at start (nohup, a shell's background job) stays ignored; while one handler
// runs, the other signals wait.
void catchSignals() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : caughtSignals)
    sigaddset(&action.sa_mask, signalNumber);
  for (const int signalNumber : caughtSignals) {
    struct sigaction old {};
    if (sigaction(signalNumber, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      sigaction(signalNumber, &action, nullptr);
  }
}

FileHandle openDescriptor(int fd, const char* mode) {
  if (fd < 0) return nullptr;
  FileHandle file(fdopen(fd, mode));
  if (!file) close(fd);
  return file;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::vector<std::string> arguments(int argc, char** argv) {
  return {argv + std::min(argc, 1), argv + argc};
}

void openStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor is this one.
      if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return;
    }
}

// stat follows every link, /proc's links to open descriptors too, whose targets name no file:
// the tool's own standard output is known by its identity, never by its name.
FileFacts facts(const std::string& path) {
  FileFacts result;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return result;
  result.kind = S_ISREG(info.st_mode)   ? FileFacts::Kind::regular
                : S_ISDIR(info.st_mode) ? FileFacts::Kind::directory
                                        : FileFacts::Kind::other;
  struct stat stream {};
  if (fstat(STDOUT_FILENO, &stream) == 0 && sameFile(info, stream))
    result.stream = stdout;
  else if (fstat(STDERR_FILENO, &stream) == 0 && sameFile(info, stream))
    result.stream = stderr;
  result.links = info.st_nlink;
  result.mode = info.st_mode & 07777;
  result.owner = info.st_uid;
  result.group = info.st_gid;
  return result;
}

// As many hops as the kernel follows; a loop is left for the open to refuse.
std::string finalName(const std::string& path) {
  std::string name = path;
  struct stat info {};
  for (int hops = 0; hops < 40 && lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
       ++hops) {
    std::string target(256, '\0');
    ssize_t length = 0;
    while ((length = readlink(name.c_str(), target.data(), target.size())) ==
           static_cast<ssize_t>(target.size()))
      target.resize(2 * target.size());
    if (length <= 0) break;
    target.resize(static_cast<std::size_t>(length));
    // A relative target is taken from the folder of the link.
    const std::size_t slash = name.rfind('/');
    name.resize(target.front() == '/' || slash == std::string::npos ? 0 : slash + 1);
    name += target;
  }
  return name;
}

bool isSameFile(std::FILE* file, const std::string& path) {
  struct stat open {};
  struct stat named {};
  return fstat(fileno(file), &open) == 0 && stat(path.c_str(), &named) == 0 &&
         sameFile(open, named);
}

FileHandle openForReading(const std::string& path) {
  return openDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC), "rb");
}

FileHandle openForWriting(const std::string& path, bool truncate, bool create, bool /*text*/) {
  const int flags = O_WRONLY | O_CLOEXEC | (truncate ? O_TRUNC : 0) | (create ? O_CREAT : 0);
  return openDescriptor(::open(path.c_str(), flags, 0666), "wb");
}

// O_EXCL: never a name that exists, not even a link planted there; 0666 less the umask, as a
// new output gets.
FileHandle createNew(const std::string& path) {
  catchSignals();
  return openDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666), "wb");
}

void keepPermissions(std::FILE* file, const FileFacts& facts) {
  // The owner first: changing it may clear the set-user-ID bits that the mode then restores.
  if (fchown(fileno(file), static_cast<uid_t>(facts.owner), static_cast<gid_t>(facts.group)) != 0) {
    // Only a privileged process may give a file away; the new file keeps the caller's then.
  }
  fchmod(fileno(file), static_cast<mode_t>(facts.mode));
}

bool sync(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool truncate(std::FILE* file) {
  return std::fflush(file) == 0 && ftruncate(fileno(file), 0) == 0;
}

bool replace(const std::string& from, const std::string& to, const FileFacts& /*replaced*/) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool remove(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

void guard(const std::string* path, std::FILE* file) {
  catchSignals();
  guardedDescriptor = file != nullptr ? fileno(file) : -1;
  guardedPath = path != nullptr ? path->c_str() : nullptr;
}

void guardNothing() {
  guardedPath = nullptr;
  guardedDescriptor = -1;
}

} // namespace srec::platform
