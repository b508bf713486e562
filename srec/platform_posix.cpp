#include "srec/platform.hpp"

#include <ctime>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <utility>

namespace srec::platform {
namespace {

// Every signal whose default action ends the process and that can be caught. SIGXFSZ is not
// among them: it is ignored, so that a file size limit fails a write instead.
constexpr int caughtSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE,   SIGALRM,
                                 SIGUSR1, SIGUSR2, SIGPOLL, SIGPROF, SIGVTALRM, SIGXCPU};

// What the signal handler cleans up. Written only while the caught signals are blocked.
struct Guarded {
  int folder = -1;
  const char* temporary = nullptr;
  int emptied = -1;
};
Guarded guarded[guardSlots];

sigset_t caughtSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signalNumber : caughtSignals)
    sigaddset(&set, signalNumber);
  return set;
}

// Only async-signal-safe calls. The signal is raised again with its default action, so that
// the caller sees the tool die of it.
extern "C" void onSignal(int signalNumber) {
  cleanUp();
  std::signal(signalNumber, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signalNumber);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(signalNumber);
}

// A signal ignored at start (nohup, a shell's background job) stays ignored; while the handler
// runs, the other signals wait.
void catchSignals() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  action.sa_mask = caughtSet();
  for (const int signalNumber : caughtSignals) {
    struct sigaction old {};
    if (sigaction(signalNumber, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      sigaction(signalNumber, &action, nullptr);
  }
}

// The standard descriptors that were closed when the tool started: `-` can't stand for them.
bool closedAtStart[3] = {};
// What a new file's mode loses, as the process started.
mode_t creationMask = 022;

constexpr const char* aclName = "system.posix_acl_access";

FileFacts factsOf(const struct stat& info) {
  FileFacts result;
  result.kind = S_ISREG(info.st_mode)   ? FileFacts::Kind::regular
                : S_ISDIR(info.st_mode) ? FileFacts::Kind::directory
                                        : FileFacts::Kind::other;
  result.device = info.st_dev;
  result.inode = info.st_ino;
  result.links = info.st_nlink;
  result.mode = info.st_mode & 07777;
  result.owner = info.st_uid;
  result.group = info.st_gid;
  result.size = static_cast<std::uint64_t>(info.st_size);
  return result;
}

// "dir/sub/name" -> "dir/sub" and "name"; "name" -> "." and "name"; "/name" -> "/" and "name".
std::pair<std::string, std::string> splitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::optional<std::string> readLink(int folder, const std::string& name) {
  std::string target(256, '\0');
  ssize_t length = 0;
  while ((length = readlinkat(folder, name.c_str(), target.data(), target.size())) ==
         static_cast<ssize_t>(target.size()))
    target.resize(2 * target.size());
  if (length <= 0) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

} // namespace

void cleanUp() noexcept {
  for (const Guarded& slot : guarded) {
    if (slot.temporary != nullptr) unlinkat(slot.folder, slot.temporary, 0);
    if (slot.emptied >= 0 && ftruncate(slot.emptied, 0) != 0) {
      // Nothing more can be done: the run ends anyway.
    }
  }
}

bool File::close() noexcept {
  const int descriptor = release();
  return descriptor < 0 || ::close(descriptor) == 0;
}

std::vector<std::string> arguments(int argc, char** argv) {
  return {argv + std::min(argc, 1), argv + argc};
}

void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      closedAtStart[fd] = true;
      // The lowest free descriptor is this one.
      if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) break;
    }
  std::signal(SIGXFSZ, SIG_IGN);
  catchSignals();
  creationMask = umask(022);
  umask(creationMask);
}

FileFacts facts(const File& file) {
  struct stat info {};
  return fstat(file.get(), &info) == 0 ? factsOf(info) : FileFacts{};
}

FileFacts streamFacts(int descriptor) {
  struct stat info {};
  return fstat(descriptor, &info) == 0 ? factsOf(info) : FileFacts{};
}

bool namesStandardOutput(const std::string& path) {
  struct stat named {};
  struct stat out {};
  return stat(path.c_str(), &named) == 0 && fstat(STDOUT_FILENO, &out) == 0 &&
         factsOf(named).sameFile(factsOf(out));
}

File standardInput() {
  if (closedAtStart[STDIN_FILENO]) return {};
  return File(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3));
}

bool standardOutputOpen() {
  return !closedAtStart[STDOUT_FILENO];
}

File openForReading(const std::string& path) {
  return File(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
}

namespace {

std::optional<Place> locateThroughLinks(const std::string& path);

// The kernel opens the whole name first, with its own rules for links: its limits, loops,
// nosymfollow mounts and protected links in sticky folders. The links are then walked to find
// the folder and name of what it opened, and that must be the very file it opened. Where the
// kernel found nothing, the walk follows no link by itself: a link there, dangling or planted
// since, is left to the kernel (`mayMake`).
std::optional<Place> locate(const std::string& path, bool mayMake) {
  if (path.empty()) return std::nullopt;
  Place place;
  place.file = File(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  if (!place.file && errno != ENOENT) return std::nullopt;
  if (place.file) {
    place.facts = facts(place.file);
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
      struct stat info {};
      if (fstat(stream, &info) == 0 && place.facts.sameFile(factsOf(info))) {
        place.stream = stream;
        return place;
      }
    }
    // A device or a FIFO is written directly: no name of it is needed.
    if (place.facts.kind != FileFacts::Kind::regular) return place;
  }
  auto [folder, name] = splitPath(path);
  place.folder = File(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  // The kernel follows at most 40 links, and has refused more already.
  for (int hops = 0; place.folder && !name.empty() && hops <= 40; ++hops) {
    struct stat info {};
    if (fstatat(place.folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      // Nothing by that name: a new output, where the kernel found nothing either.
      if (errno != ENOENT || place.file) return std::nullopt;
      place.name = name;
      return place;
    }
    if (!S_ISLNK(info.st_mode)) {
      // What the walk found must be the very file the kernel opened.
      if (!place.file || !place.facts.sameFile(factsOf(info))) return std::nullopt;
      place.name = name;
      return place;
    }
    if (!place.file) return mayMake ? locateThroughLinks(path) : std::nullopt;
    const auto target = readLink(place.folder.get(), name);
    if (!target) return std::nullopt;
    auto [targetFolder, targetName] = splitPath(*target);
    place.folder =
        File(openat(place.folder.get(), targetFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    name = targetName;
  }
  return std::nullopt;
}

// A name that leads through links to nothing: the kernel makes the file, following them by its
// own rules, and the walk then finds where that is. What was made goes again at once, and the
// output is made there as a new file. A file that was there already (a link planted since) is
// the output as the kernel found it.
std::optional<Place> locateThroughLinks(const std::string& path) {
  const SignalsHeld held; // nothing made here outlives a signal
  timespec before{};
  clock_gettime(CLOCK_REALTIME_COARSE, &before); // the clock of the file times
  const File made(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
  struct stat info {};
  if (!made || fstat(made.get(), &info) != 0) return std::nullopt;
  const bool isNew =
      S_ISREG(info.st_mode) && info.st_size == 0 && info.st_nlink == 1 &&
      (info.st_ctim.tv_sec > before.tv_sec ||
       (info.st_ctim.tv_sec == before.tv_sec && info.st_ctim.tv_nsec >= before.tv_nsec));
  auto place = locate(path, false);
  if (!place || !place->facts.sameFile(factsOf(info)) || !isNew) return place;
  struct stat there {};
  if (fstatat(place->folder.get(), place->name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
      !factsOf(there).sameFile(factsOf(info)) ||
      unlinkat(place->folder.get(), place->name.c_str(), 0) != 0)
    return std::nullopt;
  place->file = File();
  place->facts = FileFacts{};
  return place;
}

} // namespace

namespace {

// True when the process has the capability in effect.
bool capable(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, 2> capabilities{};
  return syscall(SYS_capget, &header, capabilities.data()) == 0 &&
         (capabilities[static_cast<std::size_t>(capability / 32)].effective &
          (1U << (capability % 32))) != 0;
}

// "/proc/self/fd/N", the name of an open file in /proc; formatted by hand, as the printf family
// alone would add pages of code to every run's memory.
std::array<char, 32> procPath(int descriptor) {
  std::array<char, 32> path{"/proc/self/fd/"};
  std::array<char, 12> digits{};
  std::size_t count = 0;
  for (auto rest = static_cast<unsigned>(descriptor); count == 0 || rest > 0; rest /= 10)
    digits[count++] = static_cast<char>('0' + rest % 10);
  std::reverse_copy(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(count),
                    path.begin() + 14);
  return path;
}

// An access list of any size: asked for its size first, read again should it grow meanwhile.
// False when it can't be read; empty when there is none.
template <typename Get> bool readAcl(std::string& acl, Get get) {
  ssize_t size = 0;
  while ((size = get(nullptr, 0)) > 0) {
    acl.resize(static_cast<std::size_t>(size));
    size = get(acl.data(), acl.size());
    if (size >= 0 || errno != ERANGE) break;
  }
  acl.resize(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
  return size >= 0 || errno == ENODATA || errno == EOPNOTSUPP;
}

// The access list a file made with 0666 gets from its folder's default one: the owner's, the
// group's (or the mask's) and the others' entries lose their execute bits.
void asCreated(std::string& acl) {
  constexpr std::size_t header = 4;
  constexpr std::size_t entry = 8; // tag, permissions (16 bits each), id (32 bits), little-endian
  constexpr int owner = 0x01;
  constexpr int group = 0x04;
  constexpr int mask = 0x10;
  constexpr int others = 0x20;
  const auto tagAt = [&](std::size_t at) { return static_cast<unsigned char>(acl[at]); };
  bool masked = false;
  for (std::size_t at = header; at + entry <= acl.size(); at += entry)
    masked = masked || tagAt(at) == mask;
  for (std::size_t at = header; at + entry <= acl.size(); at += entry)
    if (tagAt(at) == owner || tagAt(at) == others || tagAt(at) == (masked ? mask : group))
      acl[at + 2] = static_cast<char>(acl[at + 2] & 06);
}

} // namespace

std::optional<Place> locate(const std::string& path) {
  auto place = locate(path, true);
  if (!place || place->stream >= 0) return place;
  if (place->file && place->facts.kind == FileFacts::Kind::regular && place->facts.links == 1) {
    place->aclRead = readAcl(place->acl, [&](char* into, std::size_t size) {
      return fgetxattr(place->file.get(), aclName, into, size);
    });
  } else if (!place->file && place->folder) {
    // A new output gets its folder's default access list as the kernel would give it. The folder,
    // opened only to be found, is read through its entry in /proc.
    const auto folder = procPath(place->folder.get());
    // Without /proc, the umask alone decides, as for a folder without one.
    place->aclRead =
        readAcl(place->acl,
                [&](char* into, std::size_t size) {
                  return getxattr(folder.data(), "system.posix_acl_default", into, size);
                }) ||
        errno == ENOENT;
    asCreated(place->acl);
  }
  return place;
}

namespace {

CreateError createError(bool made) {
  return made                                                        ? CreateError::none
         : errno == EEXIST                                           ? CreateError::exists
         : errno == EACCES || errno == EPERM                         ? CreateError::refused
         : errno == ENAMETOOLONG                                     ? CreateError::tooLong
         : errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? CreateError::unsupported
                                                                     : CreateError::other;
}

} // namespace

File createIn(const Place& place, const std::string& name, CreateError& error, bool hidden) {
  File file(openat(place.folder.get(), name.c_str(),
                   O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, hidden ? 0600 : 0666));
  error = createError(bool(file));
  return file;
}

File createUnnamed(const Place& place, CreateError& error) {
  File file(openat(place.folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  error = createError(bool(file));
  // Where it could never be named (no /proc, and no privilege to link a descriptor), a named
  // file is made instead.
  struct stat entry {};
  if (file && !capable(CAP_DAC_READ_SEARCH) && stat(procPath(file.get()).data(), &entry) != 0) {
    error = CreateError::unsupported;
    return {};
  }
  return file;
}

bool linkIn(const Place& place, const File& file, const std::string& name, CreateError& error) {
  // Linking a descriptor takes a privilege; without it, the file is linked through its entry in
  // /proc, which is the very file too.
  bool linked = linkat(file.get(), "", place.folder.get(), name.c_str(), AT_EMPTY_PATH) == 0;
  if (!linked && errno == ENOENT) {
    const auto self = procPath(file.get());
    linked =
        linkat(AT_FDCWD, self.data(), place.folder.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  error = createError(linked);
  return linked;
}

bool keepsEveryName(const Place& place) {
  // statx tells the attributes of a folder that can't be read; a file system that does not
  // answer there is asked the old way, through a folder opened for reading.
  constexpr auto kept = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
  struct statx info {};
  if (statx(place.folder.get(), "", AT_EMPTY_PATH, 0, &info) == 0 &&
      (info.stx_attributes_mask & kept) == kept)
    return (info.stx_attributes & kept) != 0;
  const File folder(openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  int flags = 0;
  return folder && ioctl(folder.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
         (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

bool mayReplace(const Place& place) {
  struct stat folder {};
  if (place.facts.kind != FileFacts::Kind::regular || fstat(place.folder.get(), &folder) != 0 ||
      (folder.st_mode & S_ISVTX) == 0 || place.facts.owner == geteuid() ||
      folder.st_uid == geteuid())
    return true;
  // In a sticky folder only the owner of a file or of the folder, or a process that may act as
  // any owner, removes or replaces it.
  return capable(CAP_FOWNER);
}

bool sameName(const std::string& one, const std::string& other) {
  return one == other;
}

bool renameIn(const Place& place, const std::string& from) {
  return renameat(place.folder.get(), from.c_str(), place.folder.get(), place.name.c_str()) == 0;
}

bool exchangeIn(const Place& place, const std::string& from) {
  return renameat2(place.folder.get(), from.c_str(), place.folder.get(), place.name.c_str(),
                   RENAME_EXCHANGE) == 0;
}

bool removeIn(const Place& place, const std::string& name) {
  return unlinkat(place.folder.get(), name.c_str(), 0) == 0;
}

std::optional<std::size_t> read(const File& file, std::span<char> into) {
  for (;;) {
    const ssize_t got = ::read(file.get(), into.data(), into.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return std::nullopt;
  }
}

bool write(const File& file, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(file.get(), bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(put));
  }
  return true;
}

std::optional<std::size_t> readAt(const File& file, std::uint64_t offset, std::span<char> into) {
  for (;;) {
    const ssize_t got = pread(file.get(), into.data(), into.size(), static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return std::nullopt;
  }
}

bool reserve(const File& file, std::uint64_t size) {
  // A file system that can't reserve space says so; that is no reason to stop.
  return size == 0 ||
         fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0 ||
         (errno != ENOSPC && errno != EDQUOT && errno != EFBIG);
}

bool lock(const File& file) {
  int result = 0;
  while ((result = flock(file.get(), LOCK_EX)) != 0 && errno == EINTR) {
  }
  return result == 0;
}

bool truncate(const File& file) {
  return ftruncate(file.get(), 0) == 0;
}

void writeVerbatim(const File& /*file*/) {}

bool sync(const File& file) {
  return fsync(file.get()) == 0;
}

bool givePermissions(const File& file, const Place& place) {
  const FileFacts& old = place.facts;
  const bool replaces = old.kind == FileFacts::Kind::regular;
  // Owner and group apart: a user who can't give a file away may still set its group. The owner
  // first: changing it may clear the set-ID bits that the mode then restores.
  if (replaces && fchown(file.get(), static_cast<uid_t>(old.owner), static_cast<gid_t>(-1)) != 0) {
    // Only a privileged process may give a file away; the new file stays the caller's then.
  }
  if (replaces && fchown(file.get(), static_cast<uid_t>(-1), static_cast<gid_t>(old.group)) != 0) {
    // A group the caller is no member of: the new file keeps the caller's.
  }
  // The access list goes along whole, or the run fails: the mode's group bits are only its mask.
  // One that the new file got from its folder's default goes, unless the old file had one.
  if (!place.aclRead) return false;
  if (place.acl.empty() && fremovexattr(file.get(), aclName) != 0 && errno != ENODATA &&
      errno != EOPNOTSUPP)
    return false;
  const auto mode = static_cast<mode_t>(replaces ? old.mode : 0666 & ~creationMask);
  return fchmod(file.get(), mode) == 0 &&
         (place.acl.empty() ||
          fsetxattr(file.get(), aclName, place.acl.data(), place.acl.size(), 0) == 0);
}

void keepAttributes(const Place& /*place*/) {
  // The permission bits went with the file that was renamed into place.
}

void guard(int slot, const Place& place, const std::string* temporary, const File* emptied) {
  const SignalsHeld held;
  guarded[slot] = {place.folder.get(), temporary != nullptr ? temporary->c_str() : nullptr,
                   emptied != nullptr ? emptied->get() : -1};
}

void unguard(int slot) {
  const SignalsHeld held;
  guarded[slot] = {};
}

namespace {
// Held ones may nest: only the outermost lets the signals through again.
int signalsHeld = 0;
} // namespace

SignalsHeld::SignalsHeld() {
  if (signalsHeld++ > 0) return;
  const sigset_t set = caughtSet();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

SignalsHeld::~SignalsHeld() {
  if (--signalsHeld > 0) return;
  const sigset_t set = caughtSet();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

} // namespace srec::platform
