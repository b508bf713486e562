/* Preloaded into a tool by the case runner: right after the tool opens the name in SWAP_WHEN,
   SWAP_FROM is renamed to SWAP_TO, as another user might do at that very moment. The file named
   FAIL_READ fails to read (EIO) where it would end, NO_FALLOCATE reserves no space, NO_TMPFILE
   makes no file without a name and NO_ACL sets no access list (EOPNOTSUPP), as some file systems
   do. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failing = -1;

int open(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  va_list rest;
  va_start(rest, flags);
  const int mode = (flags & O_CREAT) != 0 ? va_arg(rest, int) : 0;
  va_end(rest);
  if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "open");
  const int fd = real(path, flags, mode);
  const char* when = getenv("SWAP_WHEN");
  if (when != NULL && strcmp(path, when) == 0) rename(getenv("SWAP_FROM"), getenv("SWAP_TO"));
  if (getenv("FAIL_READ") != NULL && strcmp(path, getenv("FAIL_READ")) == 0) failing = fd;
  return fd;
}

int openat(int folder, const char* path, int flags, ...) {
  static int (*real)(int, const char*, int, ...);
  va_list rest;
  va_start(rest, flags);
  const int mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, int) : 0;
  va_end(rest);
  if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "openat");
  if ((flags & O_TMPFILE) == O_TMPFILE && getenv("NO_TMPFILE")) return errno = EOPNOTSUPP, -1;
  return real(folder, path, flags, mode);
}

ssize_t read(int fd, void* into, size_t size) {
  static ssize_t (*real)(int, void*, size_t);
  if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "read");
  const ssize_t got = real(fd, into, size);
  return got == 0 && fd == failing ? (errno = EIO, -1) : got;
}

int fallocate(int fd, int mode, off_t offset, off_t length) {
  static int (*real)(int, int, off_t, off_t);
  if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "fallocate");
  return getenv("NO_FALLOCATE") ? (errno = EOPNOTSUPP, -1) : real(fd, mode, offset, length);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  static int (*real)(int, const char*, const void*, size_t, int);
  if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "fsetxattr");
  return getenv("NO_ACL") ? (errno = EOPNOTSUPP, -1) : real(fd, name, value, size, flags);
}
