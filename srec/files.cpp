#include "srec/files.hpp"

#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#endif

namespace srec {
namespace {

bool writeAll(std::FILE* stream, std::span<const char> bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

enum class FileKind { regular, directory, other };

#if defined(_WIN32)
FileKind kindOf(std::FILE* file) {
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0) return FileKind::other;
  if ((info.st_mode & _S_IFMT) == _S_IFREG) return FileKind::regular;
  return (info.st_mode & _S_IFMT) == _S_IFDIR ? FileKind::directory : FileKind::other;
}
#else
FileKind kindOf(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) return FileKind::other;
  if (S_ISREG(info.st_mode)) return FileKind::regular;
  return S_ISDIR(info.st_mode) ? FileKind::directory : FileKind::other;
}
#endif

} // namespace

bool InputFile::open(const char* path) {
  file_.reset(std::fopen(path, "rb"));
  if (!file_) return false;
  if (kindOf(file_.get()) == FileKind::directory) {
    file_.reset();
    return false;
  }
  // The reader asks for whole blocks; a second buffer in stdio would only copy them once more.
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  return true;
}

std::optional<std::size_t> InputFile::read(std::span<char> into) {
  const std::size_t got = std::fread(into.data(), 1, into.size(), file_.get());
  if (std::ferror(file_.get()) != 0) return std::nullopt;
  return got;
}

#if defined(_WIN32)
bool InputFile::isSameFile(const char* path) const {
  BY_HANDLE_FILE_INFORMATION input{};
  auto* inputHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_.get())));
  if (!GetFileInformationByHandle(inputHandle, &input)) return false;
  HANDLE other = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION output{};
  const bool known = GetFileInformationByHandle(other, &output) != 0;
  CloseHandle(other);
  return known && input.dwVolumeSerialNumber == output.dwVolumeSerialNumber &&
         input.nFileIndexHigh == output.nFileIndexHigh &&
         input.nFileIndexLow == output.nFileIndexLow;
}
#else
bool InputFile::isSameFile(const char* path) const {
  struct stat input {};
  struct stat output {};
  return fstat(fileno(file_.get()), &input) == 0 && stat(path, &output) == 0 &&
         input.st_dev == output.st_dev && input.st_ino == output.st_ino;
}
#endif

bool OutputFile::open(const char* path) {
  file_.reset(std::fopen(path, "w"));
  if (!file_) return false;
  path_ = path;
  regular_ = kindOf(file_.get()) == FileKind::regular;
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  return true;
}

bool OutputFile::write(std::span<const char> bytes) {
  return writeAll(file_.get(), bytes);
}

bool OutputFile::close() noexcept {
  std::FILE* file = file_.release();
  return file == nullptr || std::fclose(file) == 0;
}

void OutputFile::discard() noexcept {
  close();
  if (regular_) std::remove(path_.c_str());
  regular_ = false;
}

bool StreamSink::write(std::span<const char> bytes) {
  return writeAll(stream_, bytes);
}

} // namespace srec
