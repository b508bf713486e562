#include "srec/platform.hpp"

// windows.h first: the other Windows headers build on it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace srec::platform {
namespace {

std::wstring widen(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length));
  return wide;
}

std::string narrow(const std::wstring& wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

HANDLE handleOf(const File& file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(file.get()));
}

// A C runtime descriptor over `handle`, which it then owns.
File adopt(HANDLE handle, int flags) {
  if (handle == INVALID_HANDLE_VALUE) return File();
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) CloseHandle(handle);
  return File(fd);
}

FileFacts factsOf(HANDLE handle) {
  FileFacts result;
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return result;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)) {
    result.kind = FileFacts::Kind::other;
    result.inode = reinterpret_cast<std::uintptr_t>(handle); // a console or pipe is itself
    return result;
  }
  result.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileFacts::Kind::directory
                                                                        : FileFacts::Kind::regular;
  result.device = info.dwVolumeSerialNumber;
  result.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  result.links = info.nNumberOfLinks;
  result.mode = info.dwFileAttributes;
  result.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return result;
}

std::wstring pathIn(const Place& place, const std::string& name) {
  return widen(place.folderPath + "\\" + name);
}

// What the console handler cleans up. Written only while the handler is held off.
struct Guarded {
  std::wstring temporary;
  int emptied = -1;
};
Guarded guarded[guardSlots];
CRITICAL_SECTION held;
// The standard descriptors that were closed when the tool started: `-` can't stand for them.
bool closedAtStart[3] = {};

BOOL WINAPI onConsoleEvent(DWORD /*event*/) {
  EnterCriticalSection(&held);
  cleanUp();
  LeaveCriticalSection(&held);
  return FALSE; // the default handler then ends the process
}

} // namespace

void cleanUp() noexcept {
  for (const Guarded& slot : guarded) {
    if (!slot.temporary.empty()) DeleteFileW(slot.temporary.c_str());
    if (slot.emptied >= 0) _chsize_s(slot.emptied, 0);
  }
}

bool File::close() noexcept {
  const int descriptor = release();
  return descriptor < 0 || _close(descriptor) == 0;
}

std::vector<std::string> arguments(int /*argc*/, char** /*argv*/) {
  // The narrow argv holds only what the ANSI code page can: take the UTF-16 command line.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i)
    result.push_back(narrow(wide[i]));
  LocalFree(wide);
  return result;
}

// A descriptor without a handle would be the first that _open hands out.
void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd)
    if (_get_osfhandle(fd) == -1) {
      closedAtStart[fd] = true;
      const int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
      if (null >= 0 && null != fd) {
        _dup2(null, fd);
        _close(null);
      }
    }
  InitializeCriticalSection(&held);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

FileFacts facts(const File& file) {
  return file ? factsOf(handleOf(file)) : FileFacts{};
}

FileFacts streamFacts(int descriptor) {
  return factsOf(GetStdHandle(descriptor == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE));
}

bool namesStandardOutput(const std::string& path) {
  const File file = adopt(CreateFileW(widen(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr),
                          _O_RDONLY);
  const FileFacts named = platform::facts(file);
  return named.kind == FileFacts::Kind::regular && named.sameFile(streamFacts(1));
}

bool standardOutputOpen() {
  return !closedAtStart[1];
}

File standardInput() {
  if (closedAtStart[0]) return File();
  File input(_dup(0));
  if (input) _setmode(input.get(), _O_BINARY);
  return input;
}

File openForReading(const std::string& path) {
  return adopt(CreateFileW(widen(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr),
               _O_RDONLY | _O_BINARY);
}

// Windows opens the whole name, following its links; the folder and name of what it opened are
// asked of the handle. A new output goes where its name says.
std::optional<Place> locate(const std::string& path) {
  if (path.empty()) return std::nullopt;
  Place place;
  HANDLE handle = CreateFileW(widen(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) return std::nullopt;
  place.file = adopt(handle, _O_WRONLY | _O_TEXT);
  if (place.file) {
    place.facts = facts(place.file);
    const auto isStream = [&](int stream) {
      return place.facts.kind == FileFacts::Kind::regular &&
             place.facts.sameFile(streamFacts(stream));
    };
    place.stream = isStream(1) ? 1 : isStream(2) ? 2 : -1;
    if (place.stream > 0 || place.facts.kind != FileFacts::Kind::regular) return place;
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                               0)) >= name.size())
      name.resize(length + 1);
    if (length == 0) return std::nullopt;
    name.resize(length);
    const std::string final = narrow(name);
    const std::size_t slash = final.find_last_of("\\/");
    place.folderPath = final.substr(0, slash);
    place.name = final.substr(slash + 1);
    return place;
  }
  const std::size_t slash = path.find_last_of("\\/");
  place.folderPath = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  place.name = path.substr(slash + 1);
  const DWORD attributes = GetFileAttributesW(widen(place.folderPath).c_str());
  if (place.name.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return std::nullopt;
  return place;
}

File createIn(const Place& place, const std::string& name, CreateError& error, bool hidden) {
  // A hidden file is shared only for deletion, so that the console handler can remove it while it
  // is open, and no one else reads or writes it meanwhile.
  const DWORD sharing =
      hidden ? FILE_SHARE_DELETE : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  File file = adopt(CreateFileW(pathIn(place, name).c_str(), GENERIC_READ | GENERIC_WRITE, sharing,
                                nullptr, CREATE_NEW,
                                hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL, nullptr),
                    _O_RDWR | _O_TEXT);
  const DWORD code = file ? ERROR_SUCCESS : GetLastError();
  error = file                                                               ? CreateError::none
          : code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS        ? CreateError::exists
          : code == ERROR_ACCESS_DENIED                                      ? CreateError::refused
          : code == ERROR_FILENAME_EXCED_RANGE || code == ERROR_INVALID_NAME ? CreateError::tooLong
                                                                             : CreateError::other;
  return file;
}

File createUnnamed(const Place& /*place*/, CreateError& error) {
  error = CreateError::unsupported; // every file has a name
  return File();
}

bool linkIn(const Place& /*place*/, const File& /*file*/, const std::string& /*name*/,
            CreateError& error) {
  error = CreateError::unsupported;
  return false;
}

bool keepsEveryName(const Place& /*place*/) {
  return false; // no folder of Windows lets files in but none out
}

bool mayReplace(const Place& /*place*/) {
  return true; // the folder's access rules apply to the file as it is made there
}

// Folders of Windows take names in any case, unless made otherwise: as one file they are refused.
bool sameName(const std::string& one, const std::string& other) {
  const std::wstring a = widen(one);
  const std::wstring b = widen(other);
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Written through, so that the rename is on the disk when the tool reports success.
bool renameIn(const Place& place, const std::string& from) {
  return MoveFileExW(pathIn(place, from).c_str(), pathIn(place, place.name).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// No exchange of two names at once: the output steps aside under a third name, the new file
// takes its place, and the old one then goes by `from`.
bool exchangeIn(const Place& place, const std::string& from) {
  const std::wstring output = pathIn(place, place.name);
  const std::wstring fromPath = pathIn(place, from);
  const std::wstring aside = pathIn(place, from + "~");
  if (!MoveFileExW(output.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
  if (!MoveFileExW(fromPath.c_str(), output.c_str(), MOVEFILE_WRITE_THROUGH)) {
    MoveFileExW(aside.c_str(), output.c_str(), MOVEFILE_WRITE_THROUGH);
    return false;
  }
  return MoveFileExW(aside.c_str(), fromPath.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeIn(const Place& place, const std::string& name) {
  return DeleteFileW(pathIn(place, name).c_str()) != 0;
}

std::optional<std::size_t> read(const File& file, std::span<char> into) {
  const int got = _read(file.get(), into.data(),
                        static_cast<unsigned>(std::min<std::size_t>(into.size(), INT_MAX)));
  if (got < 0) return std::nullopt;
  return static_cast<std::size_t>(got);
}

bool write(const File& file, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const int put = _write(file.get(), bytes.data(),
                           static_cast<unsigned>(std::min<std::size_t>(bytes.size(), INT_MAX / 2)));
    if (put <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(put));
  }
  return true;
}

// The bytes as they are on the disk, whatever the descriptor's text mode.
std::optional<std::size_t> readAt(const File& file, std::uint64_t offset, std::span<char> into) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (ReadFile(handleOf(file), into.data(), static_cast<DWORD>(into.size()), &got, &at)) return got;
  if (GetLastError() == ERROR_HANDLE_EOF) return 0;
  return std::nullopt;
}

bool reserve(const File& /*file*/, std::uint64_t /*size*/) {
  return true; // the copy fails as it goes, if it must
}

bool lock(const File& file) {
  OVERLAPPED whole{};
  return LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

bool truncate(const File& file) {
  return _chsize_s(file.get(), 0) == 0;
}

void writeVerbatim(const File& file) {
  _setmode(file.get(), _O_BINARY);
}

bool sync(const File& file) {
  return _commit(file.get()) == 0;
}

bool givePermissions(const File& /*file*/, const Place& /*place*/) {
  // No POSIX permission bits: the attributes follow as the file replaces the output, and the
  // access rules are the folder's.
  return true;
}

void keepAttributes(const Place& place) {
  // The output is in place; its attributes are a nicety that may fail.
  const bool existed = place.facts.kind == FileFacts::Kind::regular && place.facts.mode != 0;
  SetFileAttributesW(pathIn(place, place.name).c_str(),
                     existed ? place.facts.mode : FILE_ATTRIBUTE_NORMAL);
}

void guard(int slot, const Place& place, const std::string* temporary, const File* emptied) {
  std::wstring path = temporary != nullptr ? pathIn(place, *temporary) : std::wstring();
  const SignalsHeld hold;
  guarded[slot].temporary = std::move(path);
  guarded[slot].emptied = emptied != nullptr ? emptied->get() : -1;
}

void unguard(int slot) {
  const SignalsHeld hold;
  guarded[slot].temporary.clear();
  guarded[slot].emptied = -1;
}

SignalsHeld::SignalsHeld() {
  EnterCriticalSection(&held);
}

SignalsHeld::~SignalsHeld() {
  LeaveCriticalSection(&held);
}

} // namespace srec::platform
