#include "srec/platform.hpp"

// windows.h first: the other Windows headers build on it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <csignal>

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

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle openExisting(const std::string& path, DWORD access) {
  HANDLE handle = CreateFileW(widen(path).c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool sameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

FileHandle openHandle(HANDLE handle, int flags, const char* mode) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FileHandle file(_fdopen(fd, mode));
  if (!file) _close(fd);
  return file;
}

// What the console handler cleans up; set only while such a file exists.
std::wstring guardedPath;
std::FILE* volatile guardedFile = nullptr;

BOOL WINAPI onConsoleEvent(DWORD /*event*/) {
  if (!guardedPath.empty()) DeleteFileW(guardedPath.c_str());
  if (std::FILE* file = guardedFile) _chsize_s(_fileno(file), 0);
  return FALSE; // the default handler then ends the process
}

} // namespace

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
void openStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd)
    if (_get_osfhandle(fd) == -1) {
      const int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
      if (null >= 0 && null != fd) {
        _dup2(null, fd);
        _close(null);
      }
    }
}

FileFacts facts(const std::string& path) {
  FileFacts result;
  const Handle file = openExisting(path, 0);
  if (!file) return result;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info)) {
    result.kind = FileFacts::Kind::other;
    return result;
  }
  result.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileFacts::Kind::directory
                                                                        : FileFacts::Kind::regular;
  if (sameFile(file.get(), GetStdHandle(STD_OUTPUT_HANDLE)))
    result.stream = stdout;
  else if (sameFile(file.get(), GetStdHandle(STD_ERROR_HANDLE)))
    result.stream = stderr;
  result.links = info.nNumberOfLinks;
  result.mode = info.dwFileAttributes;
  return result;
}

// Only a reparse point (a symbolic link or a junction) names another file; its final path is
// where the output belongs.
std::string finalName(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return path;
  const Handle file = openExisting(path, 0);
  if (!file) return path;
  std::wstring name(MAX_PATH, L'\0');
  DWORD length = 0;
  while ((length = GetFinalPathNameByHandleW(file.get(), name.data(),
                                             static_cast<DWORD>(name.size()), 0)) >= name.size())
    name.resize(length + 1);
  if (length == 0) return path;
  name.resize(length);
  return narrow(name);
}

bool isSameFile(std::FILE* file, const std::string& path) {
  const Handle other = openExisting(path, 0);
  return other && sameFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), other.get());
}

FileHandle openForReading(const std::string& path) {
  return FileHandle(_wfopen(widen(path).c_str(), L"rb"));
}

FileHandle openForWriting(const std::string& path, bool truncate, bool create, bool text) {
  const DWORD disposition = create ? (truncate ? CREATE_ALWAYS : OPEN_ALWAYS)
                                   : (truncate ? TRUNCATE_EXISTING : OPEN_EXISTING);
  return openHandle(CreateFileW(widen(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr),
                    _O_WRONLY | (text ? _O_TEXT : _O_BINARY), text ? "w" : "wb");
}

FileHandle createNew(const std::string& path) {
  static const bool handled = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
  (void)handled;
  // Shared for deletion, so that the console handler can remove it while it is open.
  return openHandle(CreateFileW(widen(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr),
                    _O_WRONLY | _O_TEXT, "w");
}

void keepPermissions(std::FILE* /*file*/, const FileFacts& /*facts*/) {
  // No POSIX permission bits: the attributes follow as the file replaces the output, and the
  // access rules are the folder's.
}

bool sync(std::FILE* file) {
  return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool truncate(std::FILE* file) {
  return std::fflush(file) == 0 && _chsize_s(_fileno(file), 0) == 0;
}

// Written through, so that the rename is on the disk when the tool reports success.
bool replace(const std::string& from, const std::string& to, const FileFacts& replaced) {
  if (MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0)
    return false;
  // The output is in place; its attributes are a nicety that may fail.
  const bool existed = replaced.kind == FileFacts::Kind::regular && replaced.mode != 0;
  SetFileAttributesW(widen(to).c_str(), existed ? replaced.mode : FILE_ATTRIBUTE_NORMAL);
  return true;
}

bool remove(const std::string& path) {
  return DeleteFileW(widen(path).c_str()) != 0;
}

void guard(const std::string* path, std::FILE* file) {
  guardedPath = path != nullptr ? widen(*path) : std::wstring();
  guardedFile = file;
}

void guardNothing() {
  guardedFile = nullptr;
  guardedPath.clear();
}

} // namespace srec::platform
